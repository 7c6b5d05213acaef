"""Shared test helpers: the type lists, input generators and NumPy references."""

import collections
import ctypes
import mmap
import os

import numpy as np
import pytest
import velquin_interp

# Figures of this session's run (examples tried, calls made), printed at its end.
FIGURES = collections.Counter()

ELEMENT_TYPES = [np.float32, np.float64, np.complex64, np.complex128]
POSITION_TYPES = [np.float64, np.float32]
# (element, position) pairs of the one-dimensional functions, in registration order.
OVERLOADS = [(T, X) for X in POSITION_TYPES for T in ELEMENT_TYPES]
# Functions that share the one-dimensional frame, in registration order.
ONE_DIMENSIONAL = [velquin_interp.velquin_linear_interp, velquin_interp.velquin_cubic_interp]
# Runs a test once per one-dimensional function, as its argument `interp`.
each_one_dimensional = pytest.mark.parametrize("interp", ONE_DIMENSIONAL, ids=lambda f: f.__name__)

NOT_CONTIGUOUS = "NDArray must be c contiguous. Warp the NDArray with np.ascontiguousarray"
NOT_1D = "Input arrays must be 1-dimensional"
TOO_SHORT = "Signal must have at least 2 points"
NOT_2D = "Input array must be 2-dimensional"
TOO_FEW_ROWS = "Signal must have at least 2 rows"


class Raising:
    """Raises `error` from every conversion (to an array, a float, a complex or an index),
    every time or only the first `times` times; afterwards it converts to `array`."""

    def __init__(self, error, times=None, array=None):
        self.error, self.times, self.array = error, times, array

    def _raise(self, *args, **kwargs):
        if self.times is None or self.times > 0:
            if self.times is not None:
                self.times -= 1
            raise self.error
        return np.array(self.array)

    __array__ = __float__ = __complex__ = __index__ = _raise


class Escape(BaseException):
    """An exception that is not an Exception, as the caller might define one."""


# Errors of the caller that no conversion may swallow.
CALLERS_ERRORS = [KeyboardInterrupt, SystemExit, MemoryError, Escape]


def cast_message(type_name):
    return (
        f"Unable to cast Python instance of type <class '{type_name}'> to C++ type '?' "
        "(#define PYBIND11_DETAILED_ERROR_MESSAGES or compile in debug mode for details)"
    )


def real_type(T):
    return np.finfo(T).dtype.type


def is_complex(T):
    return np.issubdtype(T, np.complexfloating)


def special_values(R):
    info = np.finfo(R)
    tiny = info.smallest_subnormal
    return np.array(
        [0.0, -0.0, np.inf, -np.inf, np.nan, tiny, -tiny, 3 * tiny, info.max, -info.max], R
    )


def random_signal(rng, T, n, special_share=0.2):
    """Ordinary values mixed with zeros, infinities, NaN, subnormals and extremes."""
    R = real_type(T)

    def component():
        values = (rng.standard_normal(n) * 100).astype(R)
        special = rng.random(n) < special_share
        values[special] = rng.choice(special_values(R), special.sum())
        return values

    if not is_complex(T):
        return component().astype(T)
    signal = np.empty(n, T)
    signal.real, signal.imag = component(), component()
    return signal


def boundary_positions(rng, X, n, count=64):
    """Every boundary of the interpolation range, integers, and random points around it."""
    X = np.dtype(X).type

    def below(v):
        return np.nextafter(X(v), X(-np.inf))

    edges = [
        0,
        -0.0,
        below(0),
        -np.finfo(X).smallest_subnormal,
        -1,
        -np.inf,
        np.inf,
        np.nan,
        n - 2,
        below(n - 1),
        n - 1,
        np.nextafter(X(n - 1), X(np.inf)),
        n,
        1e30,
    ]
    integers = np.arange(n)
    inside = rng.uniform(-1, n, count)
    return np.concatenate([np.array(edges, X), integers.astype(X), inside.astype(X)])


def hostile_positions(X):
    """Positions beyond those of boundary_positions that no rule may turn into a read:
    a negative NaN and huge values of both signs."""
    big = [2.0**31, 2.0**32, 2.0**63, 2.0**64, 1e30, np.finfo(X).max]
    return np.array([-np.nan, *big, *(-v for v in big)], X)


def _mprotect():
    """The C library's mprotect, which POSIX systems have; the guarded tests skip elsewhere."""
    if os.name != "posix":
        pytest.skip("guard pages need mprotect (POSIX)")
    libc = ctypes.CDLL(None, use_errno=True)
    libc.mprotect.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
    return libc.mprotect


