"""Side-by-side timings of velquin_interp against the peers users would otherwise call.

Every case is timed in this one run, next to:
  numpy.interp(x, arange(n), s)               the peer most users have (float64 inside)
  map_coordinates(s, x[None], order=1 / 3)    scipy.ndimage; order 3 without prefilter
                                              does the same work per point as our cubic
  numba loop                                  the same formula as a plain serial @njit
                                              loop (no fastmath): what a user would
                                              otherwise write
  NumPy expression                            the same formula written with NumPy
  memory floor                                one ufunc pass reading the same arrays and
                                              writing a fresh result of the same size
  np.take floor                               for scattered positions: np.take of the
                                              samples at precomputed indices

Times are medians of repeated calls, in ns per result element (per call for the small
cases). Ratios are "times faster" for the peers and "times the floor" for the floor. The
script prints a table and writes results.md and results.png to the output directory. It
asserts nothing about time: the goals are shown with the ratios measured here.

    python benchmarks/bench.py [--quick] [--output-dir DIR]
    python benchmarks/bench.py --levels NAME=DIR [NAME=DIR ...] [--quick]
    python benchmarks/bench.py --compilers NAME=DIR [NAME=DIR ...] [--quick]

With --levels, only our functions are timed, once per build: each NAME=DIR is a build of
the module installed into DIR, highest level first (`make bench-levels` passes the full,
the AVX2-capped and the scalar build), each timed in its own process, the builds taking
turns round after round. The table gives each build's time and its ratio to the next
build's, marking with "!" every case where a level takes over 1.05x the time of the level
below it. --compilers does the same for builds of the same levels by different compilers
(`make bench-compilers` passes the GCC build and the wheel's), marking where the first is slower,
and writes compilers.md.
"""

import argparse
import functools
import itertools
import json
import os
import pathlib
import platform
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
import velquin_interp as vi
from scipy import ndimage

RNG = np.random.default_rng(20261208)


def cpuinfo_field(name):
    """The value of the first `name` line of /proc/cpuinfo, or None."""
    cpuinfo = pathlib.Path("/proc/cpuinfo")
    if cpuinfo.exists():
        for line in cpuinfo.read_text().splitlines():
            if line.startswith(name):
                return line.split(":", 1)[1].strip()
    return None


@functools.cache
def cpu_level():
    """The instruction-set levels of the module's list that this CPU runs, as the module's
    own CPU tests find them (packaging/cpu-levels.cpp, built with the C++ compiler in CXX
    or c++, once per run); the highest is the one a default build runs."""
    root = pathlib.Path(__file__).resolve().parent.parent
    with tempfile.TemporaryDirectory() as directory:
        probe = pathlib.Path(directory) / "cpu-levels"
        try:
            subprocess.run(
                [
                    os.environ.get("CXX", "c++"),
                    "-std=c++17",
                    "-O1",
                    f"-I{root / 'src'}",
                    str(root / "packaging" / "cpu-levels.cpp"),
                    "-o",
                    str(probe),
                ],
                check=True,
                capture_output=True,
            )
            levels = subprocess.run(
                [str(probe)], check=True, capture_output=True, text=True
            ).stdout.split()
        except (OSError, subprocess.CalledProcessError):
            return "levels unknown (no C++ compiler)"
    return f"levels {' '.join(levels)}" if levels else "scalar kernels only"


def cpu_model():
    """The CPU's model name, as /proc/cpuinfo gives it."""
    return cpuinfo_field("model name") or platform.processor() or platform.machine()


def median_seconds(call, repeats, inner=1):
    """Median over `repeats` runs of the time of one call, each run averaging `inner` calls."""
    call()  # warm caches and allocator
    times = []
    for _ in range(repeats):
        start = time.perf_counter_ns()
        for _ in range(inner):
            call()
        times.append((time.perf_counter_ns() - start) / inner)
    return statistics.median(times) * 1e-9


def positions(n, m, order, X):
    x = RNG.uniform(0, n - 1, m)
    if order == "sorted":
        x.sort()
    # Strictly inside [0, n-1), also after rounding to float32, so that every position
    # interpolates and the NumPy expression needs no clipping.
    return np.minimum(x.astype(X), np.nextafter(X(n - 1), X(0)))


