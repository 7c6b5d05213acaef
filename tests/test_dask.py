"""The scale-out recipe of examples/dask_scale_out.py: chunked results equal one call, bit
for bit, on Dask's local schedulers and on a distributed cluster."""

import os
import runpy
import subprocess
import sys
from pathlib import Path

import cloudpickle
import dask
import dask.array as da
import numpy as np
import pytest
from helpers import (
    ELEMENT_TYPES,
    NOT_1D,
    OVERLOADS,
    assert_same_bits,
    boundary_positions,
    cast_message,
    each_one_dimensional,
    random_signal,
)
from velquin_interp import velquin_linear_interp, velquin_linear_vertical_interp_2d

# Loaded from its path, so that process schedulers ship the recipe's functions by value.
RECIPE = runpy.run_path(str(Path(__file__).parent.parent / "examples" / "dask_scale_out.py"))
interpolate_chunked = RECIPE["interpolate_chunked"]
blend_rows_chunked = RECIPE["blend_rows_chunked"]


def chunked_positions(rng, X, n):
    """Edge positions and random ones, in uneven chunks."""
    x = np.concatenate([boundary_positions(rng, X, n), rng.uniform(-2, n + 2, 300).astype(X)])
    return x, da.from_array(x, chunks=((7, 1, 64, 200, len(x) - 272),))


@each_one_dimensional
@pytest.mark.parametrize("T,X", OVERLOADS)
@pytest.mark.parametrize("fills", [(None, None), (-7, 9)])
def test_chunked_equals_one_call(interp, T, X, fills):
    rng = np.random.default_rng(7)
    signal = random_signal(rng, T, 50)
    x, positions = chunked_positions(rng, X, len(signal))
    result = interpolate_chunked(interp, signal, positions, *fills).compute(scheduler="threads")
    assert_same_bits(result, interp(signal, x, *fills))


def test_strided_chunks_are_made_contiguous():
    signal = np.arange(10.0) ** 2
    pairs = np.linspace(-1.0, 10.0, 400).reshape(200, 2)
    # A stage that hands on views: each chunk is a column of a row-major block.
    positions = da.from_array(pairs, chunks=(50, 2)).map_blocks(lambda b: b[:, 0], drop_axis=1)
    result = interpolate_chunked(velquin_linear_interp, signal, positions).compute()
    assert_same_bits(result, velquin_linear_interp(signal, pairs[:, 0].copy()))


def test_signal_enters_the_graph_once():
    signal = np.random.default_rng(1).standard_normal(100_000)
    positions = da.from_array(np.linspace(0.0, 99_999.0, 1_000), chunks=50)
    graph = interpolate_chunked(velquin_linear_interp, signal, positions).__dask_graph__()
    assert len(cloudpickle.dumps(dict(graph))) < 1.5 * signal.nbytes  # 20 tasks, one signal


@pytest.mark.parametrize(
    "signal,left,message",
    [
        (np.zeros((3, 3)), None, NOT_1D),
        (np.zeros(4), "a", cast_message("str")),
    ],
)
def test_bad_input_raises_before_scheduling(signal, left, message):
    positions = da.from_array(np.zeros(10), chunks=5)
    with pytest.raises(RuntimeError) as error:
        interpolate_chunked(velquin_linear_interp, signal, positions, left)
    assert str(error.value) == message


@pytest.mark.parametrize("T", ELEMENT_TYPES)
@pytest.mark.parametrize("x", [-1.0, 0.0, 2.75, 5.0, float("nan")])
def test_row_blend_over_column_chunks(T, x):
    rows = random_signal(np.random.default_rng(3), T, 6 * 45).reshape(6, 45)
    signal = da.from_array(rows, chunks=(6, 10))
    result = blend_rows_chunked(signal, x).compute(scheduler="threads")
    assert_same_bits(result, velquin_linear_vertical_interp_2d(rows, x))


def test_row_blend_needs_every_row_in_each_chunk():
    with pytest.raises(ValueError, match="every row in each chunk"):
        blend_rows_chunked(da.zeros((6, 10), chunks=(3, 10)), 0.5)


def test_process_scheduler_gives_the_same_bits():
    rng = np.random.default_rng(5)
    signal = random_signal(rng, np.complex128, 1_000)
    x, positions = chunked_positions(rng, np.float32, len(signal))
    with dask.config.set(scheduler="processes", num_workers=2):
        result = interpolate_chunked(velquin_linear_interp, signal, positions).compute()
    assert_same_bits(result, velquin_linear_interp(signal, x))


def test_distributed_cluster_gives_the_same_bits():
    distributed = pytest.importorskip("distributed")
    rng = np.random.default_rng(6)
    signal = random_signal(rng, np.float32, 1_000)
    x, positions = chunked_positions(rng, np.float64, len(signal))
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, dashboard_address="127.0.0.1:0"
        ) as cluster,
        distributed.Client(cluster),
    ):
        cubic = RECIPE["velquin_cubic_interp"]
        result = interpolate_chunked(cubic, signal, positions, 0.5, -0.5).compute()
    assert_same_bits(result, cubic(signal, x, 0.5, -0.5))


def test_documented_recipe_runs_as_a_script(tmp_path):
    # The reference's example, saved as a script and run as a user would, on the process
    # scheduler, whose workers import the script; smaller, so that it takes a second.
    reference = (Path(__file__).parent.parent / "docs" / "reference.md").read_text()
    blocks = reference.split("```python\n")
    example = next(b for b in blocks if "interpolate_chunked(velquin" in b)
    code = example.split("```")[0]
    for size, small in [("1_000_000", "1_000"), ("10**8", "10**4"), ("10**7", "2_500")]:
        assert size in code
        code = code.replace(size, small)
    script = tmp_path / "recipe.py"
    script.write_text(code + '    assert values.shape == (10**4,)\n    print("done")\n')
    examples = Path(__file__).parent.parent / "examples"
    environment = {**os.environ, "PYTHONPATH": os.pathsep.join([str(examples), *sys.path])}
    run = subprocess.run(
        [sys.executable, str(script)], capture_output=True, text=True, env=environment
    )
    assert run.returncode == 0 and run.stdout == "done\n", run.stderr[-2000:]