def guarded_zeros(dtype, size, guard):
    """A zero array that touches an inaccessible page: right after its last element
    (guard="after") or right before its first (guard="before"). A read past that end of the
    array kills the process instead of returning garbage. Pages never written cost nothing,
    so long signals are cheap."""
    mprotect = _mprotect()
    dtype = np.dtype(dtype)
    nbytes = dtype.itemsize * size
    page = mmap.PAGESIZE
    pages = -(-nbytes // page)
    region = mmap.mmap(-1, (pages + 2) * page)
    start = ctypes.addressof(ctypes.c_char.from_buffer(region))
    for protected in (start, start + (pages + 1) * page):
        if mprotect(protected, page, 0) != 0:  # PROT_NONE
            raise OSError(ctypes.get_errno(), "mprotect failed")
    offset = page if guard == "before" else (pages + 1) * page - nbytes
    return np.frombuffer(region, dtype, count=size, offset=offset)


def guarded_copy(values, guard):
    """A copy of `values` in guarded_zeros."""
    copy = guarded_zeros(values.dtype, values.size, guard)
    copy[...] = values
    return copy


def unaligned_copy(values):
    """The same elements, C-contiguous and read-only, but one byte off their alignment."""
    raw = bytearray(values.nbytes + 1)
    raw[1:] = values.tobytes()
    return np.frombuffer(raw, values.dtype, offset=1).reshape(values.shape)


def fill_value(T, fill, default):
    if fill is None:
        return default
    with np.errstate(over="ignore"):
        return T(fill)


def nan_array(T, size):
    """NaN in every component."""
    return np.full(size, complex(np.nan, np.nan) if is_complex(T) else np.nan, T)


def times_real(values, k):
    """Element times a real weight: for complex values the full product with (k, 0)."""
    if not is_complex(values.dtype):
        return values * k
    zero = k.dtype.type(0)
    product = np.empty(np.broadcast_shapes(np.shape(values), np.shape(k)), values.dtype)
    product.real = values.real * k - values.imag * zero
    product.imag = values.real * zero + values.imag * k
    return product


def canonical_nan(values):
    """Computed values with every NaN component written as the positive quiet NaN."""
    values = np.array(values)
    for part in (values.real, values.imag) if is_complex(values.dtype) else (values,):
        part[np.isnan(part)] = np.nan
    return values


def linear_reference(signal, x, left=None, right=None):
    T, X = signal.dtype.type, x.dtype.type
    bound = X(len(signal) - 1)
    result = nan_array(T, len(x))
    with np.errstate(all="ignore"):
        result[x < 0] = fill_value(T, left, signal[0])
        result[x >= bound] = fill_value(T, right, signal[-1])
        inside = (x >= 0) & (x < bound)
        k = x[inside].astype(np.int64)
        weight = (x[inside] - k.astype(X)).astype(real_type(T))
        result[inside] = canonical_nan(times_real(signal[k + 1] - signal[k], weight) + signal[k])
    return result


def cubic_reference(signal, x, left=None, right=None):
    T, X, R = signal.dtype.type, x.dtype.type, real_type(signal.dtype)
    n = len(signal)
    bound = X(n - 1)
    result = nan_array(T, len(x))
    with np.errstate(all="ignore"):
        result[x < 0] = fill_value(T, left, signal[0])
        result[x >= bound] = fill_value(T, right, signal[-1])
        inside = (x >= 0) & (x < bound)
        i = np.where(inside, x, 0).astype(np.int64)
        d = (x - i.astype(X)).astype(R)
        first = inside & (x < 1)
        # i = n - 2 below the rounded last-interval start (float32 positions on signals
        # longer than 2**24 + 1) takes the last-interval rule, as the cubic would need s[n].
        last = inside & ~first & ((x >= bound - X(1)) | (i >= n - 2))
        middle = inside & ~first & ~last
        result[first] = canonical_nan(times_real(signal[1] - signal[0], d[first]) + signal[0])
        w = (x[last] - X(n - 2)).astype(R)
        result[last] = canonical_nan(times_real(signal[-1] - signal[-2], w) + signal[-2])
        i, d = i[middle], d[middle]
        u, o, t, v = signal[i - 1], signal[i], signal[i + 1], signal[i + 2]
        half = R(0.5)
        a = times_real(times_real(((v - times_real(t, R(3))) + times_real(o, R(3))) - u, half), d)
        b = times_real(
            ((times_real(t, R(4)) - v) - times_real(o, R(5))) + times_real(u, R(2)), half
        )
        g = times_real(t - u, half)
        result[middle] = canonical_nan(times_real(times_real(a + b, d) + g, d) + o)
    return result


def vertical_reference(signal, x):
    T, R = signal.dtype.type, real_type(signal.dtype)
    rows = signal.shape[0]
    if x < 0:
        return signal[0].copy()
    if x >= rows - 1:
        return signal[-1].copy()
    if np.isnan(x):
        return nan_array(T, signal.shape[1])
    c = int(x)
    with np.errstate(all="ignore"):
        return canonical_nan(times_real(signal[c + 1] - signal[c], R(x - c)) + signal[c])


REFERENCES = {
    velquin_interp.velquin_linear_interp: linear_reference,
    velquin_interp.velquin_cubic_interp: cubic_reference,
}


def snapshot(obj):
    """What a call must not change: an array's layout and bytes, or any other object's repr."""
    if isinstance(obj, np.ndarray):
        return (
            type(obj),
            obj.dtype,
            obj.shape,
            obj.strides,
            obj.flags.writeable,
            np.asarray(obj).tobytes(),
        )
    return type(obj), repr(obj)


def assert_same_bits(actual, expected):
    """Equal dtype, shape and bits, NaN signs and payloads included."""
    assert actual.dtype == expected.dtype
    assert actual.shape == expected.shape
    R = real_type(expected.dtype)
    a, e = actual.view(R), expected.view(R)
    bits = f"u{a.itemsize}"
    bad = np.flatnonzero(a.view(bits) != e.view(bits))
    assert bad.size == 0, (
        f"components {bad[:5]}: got {a.view(bits)[bad[:5]]}, expected {e.view(bits)[bad[:5]]}"
    )