def signal_of(T, shape):
    s = RNG.standard_normal(shape)
    if np.issubdtype(T, np.complexfloating):
        s = s + 1j * RNG.standard_normal(shape)
    return s.astype(T)


def linear_expression(s, x):
    k = x.astype(np.intp)
    w = (x - k).astype(s.real.dtype)
    return (s[k + 1] - s[k]) * w + s[k]


_NUMBA_LOOPS = {}


def numba_loop(kind, R):
    """The formula of `kind` as the plain loop a user would write and compile with numba:
    serial, no fastmath, the weight in the signal's real type R. Compiled once per (kind,
    R); numba specialises it to the array types of its first call."""
    key = kind, R
    if key in _NUMBA_LOOPS:
        return _NUMBA_LOOPS[key]
    import numba

    @numba.njit
    def linear(s, x):
        n = s.shape[0]
        out = np.empty(x.shape[0], s.dtype)
        for j in range(x.shape[0]):
            p = x[j]
            if p < 0:
                out[j] = s[0]
            elif p >= n - 1:
                out[j] = s[n - 1]
            else:
                k = int(p)
                w = R(p - k)
                out[j] = (s[k + 1] - s[k]) * w + s[k]
        return out

    @numba.njit
    def cubic(s, x):
        n = s.shape[0]
        out = np.empty(x.shape[0], s.dtype)
        half, two, three, four, five = R(0.5), R(2), R(3), R(4), R(5)
        for j in range(x.shape[0]):
            p = x[j]
            if p < 0:
                out[j] = s[0]
            elif p >= n - 1:
                out[j] = s[n - 1]
            elif p < 1:
                out[j] = (s[1] - s[0]) * R(p) + s[0]
            elif p >= n - 2:
                out[j] = (s[n - 1] - s[n - 2]) * R(p - (n - 2)) + s[n - 2]
            else:
                i = int(p)
                d = R(p - i)
                u, o, t, v = s[i - 1], s[i], s[i + 1], s[i + 2]
                a = ((((v - t * three) + o * three) - u) * half) * d
                b = (((t * four - v) - o * five) + u * two) * half
                g = (t - u) * half
                out[j] = (((a + b) * d) + g) * d + o
        return out

    _NUMBA_LOOPS[key] = linear if kind == "linear" else cubic
    return _NUMBA_LOOPS[key]


def one_dimensional_case(kind, T, X, n, m, order):
    s, x = signal_of(T, n), positions(n, m, order, X)
    grid = np.arange(n, dtype=np.float64)
    ours = vi.velquin_linear_interp if kind == "linear" else vi.velquin_cubic_interp
    order_of_spline = 1 if kind == "linear" else 3
    calls = {
        "ours": lambda: ours(s, x),
        "numpy.interp": lambda: np.interp(x, grid, s),
        "map_coordinates": lambda: ndimage.map_coordinates(
            s, x[None], order=order_of_spline, prefilter=False
        ),
    }
    # Compiled on the first call, which the timing leaves out.
    calls["numba loop"] = lambda: numba_loop(kind, np.finfo(T).dtype.type)(s, x)
    if kind == "linear":
        calls["NumPy expression"] = lambda: linear_expression(s, x)
    if n == m:
        calls["floor"] = lambda: np.add(x, s)
    if order == "random":
        indices = x.astype(np.intp)
        calls["np.take floor"] = lambda: np.take(s, indices)
    name = f"{kind} {np.dtype(T).name}/{np.dtype(X).name} n=m={n:.0e} {order}"
    return name, m, calls


def vertical_case(T, rows, cols):
    s = signal_of(T, (rows, cols))
    row = 3.25
    r0, r1 = s[3], s[4]
    w = s.real.dtype.type(0.25)
    calls = {
        "ours": lambda: vi.velquin_linear_vertical_interp_2d(s, row),
        "NumPy expression": lambda: (r1 - r0) * w + r0,
        "floor": lambda: np.add(r0, r1),
    }
    return f"vertical {np.dtype(T).name} {rows}x{cols:.0e}", cols, calls


