/* The floor of a short call, and callgrind's counters for benchmarks/calls.py.
 *
 * floor(signal, x): the least a function of this kind can do through CPython's C API: a
 * fastcall function that checks that it got two C-contiguous one-dimensional float64
 * arrays and returns a new float64 array of x's length (its contents left as allocated).
 *
 * callgrind_zero() and callgrind_dump(name): zero the counts of a process run under
 * `valgrind --tool=callgrind`, and write them to a file of their own named by `name`;
 * elsewhere they do nothing. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>
#include <valgrind/callgrind.h>

static int is_float64_vector(PyObject *object) {
    if (!PyArray_Check(object)) {
        return 0;
    }
    PyArrayObject *array = (PyArrayObject *)object;
    return PyArray_TYPE(array) == NPY_DOUBLE && PyArray_NDIM(array) == 1 &&
           PyArray_IS_C_CONTIGUOUS(array);
}

static PyObject *floor_call(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    (void)self;
    if (nargs != 2 || !is_float64_vector(args[0]) || !is_float64_vector(args[1])) {
        PyErr_SetString(PyExc_TypeError, "floor(signal, x) takes two float64 vectors");
        return NULL;
    }
    npy_intp length = PyArray_DIM((PyArrayObject *)args[1], 0);
    return PyArray_SimpleNew(1, &length, NPY_DOUBLE);
}

static PyObject *callgrind_zero(PyObject *self, PyObject *unused) {
    (void)self;
    (void)unused;
    CALLGRIND_ZERO_STATS;
    Py_RETURN_NONE;
}

static PyObject *callgrind_dump(PyObject *self, PyObject *name) {
    (void)self;
    const char *text = PyUnicode_AsUTF8(name);
    if (text == NULL) {
        return NULL;
    }
    CALLGRIND_DUMP_STATS_AT(text);
    Py_RETURN_NONE;
}

static PyMethodDef methods[] = {
    {"floor", (PyCFunction)(void (*)(void))floor_call, METH_FASTCALL, NULL},
    {"callgrind_zero", callgrind_zero, METH_NOARGS, NULL},
    {"callgrind_dump", callgrind_dump, METH_O, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "call_floor", NULL, -1, methods};

PyMODINIT_FUNC PyInit_call_floor(void) {
    import_array();
    return PyModule_Create(&module);
}
