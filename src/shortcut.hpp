// Calls whose arrays already have exactly the element types of an overload reach it
// without pybind11's overload loop. pybind11's dispatcher tries the overloads in order,
// building a record per overload and looking each keyword up by name per overload; for a
// call of a few hundred positions that costs more than the interpolation itself.
//
// The shortcut takes a call only where pybind11's first pass (no conversion) would bind
// exactly these arguments to exactly this overload, with no code of the caller's run on
// the way: the signal (and, for the one-dimensional functions, the positions) an ndarray,
// not a subclass, of an element type in the machine's byte order (exact_element_type,
// the test the argument casters themselves make), the row position an exact float, each
// argument given once, by position or by its own name, and nothing else. Every other call
// goes to pybind11's dispatcher, unchanged. The overload runs as the dispatcher would run
// it: the same arguments, each held by one reference for the call, and its exceptions
// translated by pybind11's own translation. docs/design.md says what it must match, and
// tests/test_module.py sends every kind of call through both ways and compares.
#pragma once

#include <cstddef>

#include "functions.hpp"

namespace velquin {

template <class T, class X>
using one_dimensional_function = array<T> (*)(array<T>, array<X>, py::object, py::object);
template <class T>
using vertical_function = array<T> (*)(array<T>, number<double>);

struct linear_interp_overloads {
    template <class T, class X>
    static constexpr one_dimensional_function<T, X> function = &velquin_linear_interp<T, X>;
    static constexpr const char* name = linear_interp_name;
};

struct cubic_interp_overloads {
    template <class T, class X>
    static constexpr one_dimensional_function<T, X> function = &velquin_cubic_interp<T, X>;
    static constexpr const char* name = cubic_interp_name;
};

struct vertical_interp_overloads {
    template <class T>
    static constexpr vertical_function<T> function = &velquin_linear_vertical_interp_2d<T>;
    static constexpr const char* name = vertical_interp_name;
};

// The position of an element type in the overload tables below (float32, float64,
// complex64, complex128), or -1.
inline int element_index(int type) {
    switch (type) {
        case numpy_api::NPY_FLOAT_:
            return 0;
        case numpy_api::NPY_DOUBLE_:
            return 1;
        case numpy_api::NPY_CFLOAT_:
            return 2;
        case numpy_api::NPY_CDOUBLE_:
            return 3;
        default:
            return -1;
    }
}

// The position of a position type (float64, float32: registration order), or -1.
inline int position_index(int type) {
    if (type == numpy_api::NPY_DOUBLE_) {
        return 0;
    }
    return type == numpy_api::NPY_FLOAT_ ? 1 : -1;
}

// The arguments' names, in the one-dimensional functions' order (the row function has
// the first two). The names in a call's source are interned strings, so a keyword is
// usually one of these very objects; any other string with the same text is one too.
inline constexpr const char* argument_names[] = {"signal", "x", "left", "right"};
namespace {
PyObject* interned_argument_names[4] = {};
}  // namespace

inline std::size_t argument_slot(PyObject* name, std::size_t first, std::size_t count) {
    for (std::size_t slot = first; slot < count; ++slot) {
        if (name == interned_argument_names[slot]) {
            return slot;
        }
    }
    for (std::size_t slot = first; slot < count; ++slot) {
        if (PyUnicode_CompareWithASCIIString(name, argument_names[slot]) == 0) {
            return slot;
        }
    }
    return count;
}

// The first `count` arguments of a call, in the order of argument_names, each given once,
// by position or by its own name; false if the call names anything else, gives an
// argument twice, gives too many, or leaves out one of the first `required`. Arguments
// left out stay null.
inline bool arguments_by_name(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                              std::size_t count, std::size_t required, PyObject** slots) {
    const auto positional = static_cast<std::size_t>(nargs);
    if (positional > count) {
        return false;
    }
    for (std::size_t slot = 0; slot < count; ++slot) {
        slots[slot] = slot < positional ? args[slot] : nullptr;
    }
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t keyword = 0; keyword < keywords; ++keyword) {
        // A keyword may name only an argument not given by position.
        const std::size_t slot =
            argument_slot(PyTuple_GET_ITEM(kwnames, keyword), positional, count);
        if (slot == count || slots[slot] != nullptr) {
            return false;
        }
        slots[slot] = args[positional + static_cast<std::size_t>(keyword)];
    }
    for (std::size_t slot = 0; slot < required; ++slot) {
        if (slots[slot] == nullptr) {
            return false;
        }
    }
    return true;
}

// Runs an overload as pybind11's dispatcher runs it: its result, or null with the Python
// error its exception translates to.
template <class Call>
PyObject* run_overload(Call call) {
    try {
        return call();
    } catch (py::error_already_set& error) {
        error.restore();
        return nullptr;
#ifdef __GLIBCXX__
    } catch (abi::__forced_unwind&) {
        throw;
#endif
    } catch (...) {
        translate_current_exception();
        return nullptr;
    }
}