def small_case(kind, T, X):
    n, m = 64, 16
    s, x = signal_of(T, n), positions(n, m, "random", X)
    grid = np.arange(n, dtype=np.float64)
    ours = vi.velquin_linear_interp if kind == "linear" else vi.velquin_cubic_interp
    calls = {
        "ours": lambda: ours(s, x),
        "numpy.interp": lambda: np.interp(x, grid, s),
        "map_coordinates": lambda: ndimage.map_coordinates(
            s, x[None], order=1 if kind == "linear" else 3, prefilter=False
        ),
    }
    return f"small {kind} {np.dtype(T).name}/{np.dtype(X).name} n=64 m=16", None, calls


LARGE_CASES = [
    ("linear", np.float64, np.float64),
    ("linear", np.float32, np.float32),
    ("linear", np.complex128, np.float64),
    ("cubic", np.float64, np.float64),
]


def all_cases():
    for kind in ("linear", "cubic"):
        for T, X in (
            (np.float64, np.float64),
            (np.float32, np.float32),
            (np.complex128, np.float64),
            (np.complex64, np.float32),
        ):
            for n in (10**5, 10**6):
                for order in ("sorted", "random"):
                    yield one_dimensional_case(kind, T, X, n, n, order)
    # Arrays larger than most caches: sorted positions, where the floor is the memory.
    for kind, T, X in LARGE_CASES:
        yield one_dimensional_case(kind, T, X, 10**7, 10**7, "sorted")
    for T in (np.float64, np.float32, np.complex128):
        yield vertical_case(T, 8, 10**6)
    yield small_case("linear", np.float64, np.float64)
    yield small_case("cubic", np.float64, np.float64)
    yield small_case("linear", np.complex128, np.float32)


PEERS = [
    "numpy.interp",
    "map_coordinates",
    "numba loop",
    "NumPy expression",
    "floor",
    "np.take floor",
]
FLOORS = ("floor", "np.take floor")


# (case name, peer, goal as text, test on the ratio). Speed-ups are peer/ours; the floor
# ratios are ours/floor.
def faster(case, peer, times=1):
    text = "faster" if times == 1 else f">= {times:g}x faster"
    return case, peer, text, lambda r: r >= times


def at_most_floor(case, times, peer="floor"):
    return case, peer, f"<= {times:g}x the floor", lambda r: r <= times


LINEAR64_SORTED = "linear float64/float64 n=m=1e+06 sorted"
LINEAR64_LARGE = "linear float64/float64 n=m=1e+07 sorted"
LINEAR64_RANDOM = "linear float64/float64 n=m=1e+06 random"
LINEAR128_SORTED = "linear complex128/float64 n=m=1e+06 sorted"
CUBIC64_SORTED = "cubic float64/float64 n=m=1e+06 sorted"
CUBIC64_LARGE = "cubic float64/float64 n=m=1e+07 sorted"
SMALL64 = "small linear float64/float64 n=64 m=16"
SMALL128 = "small linear complex128/float32 n=64 m=16"
GOALS = [
    at_most_floor(LINEAR64_SORTED, 1.5),
    at_most_floor(LINEAR64_LARGE, 1.2),
    faster(LINEAR64_SORTED, "numba loop", 1.5),
    faster(LINEAR64_SORTED, "numpy.interp", 20),
    at_most_floor(LINEAR128_SORTED, 1.2),
    faster(LINEAR128_SORTED, "numba loop"),
    at_most_floor("linear float32/float32 n=m=1e+06 sorted", 1.5),
    faster("linear float32/float32 n=m=1e+06 sorted", "numpy.interp", 30),
    faster("linear float32/float32 n=m=1e+06 random", "numpy.interp", 30),
    at_most_floor(LINEAR64_RANDOM, 2, "np.take floor"),
    faster(LINEAR64_RANDOM, "numba loop"),
    faster(LINEAR64_RANDOM, "numpy.interp", 20),
    at_most_floor(CUBIC64_SORTED, 2.5),
    at_most_floor(CUBIC64_LARGE, 1.5),
    faster(CUBIC64_SORTED, "numba loop"),
    faster(CUBIC64_SORTED, "map_coordinates", 15),
    at_most_floor("cubic complex128/float64 n=m=1e+06 sorted", 3),
    at_most_floor("linear float64/float64 n=m=1e+05 sorted", 2.5),
    at_most_floor("linear float64/float64 n=m=1e+05 random", 2.5),
    at_most_floor("cubic float64/float64 n=m=1e+05 sorted", 4),
    at_most_floor("cubic float64/float64 n=m=1e+05 random", 4),
    faster("vertical float64 8x1e+06", "NumPy expression", 2),
    at_most_floor("vertical float64 8x1e+06", 1.3),
    faster(SMALL64, "numpy.interp", 1.5),
    faster(SMALL128, "numpy.interp"),
]


