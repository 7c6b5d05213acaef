"""Values of velquin_linear_interp at its worked examples and numeric corner cases."""

import numpy as np
import pytest
from helpers import OVERLOADS, assert_same_bits, linear_reference
from velquin_interp import velquin_linear_interp as linear


@pytest.mark.parametrize("T,X", OVERLOADS)
def test_worked_examples(T, X):
    signal = np.array([10, 20], T)
    x = np.array([-1, 0, 0.25, 1, 2], X)
    assert linear(signal, x).tolist() == [10, 10, 12.5, 20, 20]
    assert linear(signal, x, -5, 99).tolist() == [-5, 10, 12.5, 99, 99]
    three = np.array([0, 10, 30], T)
    assert linear(three, np.array([0.5, 1.5, 1.75, 2.0], X)).tolist() == [5, 20, 25, 30]


@pytest.mark.parametrize("T,X", OVERLOADS)
def test_fill_values_are_copied_unchanged(T, X):
    # A NaN with a payload survives only a copy, not arithmetic.
    payload_nan = np.array([0x7FF8DEADBEEF0001], np.uint64).view(np.float64)[0]
    signal = np.array([payload_nan, 1, 2, -payload_nan], T)
    result = linear(signal, np.array([-1, 3, 9], X))
    expected = signal[[0, -1, -1]]
    assert result.tobytes() == expected.tobytes()


def test_float32_weight_rounds_to_one():
    signal = np.array([6e7, -0.25], np.float32)
    # The float64 fraction 0.99999999 rounds to the float32 weight 1; the blend then loses
    # s[1] to float32 rounding: (s[1] - s[0]) * 1 + s[0] is 0, not -0.25.
    assert linear(signal, np.array([0.99999999])).tolist() == [0]


@pytest.mark.parametrize(
    "n,expected",
    [
        (2**24 + 2, [2**24 - 2, 2**24 - 1, -1, -1]),  # n - 1 rounds down to the bound 2**24
        (2**24 + 3, [2**24 - 2, 2**24 - 1, 2**24, -1]),
    ],  # n - 1 = 2**24 + 2 is exact
)
def test_float32_positions_round_the_bound(n, expected):
    signal = np.arange(n, dtype=np.float32)
    x = np.array([2**24 - 2, 2**24 - 1, 2**24, 2**24 + 2], np.float32)
    result = linear(signal, x, right=-1)
    assert result.tolist() == expected
    assert_same_bits(result, linear_reference(signal, x, right=-1))


def test_complex_product_is_not_componentwise():
    signal = np.array([0, complex(np.inf, 1), 1 + 2j, 3 + 6j], np.complex128)
    result = linear(signal, np.array([0.5, 2.5]))
    assert np.isinf(result[0].real) and np.isnan(result[0].imag)
    assert result[1] == 2 + 4j


def test_long_signal_uses_wide_indices():
    n = 2**31 + 3  # 8 GiB of untouched pages: only the pages read are ever mapped
    signal = np.zeros(n, np.float32)
    signal[2**31 : 2**31 + 3] = [1, 3, 5]
    x64 = np.array([2**31 - 0.5, 2**31, 2**31 + 0.5, 2**31 + 1.5, n - 1, n, np.nan])
    result = linear(signal, x64, -7, 7)
    assert result[:6].tolist() == [0.5, 1, 2, 4, 7, 7] and np.isnan(result[6])
    # float32 positions: the bound n - 1 rounds to 2**31, so everything from there is filled.
    x32 = np.array([2**31 - 256, 2**31, 2**32], np.float32)
    assert linear(signal, x32, -7, 7).tolist() == [0, 7, 7]
