"""The vectorised loops' own edges: partial last blocks, every lane of a block holding an edge
position, NaN or infinity, and every way of loading samples (windows, rows, gathers).
Whatever kernels this build dispatches to, vectorised or scalar, must give the reference
bits. Calls of fewer than 64 positions run at most the AVX2 kernels, so the cases that
move edges through blocks take at least 64."""

import numpy as np
import pytest
from helpers import (
    OVERLOADS,
    REFERENCES,
    assert_same_bits,
    each_one_dimensional,
    is_complex,
    random_signal,
)

# Signal lengths around the vector widths (8 and 16 lanes) and their two-vector windows.
LENGTHS = [2, 3, 4, 5, 9, 17, 31, 33, 64, 1001]


def edge_positions(X, n):
    """Positions on and just beside 0, 1, n-2 and n-1, the infinities and NaN."""
    X = np.dtype(X).type

    def below(v):
        return np.nextafter(X(v), X(-np.inf))

    edges = [
        0,
        -0.0,
        below(0),
        1,
        below(1),
        n - 2,
        below(n - 2),
        below(n - 1),
        n - 1,
        np.nextafter(X(n - 1), X(np.inf)),
        np.nan,
        np.inf,
        -np.inf,
        -1,
    ]
    return np.array(edges, X)


def positions_of(rng, X, n, m, layout):
    if layout == "sorted":  # indices of a block inside a short window
        return np.sort(rng.uniform(0, n - 1, m)).astype(X)
    if layout == "scattered":  # lane-by-lane loads
        return rng.uniform(-0.5, n - 0.5, m).astype(X)
    # Sorted, with edge positions, NaN and infinities dropped into random lanes.
    x = np.sort(rng.uniform(0, n - 1, m)).astype(X)
    edges = edge_positions(X, n)
    chosen = rng.random(m) < 0.25
    x[chosen] = rng.choice(edges, chosen.sum())
    return x


@each_one_dimensional
@pytest.mark.parametrize("T,X", OVERLOADS)
@pytest.mark.parametrize("n", LENGTHS)
def test_every_length_and_layout(interp, T, X, n):
    rng = np.random.default_rng(n)
    signal = random_signal(rng, T, n, special_share=0.05)
    for m in range(71):
        for layout in ("sorted", "scattered", "edges"):
            x = positions_of(rng, X, n, m, layout)
            assert_same_bits(interp(signal, x), REFERENCES[interp](signal, x))


@each_one_dimensional
@pytest.mark.parametrize("T,X", OVERLOADS)
def test_each_lane_holds_each_edge(interp, T, X):
    # A block of interior positions with one edge position moved through every lane, in the
    # first block, a middle block and the partial last block.
    rng = np.random.default_rng(7)
    n = 40
    signal = random_signal(rng, T, n, special_share=0.0)
    base = np.sort(rng.uniform(2, n - 3, 70)).astype(X)
    given_fill = 1 + 2j if is_complex(T) else 1.5
    for edge in edge_positions(X, n):
        for lane in range(len(base)):
            x = base.copy()
            x[lane] = edge
            for left, right in ((None, None), (given_fill, -0.0)):
                assert_same_bits(
                    interp(signal, x, left, right), REFERENCES[interp](signal, x, left, right)
                )


@each_one_dimensional
@pytest.mark.parametrize("T,X", OVERLOADS)
def test_window_edges_at_the_signal_end(interp, T, X):
    # Dense sorted positions whose two-vector window would run past the last sample, and
    # blocks whose indices span exactly the window or one more.
    rng = np.random.default_rng(11)
    n = 50
    signal = random_signal(rng, T, n, special_share=0.0)
    for start in np.arange(0, n - 1, 0.75):
        # Spans of a block of 4, 8 or 16 lanes that just fit or just miss a window of twice as
        # many samples: 2 for the linear function's two neighbours, (2 * lanes - 4) /
        # (lanes - 1) for the cubic's four.
        for spacing in (0.01, 0.5, 1.0, 4 / 3, 12 / 7, 1.75, 28 / 15, 2.0, 15 / 7, 3.0):
            x = np.minimum(start + spacing * np.arange(64), n - 1).astype(X)
            assert_same_bits(interp(signal, x), REFERENCES[interp](signal, x))
            x = x[::-1].copy()
            assert_same_bits(interp(signal, x), REFERENCES[interp](signal, x))