def ratio(row, peer):
    """Times faster than a peer, or times the floor."""
    if peer not in row:
        return None
    return row["ours"] / row[peer] if peer in FLOORS else row[peer] / row["ours"]


def measure(repeats, only, ours_only=False):
    rows = []
    for name, elements, calls in all_cases():
        if only and only not in name:
            continue
        if ours_only:
            calls = {"ours": calls["ours"]}
        inner = 1 if elements else 2000
        per = elements or 1
        unit = 1e9 / per if elements else 1e6
        row = {"case": name, "unit": "ns/element" if elements else "us/call"}
        for peer, call in calls.items():
            row[peer] = median_seconds(call, repeats, inner) * unit
        rows.append(row)
        if not ours_only:
            print(f"  {name}", flush=True)
    return rows


def fmt(value, digits=3):
    return "-" if value is None else f"{value:.{digits}g}"


def table(rows):
    header = [
        "case",
        "unit",
        "ours",
        *PEERS,
        "x numpy.interp",
        "x map_coordinates",
        "x numba",
        "x NumPy expr",
        "/ floor",
        "/ take",
    ]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for row in rows:
        cells = [row["case"], row["unit"], fmt(row["ours"])]
        cells += [fmt(row.get(peer)) for peer in PEERS]
        cells += [fmt(ratio(row, peer)) for peer in PEERS]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def goals_table(rows):
    by_name = {row["case"]: row for row in rows}
    lines = ["| case | against | goal | measured | met |", "|---|---|---|---|---|"]
    for name, peer, goal, passes in GOALS:
        measured = ratio(by_name[name], peer)
        if peer in FLOORS:
            shown = f"{measured:.2f}x the floor"
        elif measured >= 1:
            shown = f"{measured:.2f}x faster"
        else:
            shown = f"{1 / measured:.2f}x its time"
        lines.append(
            f"| {name} | {peer} | {goal} | {shown} | {'yes' if passes(measured) else 'NO'} |"
        )
    slower = [row["case"] for row in rows if (ratio(row, "numba loop") or 1) < 1]
    lines.append("")
    lines.append(
        "Slower than the numba loop: " + (", ".join(slower) if slower else "no case") + "."
    )
    return "\n".join(lines)


def measure_levels(builds, repeats, rounds, only):
    """Our times in each build, each build in its own process, the builds taking turns
    round after round; the fastest round of each case counts."""
    best = {}
    for round_number in range(1, rounds + 1):
        for name, directory in builds:
            command = [sys.executable, __file__, "--worker", "--repeats", str(repeats)]
            if only:
                command += ["--only", only]
            environment = {**os.environ, "PYTHONPATH": directory}
            output = subprocess.run(
                command, env=environment, capture_output=True, text=True, check=True
            ).stdout
            for case, value in json.loads(output).items():
                key = case, name
                best[key] = min(best.get(key, float("inf")), value)
        print(f"  round {round_number} of {rounds}", flush=True)
    return best


# A level may take at most this share of the time of the level below it.
LEVEL_TOLERANCE = 1.05


def levels_table(
    builds, best, what="a level takes over {tolerance}x the time of the level below it"
):
    """Each build's time, and its ratio to the next build in the list (the level below it,
    down to the scalar build), marked "!" where it is slower beyond LEVEL_TOLERANCE."""
    names = [name for name, _ in builds]
    pairs = list(itertools.pairwise(names))
    cases = list(dict.fromkeys(case for case, _ in best))
    header = ["case", *(f"{name} ns" for name in names)]
    header += [f"{upper} / {lower}" for upper, lower in pairs]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    slower = 0
    for case in cases:
        cells = [case, *(fmt(best[case, name]) for name in names)]
        for upper, lower in pairs:
            share = best[case, upper] / best[case, lower]
            slower += share > LEVEL_TOLERANCE
            cells.append(f"{share:.2f}{' !' if share > LEVEL_TOLERANCE else ''}")
        lines.append("| " + " | ".join(cells) + " |")
    lines.append("")
    lines.append(f"Cases where {what.format(tolerance=f'{LEVEL_TOLERANCE:.2f}')} (!): {slower}.")
    return "\n".join(lines)


