"""Every one-dimensional function against its NumPy reference, bit for bit."""

import numpy as np
import pytest
from helpers import (
    OVERLOADS,
    REFERENCES,
    assert_same_bits,
    boundary_positions,
    each_one_dimensional,
    guarded_copy,
    hostile_positions,
    is_complex,
    random_signal,
)

FILLS = [(None, None), (3, 0.1), (True, 1e300), (-np.inf, np.nan)]
COMPLEX_FILLS = [(1 + 2j, -0.5j), (complex(np.inf, 1), 2)]
CASES = [
    (T, X, *fills)
    for T, X in OVERLOADS
    for fills in FILLS + (COMPLEX_FILLS if is_complex(T) else [])
]

pytestmark = each_one_dimensional


@pytest.mark.parametrize("T,X,left,right", CASES)
@pytest.mark.parametrize("n", [2, 3, 4, 5, 17, 1000])
def test_matches_reference(interp, T, X, n, left, right):
    rng = np.random.default_rng(n)
    for _ in range(5):
        signal = random_signal(rng, T, n)
        x = boundary_positions(rng, X, n)
        expected = REFERENCES[interp](signal, x, left, right)
        assert_same_bits(interp(signal, x, left, right), expected)


@pytest.mark.parametrize("T,X", OVERLOADS)
@pytest.mark.parametrize("guard", ["before", "after"])
@pytest.mark.parametrize("n", [2, 3, 4, 1001])
def test_reads_stay_inside_the_signal(interp, T, X, guard, n):
    rng = np.random.default_rng(n)
    signal = guarded_copy(random_signal(rng, T, n), guard)
    # The positions sit against a guard page too: the loop must stop at their end.
    x = guarded_copy(np.concatenate([hostile_positions(X), boundary_positions(rng, X, n)]), guard)
    assert_same_bits(interp(signal, x, 5, 7), REFERENCES[interp](signal, x, 5, 7))
