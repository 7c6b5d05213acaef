"""Checked by mypy against the installed stubs: each assert_type is the type a caller sees."""

from typing import assert_type

import numpy as np
from numpy.typing import NDArray
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

# No exact match: the module converts, for float32 (complex64 for complex lists).
assert_type(velquin_linear_interp([1.0, 2.0], [0.5]), Converted)
assert_type(velquin_linear_interp([1j, 2j], [0.5]), Converted)
assert_type(velquin_cubic_interp(signal64, positions_int), Converted)

rows64 = np.zeros((3, 5), np.float64)
rows_c64 = np.zeros((3, 5), np.complex64)
assert_type(velquin_linear_vertical_interp_2d(rows64, 0.5), NDArray[np.float64])
assert_type(velquin_linear_vertical_interp_2d(rows64, np.float64(0.5)), NDArray[np.float64])
assert_type(velquin_linear_vertical_interp_2d(rows_c64, 1.5), NDArray[np.complex64])
assert_type(velquin_linear_vertical_interp_2d(rows64, 1), NDArray[np.float64])
assert_type(velquin_linear_vertical_interp_2d(rows64, np.int64(1)), Converted)
assert_type(velquin_linear_vertical_interp_2d(rows64, np.float32(0.5)), Converted)
