"""Throughput of calls from N threads at once, each thread calling on inputs of its own
(100,000 positions per call), against one thread, on the interpreter that runs this file:
on a free-threaded CPython the threads run at once; with the GIL they take turns.

    python benchmarks/threads.py measure [--quick] [--output-dir DIR]
    python benchmarks/threads.py table [--output-dir DIR]

`measure` writes build/threads/PYTHON.json; `table` writes threads.md to the output directory
(default benchmarks/) from every such file. `make bench-threads` measures on CPython 3.14
(GIL) and on the free-threaded 3.13t. Each figure is the best of interleaved rounds. Asserts
nothing.
"""

import argparse
import json
import os
import pathlib
import sys
import sysconfig
import threading
import time

import numpy as np
import velquin_interp as vi
from calls import cpu_model

HERE = pathlib.Path(__file__).resolve().parent
MEASURED = HERE.parent / "build" / "threads"
POSITIONS = 100_000
THREAD_COUNTS = (1, 2, 4)


def cases():
    """(name, call) pairs; each call makes its own inputs and returns a function of none."""
    rng = np.random.default_rng(0)

    def one_dimensional(function, T):
        def make():
            signal = rng.standard_normal(POSITIONS).astype(T)
            x = rng.uniform(-1.0, POSITIONS, POSITIONS)
            return lambda: function(signal, x)

        return make

    def rows(T):
        def make():
            signal = rng.standard_normal((4, POSITIONS)).astype(T)
            return lambda: vi.velquin_linear_vertical_interp_2d(signal, 1.25)

        return make

    return [
        ("linear float32", one_dimensional(vi.velquin_linear_interp, np.float32)),
        ("linear float64", one_dimensional(vi.velquin_linear_interp, np.float64)),
        ("cubic float64", one_dimensional(vi.velquin_cubic_interp, np.float64)),
        ("cubic complex64", one_dimensional(vi.velquin_cubic_interp, np.complex64)),
        ("row float64", rows(np.float64)),
    ]


def calls_per_second(make, threads, calls):
    """All threads start together, each making `calls` calls on its own inputs."""
    work = [make() for _ in range(threads)]
    start = threading.Barrier(threads + 1)
    done = threading.Barrier(threads + 1)

    def run(call):
        start.wait()
        for _ in range(calls):
            call()
        done.wait()

    pool = [threading.Thread(target=run, args=(call,)) for call in work]
    for thread in pool:
        thread.start()
    start.wait()
    began = time.perf_counter()
    done.wait()
    elapsed = time.perf_counter() - began
    for thread in pool:
        thread.join()
    return threads * calls / elapsed


def measure(quick):
    # Each thread makes as many calls per round as one thread makes in about `seconds`.
    rounds, seconds = (2, 0.05) if quick else (15, 0.2)
    calls = {name: max(1, int(seconds * calls_per_second(make, 1, 5))) for name, make in cases()}
    best = {}
    for _ in range(rounds):
        for name, make in cases():
            for threads in THREAD_COUNTS:
                rate = calls_per_second(make, threads, calls[name])
                best[(name, threads)] = max(best.get((name, threads), 0.0), rate)
    free_threaded = sysconfig.get_config_var("Py_GIL_DISABLED")
    result = {
        "python": sys.version.split()[0] + ("t" if free_threaded else ""),
        "gil": sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True,
        "cpu": f"{cpu_model()}, {os.cpu_count()} cores",
        "rates": {f"{name}|{threads}": rate for (name, threads), rate in best.items()},
    }
    MEASURED.mkdir(parents=True, exist_ok=True)
    (MEASURED / f"{result['python']}.json").write_text(json.dumps(result, indent=1))
    for (name, threads), rate in best.items():
        ratio = rate / best[(name, 1)]
        print(f"{result['python']:10s} {name:18s} {threads} threads: {rate:9.1f}/s, {ratio:.2f}x")


def table(output_dir):
    # The interpreter with the GIL first.
    runs = [json.loads(p.read_text()) for p in sorted(MEASURED.glob("*.json"))]
    runs.sort(key=lambda run: not run["gil"])
    cpus = sorted({run["cpu"] for run in runs})
    lines = [
        "# Threads",
        "",
        f"CPU: {', '.join(cpus)}; measured by `make bench-threads` (benchmarks/threads.py).",
        "",
        f"Throughput of N threads, each calling on its own inputs of {POSITIONS:,} positions,",
        "against one thread on the same interpreter (best of interleaved rounds). With the GIL",
        "calls take turns; on a free-threaded CPython they run at once, up to one per core.",
        "",
    ]
    header = "| call | " + " | ".join(
        f"{run['python']}{' (GIL)' if run['gil'] else ' (no GIL)'}, {n} threads"
        for run in runs
        for n in THREAD_COUNTS[1:]
    )
    lines += [header + " |", "|---" * (1 + len(runs) * (len(THREAD_COUNTS) - 1)) + "|"]
    names = [name for name, _ in cases()]
    for name in names:
        cells = []
        for run in runs:
            one = run["rates"][f"{name}|1"]
            cells += [f"{run['rates'][f'{name}|{n}'] / one:.2f}x" for n in THREAD_COUNTS[1:]]
        lines.append(f"| {name} | " + " | ".join(cells) + " |")
    lines += ["", "One thread's calls per second:", ""]
    lines += ["| call | " + " | ".join(run["python"] for run in runs) + " |"]
    lines += ["|---" * (1 + len(runs)) + "|"]
    for name in names:
        lines.append(
            f"| {name} | " + " | ".join(f"{run['rates'][f'{name}|1']:,.0f}" for run in runs) + " |"
        )
    pathlib.Path(output_dir).mkdir(parents=True, exist_ok=True)
    (pathlib.Path(output_dir) / "threads.md").write_text("\n".join(lines) + "\n")
    print("\n".join(lines))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["measure", "table"])
    parser.add_argument("--quick", action="store_true", help="fewer and shorter rounds")
    parser.add_argument("--output-dir", default=str(HERE), help="where table writes threads.md")
    args = parser.parse_args()
    if args.command == "measure":
        measure(args.quick)
    else:
        table(args.output_dir)


if __name__ == "__main__":
    main()
