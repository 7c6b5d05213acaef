# Type stubs of the extension module velquin_interp.
#
# Each function's overloads come in the order the module registers them: an exact dtype
# match selects the overload of that element type. The final overload stands for every
# other input, which the module converts for the first overload that accepts it: float32,
# or complex64 for a signal that only converts to a complex type (a list of complex numbers).
# Mypy picks the first overload that matches, as the module does; overlaps between them are
# that order-based dispatch, not mistakes.
# mypy: disable-error-code="overload-overlap"

from typing import SupportsFloat, SupportsIndex, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray

type _Converted = NDArray[np.float32] | NDArray[np.complex64]

@overload
def velquin_linear_interp(
    signal: NDArray[np.float32], x: NDArray[np.float64], left: object = None, right: object = None
) -> NDArray[np.float32]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.float64], x: NDArray[np.float64], left: object = None, right: object = None
) -> NDArray[np.float64]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.complex64], x: NDArray[np.float64], left: object = None, right: object = None
) -> NDArray[np.complex64]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.complex128],
    x: NDArray[np.float64],
    left: object = None,
    right: object = None,
) -> NDArray[np.complex128]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.float32], x: NDArray[np.float32], left: object = None, right: object = None
) -> NDArray[np.float32]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.float64], x: NDArray[np.float32], left: object = None, right: object = None
) -> NDArray[np.float64]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.complex64], x: NDArray[np.float32], left: object = None, right: object = None
) -> NDArray[np.complex64]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.complex128],
    x: NDArray[np.float32],
    left: object = None,
    right: object = None,
) -> NDArray[np.complex128]: ...
@overload
def velquin_linear_interp(
    signal: ArrayLike, x: ArrayLike, left: object = None, right: object = None
) -> _Converted: ...

# The row position is a C double, which a Python float or int (np.float64 included) matches
# exactly; a NumPy float32 or integer scalar is converted, for the first overload.
@overload
def velquin_linear_vertical_interp_2d(
    signal: NDArray[np.float32], x: float
) -> NDArray[np.float32]: ...
@overload
def velquin_linear_vertical_interp_2d(
    signal: NDArray[np.float64], x: float
) -> NDArray[np.float64]: ...
@overload
def velquin_linear_vertical_interp_2d(
    signal: NDArray[np.complex64], x: float
) -> NDArray[np.complex64]: ...
@overload
def velquin_linear_vertical_interp_2d(
    signal: NDArray[np.complex128], x: float
) -> NDArray[np.complex128]: ...
@overload
def velquin_linear_vertical_interp_2d(
    signal: ArrayLike, x: SupportsFloat | SupportsIndex
) -> _Converted: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.float32], x: NDArray[np.float64], left: object = None, right: object = None
) -> NDArray[np.float32]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.float64], x: NDArray[np.float64], left: object = None, right: object = None
) -> NDArray[np.float64]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.complex64], x: NDArray[np.float64], left: object = None, right: object = None
) -> NDArray[np.complex64]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.complex128],
    x: NDArray[np.float64],
    left: object = None,
    right: object = None,
) -> NDArray[np.complex128]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.float32], x: NDArray[np.float32], left: object = None, right: object = None
) -> NDArray[np.float32]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.float64], x: NDArray[np.float32], left: object = None, right: object = None
) -> NDArray[np.float64]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.complex64], x: NDArray[np.float32], left: object = None, right: object = None
) -> NDArray[np.complex64]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.complex128],
    x: NDArray[np.float32],
    left: object = None,
    right: object = None,
) -> NDArray[np.complex128]: ...
@overload
def velquin_cubic_interp(
    signal: ArrayLike, x: ArrayLike, left: object = None, right: object = None
) -> _Converted: ...
