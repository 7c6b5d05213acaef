"""Checks, their order and messages, fill values and input safety of the one-dimensional frame."""

import sys
import warnings

import numpy as np
import pytest
from helpers import (
    CALLERS_ERRORS,
    ELEMENT_TYPES,
    NOT_1D,
    NOT_CONTIGUOUS,
    REFERENCES,
    TOO_SHORT,
    Raising,
    assert_same_bits,
    cast_message,
    each_one_dimensional,
    is_complex,
    real_type,
    unaligned_copy,
)

pytestmark = each_one_dimensional

OK_SIGNAL = np.arange(4.0)
OK_X = np.array([0.5, 1.5])

# Each case breaks its own check and every later one, so only the order picks the message.
FAILURES = {
    "strided signal": ((np.arange(8.0)[::2], OK_X), NOT_CONTIGUOUS),
    "strided positions": ((OK_SIGNAL, np.arange(4.0)[::2]), NOT_CONTIGUOUS),
    "strided signal before dimensions": (
        (np.zeros((2, 3)).T, np.zeros((2, 2)), "s"),
        NOT_CONTIGUOUS,
    ),
    "fortran positions": ((OK_SIGNAL, np.zeros((2, 3), order="F")), NOT_CONTIGUOUS),
    "2-d signal": ((np.zeros((1, 1)), OK_X, "s"), NOT_1D),
    "2-d positions": ((OK_SIGNAL, np.zeros((1, 2))), NOT_1D),
    "scalar position": ((OK_SIGNAL, 0.5), NOT_1D),
    "empty signal": ((np.zeros(0), OK_X, "s"), TOO_SHORT),
    "one sample": ((np.zeros(1), np.zeros(0), "s", "s"), TOO_SHORT),
    "left before right": ((OK_SIGNAL, OK_X, "s", [1]), cast_message("str")),
    "right": ((OK_SIGNAL, OK_X, None, [1]), cast_message("list")),
    "right with empty positions": ((OK_SIGNAL, np.zeros(0), 1, "s"), cast_message("str")),
    "complex fill on real signal": ((OK_SIGNAL, np.zeros(0), 1j), cast_message("complex")),
    "int beyond the float range": ((OK_SIGNAL, OK_X, None, 10**400), cast_message("int")),
}


@pytest.mark.parametrize("args,message", FAILURES.values(), ids=FAILURES.keys())
def test_checks_in_order(interp, args, message):
    with pytest.raises(RuntimeError) as error:
        interp(*args)
    assert str(error.value) == message


@pytest.mark.parametrize("T", ELEMENT_TYPES)
def test_fill_value_conversions(interp, T):
    signal = np.array([5, 6, 7], T)
    x = np.array([-1.0, 2.0])
    assert interp(signal, x, None, None).tolist() == [5, 7]
    assert interp(signal, x, True, 3).tolist() == [1, 3]
    with np.errstate(over="ignore"):
        assert interp(signal, x, 0.1, 1e300).tolist() == [T(0.1), T(1e300)]
    # A Python int goes through a double: for float32 it is rounded twice, to 2**60 here,
    # where rounding once would give the next float32 up.
    big = 2**60 + 2**36 + 1
    assert interp(signal, x, None, big)[1] == T(float(big))
    assert (interp(signal, x, None, big)[1] == 2**60) == (real_type(T) is np.float32)
    if is_complex(T):
        assert interp(signal, x, 1 + 2j, 2).tolist() == [T(1 + 2j), 2 + 0j]
    else:
        with pytest.raises(RuntimeError, match="<class 'complex'>"):
            interp(signal, np.zeros(0), None, 1 + 2j)
        # NumPy's complex scalars convert like NumPy converts them: real part, with a warning.
        with pytest.warns(np.exceptions.ComplexWarning):
            assert interp(signal, x, np.complex128(1 + 2j)).tolist() == [1, 7]


