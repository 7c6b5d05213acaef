"""velquin_linear_vertical_interp_2d: values, checks and dispatch."""

from contextlib import nullcontext

import numpy as np
import pytest
from helpers import (
    CALLERS_ERRORS,
    ELEMENT_TYPES,
    NOT_2D,
    NOT_CONTIGUOUS,
    TOO_FEW_ROWS,
    Raising,
    assert_same_bits,
    guarded_copy,
    is_complex,
    random_signal,
    unaligned_copy,
    vertical_reference,
)
from velquin_interp import velquin_linear_vertical_interp_2d as vertical


def random_rows(rng, T, rows, cols):
    return random_signal(rng, T, rows * cols).reshape(rows, cols)


def positions(rows):
    """Every boundary of the row range, as Python floats."""
    below = [np.nextafter(float(k), -np.inf) for k in range(1, rows)]
    return [
        -np.inf,
        -1.5,
        -1e-300,
        -0.0,
        0.0,
        0.25,
        0.5,
        rows - 1.5,
        *below,
        rows - 1,
        np.nextafter(rows - 1.0, np.inf),
        rows,
        1e300,
        np.inf,
        np.nan,
    ]


@pytest.mark.parametrize("T", ELEMENT_TYPES)
@pytest.mark.parametrize("rows,cols", [(2, 7), (3, 1), (5, 33)])
def test_matches_reference(T, rows, cols):
    signal = random_rows(np.random.default_rng(rows), T, rows, cols)
    for x in positions(rows):
        result = vertical(signal, x)
        assert_same_bits(result, vertical_reference(signal, x))
        if x < 0 or x >= rows - 1:  # end rows are copies: NaN payloads and zero signs kept
            assert result.tobytes() == signal[0 if x < 0 else -1].tobytes()


@pytest.mark.parametrize("T", ELEMENT_TYPES)
def test_worked_examples(T):
    signal = np.array([[1, -2], [3, 4], [7, 10]], T)
    assert vertical(signal, 1.5).tolist() == [5, 7]
    assert vertical(signal, 0.25).tolist() == [1.5, -0.5]
    assert vertical(signal, -0.5).tolist() == [1, -2]
    assert vertical(signal, 2.0).tolist() == [7, 10]
    assert vertical(signal[:2], 1.0).tolist() == [3, 4]


def test_float32_weight_rounds_to_one():
    # Just below 1 the float32 weight is 1: the rows are blended, not row 1 copied, and the
    # blend loses -0.25 to float32 rounding. In float64 the weight stays below 1.
    x = np.nextafter(1.0, 0.0)
    rows = np.array([[6e7], [-0.25], [0]])
    assert vertical(rows.astype(np.float32), x).tolist() == [0]
    assert vertical(rows.astype(np.complex64), x).tolist() == [0]
    assert vertical(rows, x)[0] == (-0.25 - 6e7) * x + 6e7 != -0.25


def test_complex_product_is_not_componentwise():
    signal = np.array([[0], [complex(1, np.inf)]], np.complex128)
    result = vertical(signal, 0.5)[0]
    assert np.isnan(result.real) and result.imag == np.inf
    # At x = 0 the weight is 0, and the infinite difference still makes both parts NaN.
    assert np.isnan(vertical(signal, 0.0)[0].real) and np.isnan(vertical(signal, 0.0)[0].imag)


@pytest.mark.parametrize("T", ELEMENT_TYPES)
@pytest.mark.parametrize("x", [-np.inf, 0.5, np.inf, np.nan])
def test_zero_columns(T, x):
    result = vertical(np.zeros((3, 0), T), x)
    assert result.dtype == T and result.shape == (0,)


FAILURES = {
    "transposed": (np.zeros((3, 2)).T, NOT_CONTIGUOUS),
    "strided 1-d": (np.zeros(8)[::2], NOT_CONTIGUOUS),
    "transposed 3-d": (np.zeros((1, 2, 3)).T, NOT_CONTIGUOUS),
    "1-d": (np.zeros(4), NOT_2D),
    "3-d": (np.zeros((1, 2, 2)), NOT_2D),
    "one row": (np.zeros((1, 4)), TOO_FEW_ROWS),
    "no rows": (np.zeros((0, 4)), TOO_FEW_ROWS),
}


