"""Values of velquin_cubic_interp at its worked examples and numeric corner cases."""

import numpy as np
import pytest
from helpers import (
    ELEMENT_TYPES,
    OVERLOADS,
    assert_same_bits,
    cubic_reference,
    guarded_zeros,
    is_complex,
    nan_array,
    random_signal,
    real_type,
)
from velquin_interp import velquin_cubic_interp as cubic
from velquin_interp import velquin_linear_interp as linear


@pytest.mark.parametrize("T,X", OVERLOADS)
def test_worked_examples(T, X):
    bump = np.array([0, 1, 0, 0], T)
    x = np.array([0.5, 1.25, 1.5, 2.5, 3, 2.999], X)
    assert cubic(bump, x).tolist() == [0.5, 0.8671875, 0.5625, 0, 0, 0]
    assert cubic(bump, np.array([3, 2.999], X), None, 7).tolist() == [7, 0]
    line = np.arange(5, dtype=T)
    assert cubic(line, np.array([1.5, 2.25], X)).tolist() == [1.5, 2.25]


@pytest.mark.parametrize("T,X", OVERLOADS)
def test_short_signals(T, X):
    # The cubic of [1, 3, 7, 15] at 1.5 is 4.625; the linear blend there would give 5.
    x = np.array([-0.0, 0.5, 1, 1.5, 2, 2.5, 3], X)
    assert cubic(np.array([1, 3], T), x, -1, 9).tolist() == [1, 2, 9, 9, 9, 9, 9]
    assert cubic(np.array([1, 3, 7], T), x, -1, 9).tolist() == [1, 2, 3, 5, 9, 9, 9]
    assert cubic(np.array([1, 3, 7, 15], T), x, -1, 9).tolist() == [1, 2, 3, 4.625, 7, 11, 9]


@pytest.mark.parametrize("T,X", OVERLOADS)
def test_integer_positions_give_the_samples(T, X):
    signal = random_signal(np.random.default_rng(1), T, 50, special_share=0)
    x = np.arange(50, dtype=X)
    expected = np.append(signal[:-1], T(-3))
    assert_same_bits(cubic(signal, x, None, -3), expected)
    edges = np.array([-np.inf, -1e-30, -0.0, np.inf], X)
    assert cubic(signal, edges, 8, -3).tolist() == [8, 8, signal[0], -3]


@pytest.mark.parametrize("T", [np.complex64, np.complex128])
def test_infinite_sample_makes_imaginary_part_nan(T):
    signal = np.array([complex(np.inf, 0), 1, 2 + 1j, 3, 4], T)
    result = cubic(signal, np.array([-1, 0.5, 1.5, 2.5, 3.5]))
    assert result[0].tobytes() == signal[0].tobytes()  # the default fill, copied
    assert np.isnan(result[1].imag) and np.isnan(result[2].imag)
    # Positions whose samples are all finite are unaffected.
    assert_same_bits(result, cubic_reference(signal, np.array([-1, 0.5, 1.5, 2.5, 3.5])))


@pytest.mark.parametrize("T", ELEMENT_TYPES)
@pytest.mark.parametrize("X", [np.float64, np.float32])
def test_computed_nan_is_the_positive_quiet_nan(T, X):
    # Which NaN operand x86 returns depends on operand order, which compilers choose
    # freely; every build must write the same NaN, and the last interval must equal the
    # linear function there. Fill values keep their bits.
    nan, negative_nan = np.array([np.nan, -np.nan], real_type(T))
    signal = np.array([0, 0, nan, negative_nan, 1, 2], T)
    if is_complex(T):
        signal.imag = [0, negative_nan, 0, nan, 0, 0]
    x = np.array([1.5, 2.5, 3.5, 9], X)
    result = cubic(signal[:4], x[:2])
    assert_same_bits(result, linear(signal[:4], x[:2]))
    assert_same_bits(result, nan_array(T, 2))
    result = cubic(signal, x, None, signal[3])
    assert_same_bits(result[:3], nan_array(T, 3))
    assert result[3].tobytes() == signal[3].tobytes()


@pytest.mark.parametrize("T", ELEMENT_TYPES)
def test_float32_positions_equal_float64_below_2_to_24(T):
    signal = random_signal(np.random.default_rng(2), T, 1000)
    x = np.arange(-8, 8008, dtype=np.float32) / np.float32(8)
    assert_same_bits(cubic(signal, x), cubic(signal, x.astype(np.float64)))


def test_grouping_shows_in_subnormal_products():
    # With u = o = t = 0 and v = 3 * tiny, the sum in A is 3 * tiny. Halving it first rounds
    # to 2 * tiny and A = 2 * tiny cancels B = -2 * tiny; scaling by d = 0.75 first would
    # leave -tiny.
    for T in (np.float32, np.float64):
        tiny = np.finfo(T).smallest_subnormal
        signal = np.array([0, 0, 0, 3 * tiny, 0], T)
        assert cubic(signal, np.array([1.75])).tobytes() == T(0).tobytes()


@pytest.mark.parametrize("T", [np.float32, np.complex128])
@pytest.mark.parametrize("guard", ["before", "after"])
@pytest.mark.parametrize(
    "n,expected",
    # n - 1 = 2**24 + 1 rounds down to the float32 bound 2**24 and the last interval starts
    # at 2**24 - 1, one below n - 2: the last-interval rule reaches back with weight -1.
    [
        (2**24 + 2, [2, -1, -7, -7, -7]),
        # n - 1 = 2**24 + 3 rounds up to 2**24 + 4, and so does the start of the last interval:
        # the position n - 2 = 2**24 + 2 would need s[n] for the cubic, and takes the
        # last-interval rule with weight 0 instead.
        (2**24 + 4, [0, 1, 2, 4, -7]),
    ],
)
def test_rounded_float32_bounds_keep_reads_inside(T, guard, n, expected):
    signal = guarded_zeros(T, n, guard)  # a read past either end kills the process
    signal[:4] = [4, 5, 6, 7]
    signal[-5:] = [1, 2, 3, 4, 9]
    start = np.array([-0.0, 0.5, 1.5, np.nan], np.float32)
    end = np.array([2**24 - 2, 2**24 - 1, 2**24, 2**24 + 2, 2**24 + 4], np.float32)
    positions = np.concatenate([start, end])
    result = cubic(signal, positions, -1, -7)
    assert result[:3].tolist() == [4, 4.5, 5.5]
    assert result[4:].tolist() == expected
    assert_same_bits(result, cubic_reference(signal, positions, -1, -7))


def test_long_signal_uses_wide_indices():
    n = 2**31 + 4  # 8 GiB of untouched pages: only the pages read are ever mapped
    signal = np.zeros(n, np.float32)
    signal[2**31 - 1 :] = [0, 1, 2, 3, 9]
    x = np.array([2**31, 2**31 + 0.5, n - 2.5, n - 2, n - 1.5, n - 1, np.nan])
    result = cubic(signal, x, -7, 7)
    assert result[:6].tolist() == [1, 1.5, 2.1875, 3, 6, 7]
    assert_same_bits(result[6:], nan_array(np.float32, 1))
