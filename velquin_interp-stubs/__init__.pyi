# Type stubs of the extension module velquin_interp.
#
# A type checker takes the first overload that matches, as the module's dispatcher does, so
# the order below is the module's, with some additions around the registered overloads:
# - First, arrays whose dtype the checker does not know: NDArray[Any], which is what most
#   ufuncs return, or an abstract dtype such as np.floating. Any dtype matches any
#   annotation, so without these such an array would take the float32 overload; its result
#   is of unknown dtype too. Only an unknown type matches Never, and the precision of
#   every concrete dtype is a type other than Never (the parameter is invariant).
# - Last, input that matches no overload exactly, which the module converts for the first
#   overload that accepts it: float32, or complex64 for a signal that only converts to a
#   complex type (a list of complex numbers). Other arrays (np.generic, float16, objects
#   with __array__) give a result of unknown dtype.
# Fill values are what the module converts to the signal's element type: real numbers for
# real signals, real or complex numbers for complex ones; None stands for the end sample.
# mypy: disable-error-code="overload-overlap"
# pyright: reportOverlappingOverload=false

from collections.abc import Sequence
from typing import Any, SupportsComplex, SupportsFloat, SupportsIndex, TypeAlias, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray
from typing_extensions import Never

_UnknownArray: TypeAlias = NDArray[Never] | NDArray[np.number[Never]]
# Python numbers and (nested) sequences of them: the module converts them.
_Listed: TypeAlias = complex | Sequence[Any]
_Integral: TypeAlias = NDArray[np.bool_ | np.integer[Any]]
_Converted: TypeAlias = NDArray[np.float32] | NDArray[np.complex64]
_RealFill: TypeAlias = SupportsFloat | SupportsIndex | None
_ComplexFill: TypeAlias = complex | SupportsComplex | SupportsFloat | SupportsIndex | None
_Row: TypeAlias = SupportsFloat | SupportsIndex

@overload
def velquin_linear_interp(
    signal: _UnknownArray,
    x: ArrayLike,
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[Any]: ...
@overload
def velquin_linear_interp(
    signal: ArrayLike,
    x: _UnknownArray,
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[Any]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.float32],
    x: NDArray[np.float64],
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float32]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.float64],
    x: NDArray[np.float64],
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float64]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.complex64],
    x: NDArray[np.float64],
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[np.complex64]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.complex128],
    x: NDArray[np.float64],
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[np.complex128]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.float32],
    x: NDArray[np.float32],
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float32]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.float64],
    x: NDArray[np.float32],
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float64]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.complex64],
    x: NDArray[np.float32],
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[np.complex64]: ...
@overload
def velquin_linear_interp(
    signal: NDArray[np.complex128],
    x: NDArray[np.float32],
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[np.complex128]: ...
@overload
def velquin_linear_interp(
    signal: _Listed,
    x: ArrayLike,
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> _Converted: ...
@overload
def velquin_linear_interp(
    signal: _Integral,
    x: ArrayLike,
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float32]: ...
@overload
def velquin_linear_interp(
    signal: ArrayLike,
    x: _Listed | _Integral,
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float32]: ...
@overload
def velquin_linear_interp(
    signal: ArrayLike,
    x: ArrayLike,
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[Any]: ...

# The row position is a C double, which a Python float or int (np.float64 included) matches
# exactly; a NumPy float32 or integer scalar is converted, for the first overload.
@overload
def velquin_linear_vertical_interp_2d(signal: _UnknownArray, x: _Row) -> NDArray[Any]: ...
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
def velquin_linear_vertical_interp_2d(signal: _Listed, x: _Row) -> _Converted: ...
@overload
def velquin_linear_vertical_interp_2d(
    signal: _Integral | NDArray[np.float32 | np.float64 | np.complex64 | np.complex128], x: _Row
) -> NDArray[np.float32]: ...
@overload
def velquin_linear_vertical_interp_2d(signal: ArrayLike, x: _Row) -> NDArray[Any]: ...
@overload
def velquin_cubic_interp(
    signal: _UnknownArray,
    x: ArrayLike,
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[Any]: ...
@overload
def velquin_cubic_interp(
    signal: ArrayLike,
    x: _UnknownArray,
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[Any]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.float32],
    x: NDArray[np.float64],
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float32]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.float64],
    x: NDArray[np.float64],
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float64]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.complex64],
    x: NDArray[np.float64],
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[np.complex64]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.complex128],
    x: NDArray[np.float64],
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[np.complex128]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.float32],
    x: NDArray[np.float32],
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float32]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.float64],
    x: NDArray[np.float32],
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float64]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.complex64],
    x: NDArray[np.float32],
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[np.complex64]: ...
@overload
def velquin_cubic_interp(
    signal: NDArray[np.complex128],
    x: NDArray[np.float32],
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> NDArray[np.complex128]: ...
@overload
def velquin_cubic_interp(
    signal: _Listed,
    x: ArrayLike,
    left: _ComplexFill = None,
    right: _ComplexFill = None,
) -> _Converted: ...
@overload
def velquin_cubic_interp(
    signal: _Integral,
    x: ArrayLike,
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float32]: ...
@overload
def velquin_cubic_interp(
    signal: ArrayLike,
    x: _Listed | _Integral,
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[np.float32]: ...
@overload
def velquin_cubic_interp(
    signal: ArrayLike,
    x: ArrayLike,
    left: _RealFill = None,
    right: _RealFill = None,
) -> NDArray[Any]: ...