// A function of CPython's fast calling convention with keywords, as pybind11's dispatcher
// is and the shortcuts are: `self` is the function's bound object (pybind11's record),
// `nargs` the number of positional arguments, `kwnames` the names of the others.
using fast_function = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames);

// Each function's dispatcher, as pybind11 made it.
namespace {
template <class Overloads>
fast_function dispatcher_of = nullptr;
}  // namespace

template <class Overloads, class T, class X>
PyObject* call_one_dimensional(PyObject* const* slots) {
    return run_overload([slots] {
        return Overloads::template function<T, X>(
                   py::reinterpret_borrow<array<T>>(slots[0]),
                   py::reinterpret_borrow<array<X>>(slots[1]),
                   py::reinterpret_borrow<py::object>(slots[2] != nullptr ? slots[2] : Py_None),
                   py::reinterpret_borrow<py::object>(slots[3] != nullptr ? slots[3] : Py_None))
            .release()
            .ptr();
    });
}

template <class Overloads, class T>
PyObject* call_vertical(PyObject* const* slots) {
    return run_overload([slots] {
        return Overloads::template function<T>(py::reinterpret_borrow<array<T>>(slots[0]),
                                               number<double>{PyFloat_AS_DOUBLE(slots[1])})
            .release()
            .ptr();
    });
}

using exact_call = PyObject* (*)(PyObject* const*);

// Each table is internal to the module file, as every table of dispatch.hpp.
template <class Overloads>
static constexpr exact_call one_dimensional_overloads[4][2] = {
    {
        &call_one_dimensional<Overloads, float, double>,
        &call_one_dimensional<Overloads, float, float>,
    },
    {
        &call_one_dimensional<Overloads, double, double>,
        &call_one_dimensional<Overloads, double, float>,
    },
    {
        &call_one_dimensional<Overloads, complex64, double>,
        &call_one_dimensional<Overloads, complex64, float>,
    },
    {
        &call_one_dimensional<Overloads, complex128, double>,
        &call_one_dimensional<Overloads, complex128, float>,
    },
};

template <class Overloads>
static constexpr exact_call vertical_overloads[4] = {
    &call_vertical<Overloads, float>,
    &call_vertical<Overloads, double>,
    &call_vertical<Overloads, complex64>,
    &call_vertical<Overloads, complex128>,
};

template <class Overloads>
PyObject* one_dimensional_shortcut(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    PyObject* slots[4];
    if (arguments_by_name(args, nargs, kwnames, 4, 2, slots)) {
        const int element = element_index(exact_element_type(slots[0]));
        const int position = position_index(exact_element_type(slots[1]));
        if (element >= 0 && position >= 0) {
            return one_dimensional_overloads<Overloads>[element][position](slots);
        }
    }
    return dispatcher_of<Overloads>(self, args, nargs, kwnames);
}

template <class Overloads>
PyObject* vertical_shortcut(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    PyObject* slots[2];
    if (arguments_by_name(args, nargs, kwnames, 2, 2, slots) && PyFloat_CheckExact(slots[1])) {
        const int element = element_index(exact_element_type(slots[0]));
        if (element >= 0) {
            return vertical_overloads<Overloads>[element](slots);
        }
    }
    return dispatcher_of<Overloads>(self, args, nargs, kwnames);
}

// Puts the shortcut in front of the function's dispatcher. The function object stays the
// one pybind11 made (its name, docstring, signatures and type); only the C function that
// its method definition names, which CPython calls whichever way the function is called,
// is the shortcut, which hands every other call to the dispatcher.
template <class Overloads>
void install_shortcut(py::module_& module, fast_function shortcut) {
    PyObject* function = module.attr(Overloads::name).ptr();
    if (PyCFunction_Check(function) == 0) {
        return;
    }
    PyMethodDef* definition = reinterpret_cast<PyCFunctionObject*>(function)->m_ml;
    if (definition->ml_flags != (METH_FASTCALL | METH_KEYWORDS)) {
        return;
    }
    // CPython keeps a function's C function as a PyCFunction and calls it by its flags.
    dispatcher_of<Overloads> =
        reinterpret_cast<fast_function>(reinterpret_cast<void (*)()>(definition->ml_meth));
    definition->ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(shortcut));
}

inline void install_shortcuts(py::module_& module) {
    for (std::size_t slot = 0; slot < 4; ++slot) {
        interned_argument_names[slot] = PyUnicode_InternFromString(argument_names[slot]);
        if (interned_argument_names[slot] == nullptr) {
            throw py::error_already_set();
        }
    }
    install_shortcut<linear_interp_overloads>(module,
                                              &one_dimensional_shortcut<linear_interp_overloads>);
    install_shortcut<cubic_interp_overloads>(module,
                                             &one_dimensional_shortcut<cubic_interp_overloads>);
    install_shortcut<vertical_interp_overloads>(module,
                                                &vertical_shortcut<vertical_interp_overloads>);
}

}  // namespace velquin