@pytest.mark.parametrize("T", ELEMENT_TYPES)
def test_unaligned_and_read_only_buffers(interp, T):
    signal = np.array([1, -2, 4, 8], T)
    x = np.linspace(-1, 4, 11)
    expected = interp(signal, x, 0.5, 9)
    result = interp(unaligned_copy(signal), unaligned_copy(x), 0.5, 9)
    assert result.tobytes() == expected.tobytes()


@pytest.mark.parametrize("T", ELEMENT_TYPES)
def test_empty_positions_give_empty_result(interp, T):
    result = interp(np.ones(2, T), np.zeros(0, np.float32))
    assert result.dtype == T and result.shape == (0,)


def test_inputs_untouched_and_references_released(interp):
    signal, x, left, right = np.arange(5.0), np.linspace(-1, 5, 13), 1.5, 2.5
    signal_bytes, x_bytes = signal.tobytes(), x.tobytes()

    def call_many_times():
        for _ in range(2000):
            interp(signal, x, left, right)
            interp(signal, x.astype(np.float32))
            for bad in [(signal, x, "s"), (signal[::2], x), (signal, x, left, 1j), (signal[:1], x)]:
                with pytest.raises(RuntimeError):
                    interp(*bad)
            with pytest.raises(TypeError):
                interp(signal, x, left, right, None)

    counts = [sys.getrefcount(obj) for obj in (signal, x, left, right)]
    call_many_times()
    assert [sys.getrefcount(obj) for obj in (signal, x, left, right)] == counts
    assert signal.tobytes() == signal_bytes and x.tobytes() == x_bytes


ARRAYS_CHANGED = "input arrays changed while the fill values were converted"


class Sub(np.ndarray):
    pass


# How the caller holds an input that the module reads, and the array whose resize frees
# that input's memory: the input itself, the array it views, a subclass instance (the module
# reads a plain view of it), an array exported through a memoryview, or through many.
HOLDERS = {
    "owner": lambda owner: (owner, owner),
    "view": lambda owner: (owner[:], owner),
    "subclass": lambda owner: (owner.view(Sub).copy(), None),
    "memoryview": lambda owner: (np.frombuffer(memoryview(owner), owner.dtype), owner),
    "nine views deep": lambda owner: (deep_view(owner, 9), owner),
}


def deep_view(owner, depth):
    """An array made from `owner` through `depth` memoryviews, each of the array before."""
    view = owner
    for _ in range(depth):
        view = np.frombuffer(memoryview(view), owner.dtype)
    return view


@pytest.mark.parametrize("holder", HOLDERS)
@pytest.mark.parametrize("target", ["signal", "x"])
@pytest.mark.parametrize("fill", ["left", "right"])
@pytest.mark.parametrize("T", [np.float64, np.complex64])
def test_fill_conversion_that_resizes_an_input_raises(interp, holder, target, fill, T):
    # The caller's conversion code may resize (and so free) the memory the call reads;
    # large arrays are unmapped when freed, so a read of the old buffer would crash.
    n = 10**6
    # Arrays that own their memory: resize() refuses views.
    owners = {"signal": np.arange(n).astype(T), "x": np.linspace(-2, n + 1, n).copy()}
    arrays = dict(owners)
    arrays[target], resized = HOLDERS[holder](owners[target])
    if resized is None:
        resized = arrays[target]

    class Resizing:
        def __float__(self):
            resized.resize(2, refcheck=False)
            return 0.0

        def __complex__(self):
            return complex(self.__float__())

    with pytest.raises(RuntimeError) as error:
        interp(arrays["signal"], arrays["x"], **{fill: Resizing()})
    assert str(error.value) == ARRAYS_CHANGED
    # A conversion that leaves the arrays alone is an ordinary call.
    arrays[target], _ = HOLDERS[holder](owners[target].copy())
    signal, x = (np.asarray(arrays[name]) for name in ("signal", "x"))
    assert_same_bits(
        interp(arrays["signal"], arrays["x"], **{fill: 0.5}),
        REFERENCES[interp](signal, x, **{fill: 0.5}),
    )


