"""Arbitrary inputs of every kind: each call gives the documented error or the reference
result, bit for bit, and leaves its inputs as they were.

The expected outcome comes from a model of the call written from the documented rules:
the dispatcher's two passes over the overloads in registration order (exact dtype match,
then NumPy's forced conversion), the frame's checks in order, and the fill values
converted through the same C API calls that the binding library makes."""

import ctypes
import decimal
import fractions
import warnings

import numpy as np
import pytest
from helpers import (
    ELEMENT_TYPES,
    FIGURES,
    NOT_1D,
    NOT_2D,
    NOT_CONTIGUOUS,
    OVERLOADS,
    REFERENCES,
    TOO_FEW_ROWS,
    TOO_SHORT,
    assert_same_bits,
    cast_message,
    each_one_dimensional,
    is_complex,
    snapshot,
    unaligned_copy,
    vertical_reference,
)
from hypothesis import event, given
from hypothesis import strategies as st
from velquin_interp import velquin_linear_vertical_interp_2d as vertical


class Sub(np.ndarray):
    """An array subclass: accepted as it is, read through its buffer."""


class FloatRaises:
    def __float__(self):
        raise ValueError("no float for you")


class FloatReturnsText:
    def __float__(self):
        return "1.5"


class IndexOnly:
    def __index__(self):
        return 7


class ComplexOnly:
    def __complex__(self):
        return 2 - 3j


class ComplexRaises:
    def __complex__(self):
        raise ArithmeticError("no complex either")


# --- The model --------------------------------------------------------------------------


class _PyComplex(ctypes.Structure):
    _fields_ = [("real", ctypes.c_double), ("imag", ctypes.c_double)]


def _capi(name, restype, *argtypes):
    function = getattr(ctypes.pythonapi, name)
    function.restype, function.argtypes = restype, list(argtypes)
    return function  # raises the pending Python error after a failed call


_as_double = _capi("PyFloat_AsDouble", ctypes.c_double, ctypes.py_object)
_as_complex = _capi("PyComplex_AsCComplex", _PyComplex, ctypes.py_object)
_is_number = _capi("PyNumber_Check", ctypes.c_int, ctypes.py_object)
_to_float = _capi("PyNumber_Float", ctypes.py_object, ctypes.py_object)


class Refused(Exception):
    """The model's verdict: this call fails with `error` and `message`."""

    def __init__(self, error, message):
        self.error, self.message = error, message


def cast_error(obj):
    return Refused(RuntimeError, cast_message(str(type(obj))[len("<class '") : -len("'>")]))


def plain_double(obj):
    try:
        return _as_double(obj)
    except Exception:
        return None


def to_double(obj):
    """The binding library's conversion of an object to double, conversions allowed: the
    object's float value, retried through float() for numbers; None when it fails."""
    try:
        return _as_double(obj)
    except Exception:
        if not _is_number(obj):
            return None
        try:
            return _as_double(_to_float(obj))
        except Exception:
            return None


def to_element(obj, T):
    """A fill value object converted to the element type T."""
    with np.errstate(over="ignore"):
        if is_complex(T):
            try:
                value = _as_complex(obj)
            except Exception:
                raise cast_error(obj) from None
            return T(complex(value.real, value.imag))
        value = to_double(obj)
        if value is None:
            raise cast_error(obj)
        return T(value)


def exact(obj, T):
    return isinstance(obj, np.ndarray) and np.can_cast(obj.dtype, T, casting="no")


def converted(obj, T):
    """NumPy's forced conversion of an argument to an array of T, or None."""
    try:
        return np.asarray(obj, dtype=T)
    except Exception:
        return None


def dispatch(name, loaders):
    """The overload that serves the call: `loaders` gives, per overload, a function of the
    pass (exact or converting) that returns its loaded arguments or None."""
    for exact_pass in (True, False):
        for key, load in loaders:
            arguments = load(exact_pass)
            if arguments is not None:
                return key, arguments
    raise Refused(TypeError, f"{name}(): incompatible function arguments.")