def plot(rows, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    big = [row for row in rows if row["unit"] == "ns/element"]
    series = ["ours", *PEERS]
    fig, ax = plt.subplots(figsize=(11, 0.32 * len(big) * len(series) / 2 + 1.5))
    height = 0.8 / len(series)
    for index, peer in enumerate(series):
        values = [row.get(peer, np.nan) for row in big]
        ax.barh(np.arange(len(big)) + index * height, values, height, label=peer)
    ax.set_yticks(np.arange(len(big)) + 0.4 - height / 2)
    ax.set_yticklabels([row["case"] for row in big], fontsize=7)
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.set_xlabel("ns per result element (log scale; shorter is faster)")
    ax.legend(fontsize=8, loc="lower right")
    # The plot travels without its table (the README shows it): it names its CPU itself.
    ax.set_title(
        f"velquin_interp against its peers on {cpu_model()} ({cpu_level()}), "
        "median of repeated calls",
        fontsize=9,
    )
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--quick", action="store_true", help="few repetitions, to check that the benchmark runs"
    )
    parser.add_argument(
        "--output-dir", type=pathlib.Path, default=pathlib.Path(__file__).resolve().parent
    )
    parser.add_argument(
        "--only",
        metavar="TEXT",
        help="run only the cases whose name contains TEXT (no files written)",
    )
    parser.add_argument(
        "--levels",
        nargs="+",
        metavar="NAME=DIR",
        help="time our functions in each build installed into DIR, highest level first",
    )
    parser.add_argument(
        "--compilers",
        nargs="+",
        metavar="NAME=DIR",
        help="time our functions in each build installed into DIR, one compiler each",
    )
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--repeats", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    repeats = args.repeats or (2 if args.quick else 15)
    if args.worker:
        rows = measure(repeats, args.only, ours_only=True)
        print(json.dumps({row["case"]: row["ours"] for row in rows}))
        return
    context = (
        f"{cpu_model()}, {platform.machine()}, Python {platform.python_version()}, "
        f"NumPy {np.__version__}, CPU {cpu_level()}, "
        f"{repeats} repeats{' (quick mode)' if args.quick else ''}"
    )
    if args.levels or args.compilers:
        builds = [tuple(pair.split("=", 1)) for pair in args.levels or args.compilers]
        rounds = 1 if args.quick else 3
        print(f"timing {len(builds)} builds, {rounds} rounds of {repeats} repeats:", flush=True)
        best = measure_levels(builds, repeats, rounds, args.only)
        if args.levels:
            title, name = "each level against the level below it", "levels.md"
            table_text = levels_table(builds, best)
        else:
            title, name = "the same levels built by each compiler", "compilers.md"
            what = "a build takes over {tolerance}x the time of the next one"
            table_text = levels_table(builds, best, what)
        report = (
            f"# velquin_interp: {title}\n\n{context}, fastest of {rounds} interleaved rounds\n\n"
            f"Times: ns per element (us per call for the small cases).\n\n{table_text}\n"
        )
        print()
        print(report)
        if not args.only:
            args.output_dir.mkdir(parents=True, exist_ok=True)
            (args.output_dir / name).write_text(report)
        return

    print(f"measuring {'(quick) ' if args.quick else ''}with {repeats} repeats:", flush=True)
    rows = measure(repeats, args.only)
    if args.only:
        print(table(rows))
        return
    report = (
        f"# velquin_interp benchmark\n\n{context}\n\n"
        f"Times: medians; ratios: times faster than the peer, or times the floor.\n\n"
        f"{table(rows)}\n\n## Goals\n\n{goals_table(rows)}\n\n![plot](results.png)\n"
    )
    print()
    print(table(rows))
    print()
    print(goals_table(rows))
    args.output_dir.mkdir(parents=True, exist_ok=True)
    (args.output_dir / "results.md").write_text(report)
    plot(rows, args.output_dir / "results.png")
    print(f"\nwrote {args.output_dir / 'results.md'} and {args.output_dir / 'results.png'}")


if __name__ == "__main__":
    main()
