"""Side-by-side timings of velquin_interp against the peers users would otherwise call.

Every case is timed in this one run, next to:
  numpy.interp(x, arange(n), s)               the peer most users have (float64 inside)
  map_coordinates(s, x[None], order=1 / 3)    scipy.ndimage; order 3 without prefilter
                                              does the same work per point as our cubic
  NumPy expression                            the same formula written with NumPy
  memory floor                                one ufunc pass reading the same arrays and
                                              writing a fresh result of the same size

Times are medians of repeated calls, in ns per result element (per call for the small
cases). Ratios are "times faster" for the peers and "times the floor" for the floor. The
script prints a table and writes results.md and results.png to the output directory. It
asserts nothing about time: the goals are shown with the ratios measured here.

    python benchmarks/bench.py [--quick] [--output-dir DIR]
"""

import argparse
import pathlib
import platform
import statistics
import time

import numpy as np
import velquin_interp as vi
from scipy import ndimage

RNG = np.random.default_rng(20261208)


def cpu_level():
    """The highest instruction-set level of this CPU that the module has kernels for; a
    default build runs that level."""
    flags = set()
    cpuinfo = pathlib.Path("/proc/cpuinfo")
    if cpuinfo.exists():
        for line in cpuinfo.read_text().splitlines():
            if line.startswith("flags"):
                flags = set(line.split(":", 1)[1].split())
                break
    if {"avx512f", "avx512bw", "avx512cd", "avx512dq", "avx512vl"} <= flags:
        return "x86-64-v4 (AVX-512)"
    if {"avx2", "fma", "bmi2", "movbe"} <= flags:
        return "x86-64-v3 (AVX2)"
    return "baseline (scalar kernels)"


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
    if kind == "linear":
        calls["NumPy expression"] = lambda: linear_expression(s, x)
    if n == m:
        calls["floor"] = lambda: np.add(x, s)
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


def all_cases():
    for kind in ("linear", "cubic"):
        for T, X in (
            (np.float64, np.float64),
            (np.float32, np.float32),
            (np.complex128, np.float64),
        ):
            for n in (10**5, 10**6):
                for order in ("sorted", "random"):
                    yield one_dimensional_case(kind, T, X, n, n, order)
    for T in (np.float64, np.float32, np.complex128):
        yield vertical_case(T, 8, 10**6)
    yield small_case("linear", np.float64, np.float64)
    yield small_case("cubic", np.float64, np.float64)
    yield small_case("linear", np.complex128, np.float32)


PEERS = ["numpy.interp", "map_coordinates", "NumPy expression", "floor"]

# (case name, peer, goal as text, test on the ratio). Speed-ups are peer/ours; the floor
# ratio is ours/floor.
GOALS = [
    ("linear float64/float64 n=m=1e+06 sorted", "numpy.interp", ">= 20x faster", lambda r: r >= 20),
    ("linear float64/float64 n=m=1e+06 sorted", "floor", "<= 1.5x the floor", lambda r: r <= 1.5),
    ("linear float32/float32 n=m=1e+06 sorted", "numpy.interp", ">= 30x faster", lambda r: r >= 30),
    ("linear float32/float32 n=m=1e+06 random", "numpy.interp", ">= 30x faster", lambda r: r >= 30),
    ("linear float64/float64 n=m=1e+06 random", "numpy.interp", ">= 20x faster", lambda r: r >= 20),
    (
        "cubic float64/float64 n=m=1e+06 sorted",
        "map_coordinates",
        ">= 15x faster",
        lambda r: r >= 15,
    ),
    ("cubic float64/float64 n=m=1e+06 sorted", "floor", "<= 2.5x the floor", lambda r: r <= 2.5),
    ("linear float64/float64 n=m=1e+05 sorted", "floor", "<= 2.5x the floor", lambda r: r <= 2.5),
    ("linear float64/float64 n=m=1e+05 random", "floor", "<= 2.5x the floor", lambda r: r <= 2.5),
    ("cubic float64/float64 n=m=1e+05 sorted", "floor", "<= 4x the floor", lambda r: r <= 4),
    ("cubic float64/float64 n=m=1e+05 random", "floor", "<= 4x the floor", lambda r: r <= 4),
    ("vertical float64 8x1e+06", "NumPy expression", ">= 2x faster", lambda r: r >= 2),
    ("vertical float64 8x1e+06", "floor", "<= 1.3x the floor", lambda r: r <= 1.3),
    (
        "small linear float64/float64 n=64 m=16",
        "numpy.interp",
        ">= 1.5x faster",
        lambda r: r >= 1.5,
    ),
    (
        "small linear complex128/float32 n=64 m=16",
        "numpy.interp",
        "<= 2x its time",
        lambda r: r >= 0.5,
    ),
]


def ratio(row, peer):
    """Times faster than a peer, or times the floor."""
    if peer not in row:
        return None
    return row["ours"] / row[peer] if peer == "floor" else row[peer] / row["ours"]


def measure(repeats, only):
    rows = []
    for name, elements, calls in all_cases():
        if only and only not in name:
            continue
        inner = 1 if elements else 2000
        per = elements or 1
        unit = 1e9 / per if elements else 1e6
        row = {"case": name, "unit": "ns/element" if elements else "us/call"}
        for peer, call in calls.items():
            row[peer] = median_seconds(call, repeats, inner) * unit
        rows.append(row)
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
        "x NumPy expr",
        "/ floor",
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
        if peer == "floor":
            shown = f"{measured:.2f}x the floor"
        elif measured >= 1:
            shown = f"{measured:.2f}x faster"
        else:
            shown = f"{1 / measured:.2f}x its time"
        lines.append(
            f"| {name} | {peer} | {goal} | {shown} | {'yes' if passes(measured) else 'NO'} |"
        )
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
    ax.set_title("velquin_interp against its peers, median of repeated calls")
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
    args = parser.parse_args()
    repeats = 2 if args.quick else 15

    print(f"measuring {'(quick) ' if args.quick else ''}with {repeats} repeats:", flush=True)
    rows = measure(repeats, args.only)
    if args.only:
        print(table(rows))
        return
    context = (
        f"{platform.processor() or platform.machine()}, Python "
        f"{platform.python_version()}, NumPy {np.__version__}, "
        f"CPU level {cpu_level()}, "
        f"{repeats} repeats{' (quick mode)' if args.quick else ''}"
    )
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