def expected_one_dimensional(interp, signal, x, left, right):
    def loader(T, X):
        def load(exact_pass):
            if exact_pass:
                return (signal, x) if exact(signal, T) and exact(x, X) else None
            loaded = converted(signal, T), converted(x, X)
            return None if any(a is None for a in loaded) else loaded

        return (T, X), load

    (T, _), loaded = dispatch(interp.__name__, [loader(T, X) for T, X in OVERLOADS])
    s, p = map(np.asarray, loaded)  # the buffers that the function reads, without subclass
    if not (s.flags.c_contiguous and p.flags.c_contiguous):
        raise Refused(RuntimeError, NOT_CONTIGUOUS)
    if s.ndim != 1 or p.ndim != 1:
        raise Refused(RuntimeError, NOT_1D)
    if s.size < 2:
        raise Refused(RuntimeError, TOO_SHORT)
    left_fill = s[0] if left is None else to_element(left, T)
    right_fill = s[-1] if right is None else to_element(right, T)
    return REFERENCES[interp](s, p, left_fill, right_fill)


def expected_vertical(signal, x):
    def loader(T):
        def load(exact_pass):
            if exact_pass:
                # Without conversion only Python floats and ints (and subclasses) load.
                row = plain_double(x) if isinstance(x, float | int) else None
                return (signal, row) if exact(signal, T) and row is not None else None
            loaded = converted(signal, T), to_double(x)
            return None if any(a is None for a in loaded) else loaded

        return T, load

    _, (loaded, row) = dispatch(vertical.__name__, [loader(T) for T in ELEMENT_TYPES])
    s = np.asarray(loaded)
    if not s.flags.c_contiguous:
        raise Refused(RuntimeError, NOT_CONTIGUOUS)
    if s.ndim != 2:
        raise Refused(RuntimeError, NOT_2D)
    if s.shape[0] < 2:
        raise Refused(RuntimeError, TOO_FEW_ROWS)
    return vertical_reference(s, row)


# --- The inputs -------------------------------------------------------------------------

# Repeats weight the draws towards inputs that reach the kernels.
OTHER_DTYPES = [">f4", ">f8", ">c8", ">c16", "f2", "i1", "i8", "u8", "?", "O"]
SIGNAL_DTYPES = ["f4", "f8", "c8", "c16"] * 3 + OTHER_DTYPES
POSITION_DTYPES = ["f4", "f8"] * 6 + OTHER_DTYPES
LAYOUTS = ["plain"] * 4 + [
    "read-only",
    "subclass",
    "masked",
    "unaligned",
    "fortran",
    "strided",
    "reversed",
]
SPECIAL_NUMBERS = [
    0.0,
    -0.0,
    np.nan,
    -np.nan,
    np.inf,
    -np.inf,
    5e-324,
    -5e-324,
    1e-45,
    1.7976931348623157e308,
    3.4028235e38,
    2.0**24,
    2.0**31,
    2.0**63,
    1e30,
]

numbers = st.one_of(
    st.floats(-3, 30),
    st.integers(-3, 30),
    st.sampled_from(SPECIAL_NUMBERS + [-v for v in SPECIAL_NUMBERS]),
    st.floats(),
)
complex_numbers = st.builds(complex, numbers, numbers)


def values_of(dtype):
    kind = np.dtype(dtype).kind
    if kind in "iu":
        info = np.iinfo(dtype)
        return st.integers(int(info.min), int(info.max))
    if kind == "b":
        return st.booleans()
    if kind == "O":
        return st.one_of(numbers, complex_numbers, st.just("text"))
    return complex_numbers if kind == "c" else numbers


@st.composite
def arrays(draw, shapes, dtypes=SIGNAL_DTYPES):
    dtype = np.dtype(draw(st.sampled_from(dtypes)))
    shape = draw(shapes)
    size = int(np.prod(shape))
    values = draw(st.lists(values_of(dtype), min_size=size, max_size=size))
    array = np.empty(size, dtype)
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore")
        for index, value in enumerate(values):
            real_only = isinstance(value, complex) and dtype.kind not in "cO"
            array[index] = value.real if real_only else value
    array = array.reshape(shape)
    layout = draw(st.sampled_from(LAYOUTS))
    if layout == "fortran":
        return np.asfortranarray(array)
    if layout == "strided" and array.ndim:
        wide = np.empty((*array.shape[:-1], 2 * array.shape[-1]), dtype)
        wide[..., ::2] = array
        return wide[..., ::2]
    if layout == "reversed" and array.ndim:
        return array[..., ::-1]
    if layout == "read-only":
        array.setflags(write=False)
    if layout == "subclass":
        return array.view(Sub)
    if layout == "masked":
        return np.ma.masked_array(array, mask=draw(st.booleans()))
    if layout == "unaligned" and dtype.kind != "O":
        return unaligned_copy(array)
    return array


