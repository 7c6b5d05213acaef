"""Scale-out recipe: interpolation over more positions than one call, or one machine, holds.

The positions are a dask array cut into chunks, and each chunk is one task that calls the
interpolation function with the whole signal. The signal enters the task graph once, as a
single key that every task depends on, so a distributed scheduler ships it to each worker
once rather than once per task. Every result element depends only on its own position, so
the chunked result equals a single call over all positions, bit for bit.

With the GIL a call holds it from start to end, so threads in one process take turns and
parallel speed comes from processes or from a cluster's workers; on a free-threaded CPython
the threaded scheduler runs the tasks at once. The same graph runs on
Dask's local schedulers and, unchanged, on a `dask.distributed` cluster (`Client(...)`).

Run it as a script to interpolate a sample signal at 4 million positions on Dask's local
process scheduler, or on a cluster when given its scheduler's address
(`python examples/dask_scale_out.py tcp://host:8786`), and compare with a single call.
"""

import sys

import dask
import dask.array as da
import numpy as np
from velquin_interp import (
    velquin_cubic_interp,
    velquin_linear_interp,
    velquin_linear_vertical_interp_2d,
)


def _interpolate_chunk(positions, signal, interp, left, right):
    # A chunk cut from a larger array may be a strided view; the module takes C-contiguous
    # arrays only, and a copy of positions costs one pass over them.
    return interp(signal, np.ascontiguousarray(positions), left, right)


def interpolate_chunked(interp, signal, positions, left=None, right=None):
    """`interp(signal, positions, left, right)` as a dask array, one task per chunk of the
    one-dimensional dask array `positions`.

    `interp` is velquin_linear_interp or velquin_cubic_interp. The signal, of any size a
    worker can hold, is put into the graph once. One call on no positions runs here first:
    it checks the signal and the fill values with the module's own errors before anything
    is scheduled, and gives the result's element type.
    """
    signal = np.asarray(signal)
    empty = interp(signal, np.empty(0, positions.dtype), left, right)
    shared_signal = dask.delayed(signal, pure=True)
    return da.map_blocks(
        _interpolate_chunk, positions, shared_signal, interp, left, right, meta=empty
    )


def _blend_chunk(columns, x):
    return velquin_linear_vertical_interp_2d(np.ascontiguousarray(columns), x)


def blend_rows_chunked(signal, x):
    """velquin_linear_vertical_interp_2d(signal, x) as a dask array, for a two-dimensional
    dask array `signal` cut into chunks of columns only (each holds every row)."""
    if signal.ndim != 2 or signal.numblocks[0] != 1:
        raise ValueError("signal must be a 2-D dask array with every row in each chunk")
    empty = velquin_linear_vertical_interp_2d(np.zeros((2, 0), signal.dtype), x)
    return da.map_blocks(_blend_chunk, signal, x, drop_axis=0, meta=empty)


def run():
    """Interpolates on whatever scheduler is current and compares with single calls."""
    n, m = 1_000_000, 4_000_000
    t = np.arange(n)
    signal = np.sin(2 * np.pi * t / 977.0) * np.exp(-(((t - n / 2) / (n / 5)) ** 2))
    positions = da.random.default_rng(2).uniform(-10, n + 10, m, chunks=500_000)
    for interp in (velquin_linear_interp, velquin_cubic_interp):
        chunked = interpolate_chunked(interp, signal, positions, left=0.0, right=0.0)
        result = chunked.compute()
        single = interp(signal, positions.compute(), 0.0, 0.0)
        print(
            f"{interp.__name__}: {m:,} positions in {positions.numblocks[0]} tasks, "
            f"identical to one call: {np.array_equal(result, single, equal_nan=True)}"
        )
    image = da.random.default_rng(3).standard_normal((64, 200_000), chunks=(64, 50_000))
    blended = blend_rows_chunked(image, 31.25).compute()
    single = velquin_linear_vertical_interp_2d(image.compute(), 31.25)
    print(
        f"row blend over {image.numblocks[1]} column chunks, identical to one call: "
        f"{np.array_equal(blended, single)}"
    )


def main(address=None):
    if address is None:
        with dask.config.set(scheduler="processes"):
            run()
        return 0
    from dask.distributed import Client

    with Client(address):
        run()
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