@pytest.mark.parametrize("signal,message", FAILURES.values(), ids=FAILURES.keys())
def test_checks_in_order(signal, message):
    with pytest.raises(RuntimeError) as error:
        vertical(signal, 0.5)
    assert str(error.value) == message


@pytest.mark.parametrize("T", ELEMENT_TYPES)
def test_exact_match_keeps_the_element_type(T):
    signal = np.array([[1, 2], [3, 5]], T) * (1 - 1j if is_complex(T) else 1)
    expected = vertical_reference(signal, 0.75)
    assert_same_bits(vertical(signal, 0.75), expected)
    assert_same_bits(vertical(x=0.75, signal=signal), expected)
    assert_same_bits(vertical(signal, np.float64(0.75)), expected)  # a float subclass
    # A Python int is taken as it is, so a complex signal keeps its imaginary part.
    assert_same_bits(vertical(signal, 1), signal[1])
    assert_same_bits(vertical(signal, 0), vertical(signal, 0.0))
    with pytest.raises(TypeError):  # an int with no float value
        vertical(signal, 10**400)


@pytest.mark.parametrize("T", ELEMENT_TYPES)
def test_numpy_float32_and_integer_scalars_convert_to_float32(T):
    # Not a Python float: no overload takes it as it is, and the converting pass serves the
    # call with the first overload, float32, whatever the signal.
    # A complex signal loses its imaginary part, with NumPy's warning.
    signal = np.array([[1, 2], [3, 5]], T) * (1 - 1j if is_complex(T) else 1)
    with pytest.warns(np.exceptions.ComplexWarning) if is_complex(T) else nullcontext():
        result = vertical(signal, np.float32(0.75))
    assert result.dtype == np.float32 and result.tolist() == [2.5, 4.25]
    with pytest.warns(np.exceptions.ComplexWarning) if is_complex(T) else nullcontext():
        result = vertical(signal, np.int64(1))  # nor is a NumPy integer a Python int
    assert result.dtype == np.float32 and result.tolist() == [3, 5]


@pytest.mark.parametrize("error", [*CALLERS_ERRORS, ValueError])
@pytest.mark.parametrize("argument", ["signal", "x"])
def test_callers_errors_in_conversions_propagate(error, argument):
    # The caller's interrupts and memory errors leave the call as they are; an ordinary
    # failure to convert means no overload takes the argument.
    args = {"signal": np.zeros((2, 2)), "x": 0.5, argument: Raising(error("raised"))}
    with pytest.raises(TypeError if error is ValueError else error):
        vertical(**args)


@pytest.mark.parametrize("T", ELEMENT_TYPES)
@pytest.mark.parametrize("guard", ["before", "after"])
def test_reads_stay_inside_the_signal(T, guard):
    values = random_rows(np.random.default_rng(3), T, 3, 5)
    signal = guarded_copy(values.ravel(), guard).reshape(3, 5)
    huge = [2.0**31, 2.0**32, 2.0**63, 2.0**64, 1e300, np.finfo(np.float64).max]
    for x in [*positions(3), -np.nan, *huge, *(-v for v in huge)]:
        assert_same_bits(vertical(signal, x), vertical_reference(values, x))


@pytest.mark.parametrize("T", ELEMENT_TYPES)
def test_unaligned_read_only_signal(T):
    signal = random_rows(np.random.default_rng(4), T, 3, 9)
    for x in [-1.0, 0.5, 1.75, 2.0]:
        assert vertical(unaligned_copy(signal), x).tobytes() == vertical(signal, x).tobytes()


def test_tall_signals_use_wide_row_indices():
    assert vertical(np.zeros((2**31 + 3, 0)), 2**31 + 0.5).shape == (0,)
    tall = np.zeros((2**31 + 3, 1), np.float32)  # 8 GiB of untouched pages
    tall[2**31 : 2**31 + 2, 0] = [2, 6]
    assert vertical(tall, 2**31 + 0.5).tolist() == [4]
    assert vertical(tall, 2**31 + 2.0).tolist() == [0]