def weighted(*pairs):
    """One of the strategies, each drawn with its given weight."""
    return st.sampled_from([s for weight, s in pairs for _ in range(weight)]).flatmap(
        lambda strategy: strategy
    )


def tuples(values):
    return tuple(map(tuples, values)) if isinstance(values, list) else values


def array_likes(shapes, dtypes=SIGNAL_DTYPES):
    """Mostly arrays of every kind and layout; also nested lists and tuples of their values,
    scalars of Python and NumPy, and objects that are no numbers at all."""
    some_array = arrays(shapes, dtypes)
    return weighted(
        (20, some_array),
        (1, some_array.map(lambda a: np.asarray(a).tolist())),
        (1, some_array.map(lambda a: tuples(np.asarray(a).tolist()))),
        (1, arrays(st.just(()), dtypes).map(lambda a: np.asarray(a)[()])),
        (1, st.one_of(numbers, complex_numbers)),
        (1, st.sampled_from([None, "1.5", "abc", b"2", {}, object()])),
    )


def dims(high):
    return st.integers(0, high)


def shapes(usual):
    return weighted(
        (16, usual),
        (1, st.just(())),
        (1, st.tuples(dims(24))),
        (1, st.tuples(dims(4), dims(4))),
        (1, st.tuples(dims(3), dims(3), dims(3))),
    )


one_dimensional_shapes = shapes(st.tuples(dims(24)))
two_dimensional_shapes = shapes(st.tuples(dims(6), dims(8)))

fills = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(-3, 3),
    st.sampled_from([2**64, 10**400, -(10**400)]),
    numbers,
    complex_numbers,
    st.sampled_from(
        [
            np.float16(1.5),
            np.float32(-2.25),
            np.float64(np.nan),
            np.int8(-4),
            np.uint64(2**64 - 1),
            np.bool_(True),
            np.complex64(1 - 1j),
            np.complex128(np.inf),
            np.array(3.0),
            np.array([4.0]),
            np.array([1, 2]),
            fractions.Fraction(1, 3),
            decimal.Decimal("0.1"),
            decimal.Decimal("nan"),
            FloatRaises(),
            FloatReturnsText(),
            IndexOnly(),
            ComplexOnly(),
            ComplexRaises(),
            "1.5",
            b"1",
            [1.0],
            (2.0,),
            {},
            object(),
            print,
        ]
    ),
)


# --- The properties ---------------------------------------------------------------------


def check_call(function, expected_of, *args, **kwargs):
    FIGURES[f"property-based examples: {function.__name__}"] += 1
    before = [snapshot(a) for a in (*args, *kwargs.values())]
    # NumPy's forced conversion may drop imaginary parts; the warning is not the point here.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", np.exceptions.ComplexWarning)
        try:
            expected = expected_of(*args, **kwargs)
        except Refused as refused:
            event(f"{refused.error.__name__}: {refused.message[:40]}")
            with pytest.raises(refused.error) as raised:
                function(*args, **kwargs)
            message = str(raised.value)
            assert message == refused.message or (
                refused.error is TypeError and message.startswith(refused.message)
            )
        else:
            event(f"result of {expected.dtype}")
            assert_same_bits(function(*args, **kwargs), expected)
    assert [snapshot(a) for a in (*args, *kwargs.values())] == before


@each_one_dimensional
@given(
    signal=array_likes(one_dimensional_shapes),
    x=array_likes(one_dimensional_shapes, POSITION_DTYPES),
    left=fills,
    right=fills,
    fills_by=st.sampled_from(["position", "keyword", "omitted"]),
)
def test_any_input_gives_reference_or_documented_error(interp, signal, x, left, right, fills_by):
    def expected(signal, x, left=None, right=None):
        return expected_one_dimensional(interp, signal, x, left, right)

    if fills_by == "position":
        check_call(interp, expected, signal, x, left, right)
    elif fills_by == "keyword":
        check_call(interp, expected, signal, x, right=right, left=left)
    else:
        check_call(interp, expected, signal, x)


@given(
    signal=array_likes(two_dimensional_shapes),
    x=st.one_of(st.floats(-1, 7), numbers, st.integers(-(2**70), 2**70), fills),
)
def test_any_vertical_input_gives_reference_or_documented_error(signal, x):
    check_call(vertical, expected_vertical, signal, x)