@pytest.mark.parametrize("target", ["signal", "x"])
def test_fill_conversion_that_retypes_an_input_reads_the_same_bytes(interp, target):
    # A new dtype over the same buffer changes the element count but not the bytes read.
    arrays = {"signal": np.array([1.0, 2.0, 3.0, 4.0]), "x": np.array([-1.0, 0.5, 2.5, 3.0])}
    expected = interp(arrays["signal"], arrays["x"], 9.0)

    class Retyping:
        def __float__(self):
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)
                arrays[target].dtype = np.float32 if target == "signal" else np.complex128
            return 9.0

    assert_same_bits(interp(arrays["signal"], arrays["x"], Retyping()), expected)


def test_default_fill_is_read_before_the_other_fill_converts(interp):
    signal = np.array([1.0, 2.0, 3.0, 4.0])

    class Writing:
        def __init__(self, index):
            self.index = index

        def __float__(self):
            signal[self.index] = 100.0
            return 9.0

    x = np.array([-1.0, 4.0])
    assert interp(signal, x, None, Writing(0)).tolist() == [1.0, 9.0]
    assert interp(signal, x, Writing(-1), None).tolist() == [9.0, 100.0]


@pytest.mark.parametrize("error", CALLERS_ERRORS)
@pytest.mark.parametrize("argument", ["signal", "x", "left", "right"])
def test_callers_errors_in_conversions_propagate(interp, error, argument):
    args = {"signal": np.arange(4.0), "x": np.array([0.5]), "left": None, "right": None}
    args[argument] = Raising(error("raised by the caller"))
    with pytest.raises(error, match="raised by the caller"):
        interp(**args)
    # Raised once, then converting: the interrupted call must not be served by an overload
    # further down, as if nothing had happened.
    args[argument] = Raising(error(), times=1, array=[1.0, 2.0, 4.0])
    with pytest.raises(error):
        interp(**args)


@pytest.mark.parametrize("argument", ["signal", "x", "left", "right"])
def test_ordinary_conversion_errors_keep_their_outcome(interp, argument):
    args = {"signal": np.arange(4.0), "x": np.array([0.5]), "left": None, "right": None}
    args[argument] = Raising(ValueError())
    outcome = TypeError if argument in ("signal", "x") else RuntimeError
    with pytest.raises(outcome):
        interp(**args)
    # An array conversion that fails once goes to the next overload that converts.
    if argument == "signal":
        once = Raising(ValueError(), times=1, array=[1.0, 2.0, 4.0])
        assert interp(once, [0.5]).dtype == np.float64
        assert interp(Raising(ValueError(), times=0, array=[1.0, 2.0]), [0.5]).dtype == np.float32


def test_memory_error_does_not_select_another_overload(interp):
    # With no room for the float64 copy of the positions, the float32-positions overload
    # would serve the call, and round the bound n - 1 = 2**24 + 1 down to 2**24.
    signal = np.arange(2**24 + 2, dtype=np.int32)

    class NoRoomForFloat64:
        def __array__(self, dtype=None, copy=None):
            if dtype == np.float64:
                raise MemoryError("no room for the float64 copy")
            return np.array([2**24], dtype or np.float32)

    assert interp(signal, np.array([2**24], np.float32).astype(np.float64), None, -1)[0] == 2**24
    with pytest.raises(MemoryError, match="no room"):
        interp(signal, NoRoomForFloat64(), None, -1)


def test_allocation_beyond_memory_raises_memory_error(interp):
    # 2**40 int8 ones that take no memory, converted to 4 TiB of float32.
    with pytest.raises(MemoryError):
        interp(np.broadcast_to(np.int8(1), 2**40), [0.5])
