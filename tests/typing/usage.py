"""Checked by mypy --strict and pyright against the installed stubs: each assert_type is the
type a caller sees. The functions at the end are never called: they hold the calls that a
type checker must reject."""

from typing import Any, cast

import numpy as np
from numpy.typing import NDArray
from typing_extensions import assert_type
from velquin_interp import (
    velquin_cubic_interp,
    velquin_linear_interp,
    velquin_linear_vertical_interp_2d,
)

Converted = NDArray[np.float32] | NDArray[np.complex64]

positions64 = np.zeros(7, np.float64)
positions32 = np.zeros(7, np.float32)
positions_int = np.zeros(7, np.int64)
signal64 = np.zeros(4, np.float64)
signal32 = np.zeros(4, np.float32)
signal_c64 = np.zeros(4, np.complex64)
signal_c128 = np.zeros(4, np.complex128)

assert_type(velquin_linear_interp(signal64, positions64), NDArray[np.float64])
assert_type(velquin_linear_interp(signal_c64, positions64), NDArray[np.complex64])
assert_type(velquin_linear_interp(signal32, positions32), NDArray[np.float32])
assert_type(
    velquin_linear_interp(signal_c128, positions32, left=0, right=1j), NDArray[np.complex128]
)
assert_type(velquin_cubic_interp(signal64, positions32), NDArray[np.float64])
assert_type(velquin_cubic_interp(signal_c64, positions64, None, None), NDArray[np.complex64])
assert_type(
    velquin_linear_interp(signal32, positions64, np.float32(-1), right=True), NDArray[np.float32]
)

# No exact match: the module converts, for float32 (complex64 for complex lists).
assert_type(velquin_linear_interp([1.0, 2.0], [0.5]), Converted)
assert_type(velquin_linear_interp([1j, 2j], [0.5]), Converted)
assert_type(velquin_cubic_interp(signal64, positions_int), NDArray[np.float32])

# Most ufuncs type their result as an array of unknown dtype: so is ours, and it takes the
# type of the array the module returns (here float64). The checkers, and NumPy versions,
# differ in how they spell that unknown type, so the checks are assignments.
y: NDArray[np.float64] = velquin_cubic_interp(np.sin(np.arange(100.0)), np.linspace(0.0, 98.0, 50))
from_exp: NDArray[np.float64] = velquin_linear_interp(np.exp(signal64), positions64)
from_exp32: NDArray[np.float32] = velquin_linear_interp(np.exp(signal32), positions64)
from_floor: NDArray[np.float64] = velquin_linear_interp(signal64, np.floor(positions64))
floating = cast("NDArray[np.floating[Any]]", signal64)
from_floating: NDArray[np.float64] = velquin_cubic_interp(floating, positions64)
inexact = cast("NDArray[np.inexact[Any]]", signal_c128)
from_inexact: NDArray[np.complex128] = velquin_linear_interp(inexact, positions32, left=1j)

rows64 = np.zeros((3, 5), np.float64)
rows_c64 = np.zeros((3, 5), np.complex64)
assert_type(velquin_linear_vertical_interp_2d(rows64, 0.5), NDArray[np.float64])
assert_type(velquin_linear_vertical_interp_2d(rows64, np.float64(0.5)), NDArray[np.float64])
assert_type(velquin_linear_vertical_interp_2d(rows_c64, 1.5), NDArray[np.complex64])
assert_type(velquin_linear_vertical_interp_2d(rows64, 1), NDArray[np.float64])
assert_type(velquin_linear_vertical_interp_2d(rows64, np.int64(1)), NDArray[np.float32])
assert_type(velquin_linear_vertical_interp_2d(rows64, np.float32(0.5)), NDArray[np.float32])
from_cos: NDArray[np.float64] = velquin_linear_vertical_interp_2d(np.cos(rows64), 0.5)


def rejected_fill_values() -> None:
    velquin_linear_interp(signal64, positions64, left="x")  # type: ignore[call-overload]  # pyright: ignore[reportCallIssue, reportArgumentType]
    velquin_cubic_interp(signal32, positions64, right=1j)  # type: ignore[arg-type]  # pyright: ignore[reportCallIssue, reportArgumentType]
