"""The fixed cost of a call: instructions and nanoseconds per call of each function at a
few to a thousand positions (one call per channel, pulse or row), in each build given,
beside numpy.interp on the same data and the floor of a call through CPython's C API.

    python benchmarks/calls.py NAME=DIR [NAME=DIR ...] [--quick] [--output-dir DIR]

Each NAME=DIR is a build of the module installed into DIR (an empty DIR: the module that
this Python imports); `make bench-calls` passes the GCC build and the wheel's (zig's
clang). The floor is benchmarks/call_floor.c, built here with the C compiler in CC or cc:
a fastcall function that checks two float64 arrays and returns a new array.

Instructions: each build runs once under `valgrind --tool=callgrind`, which counts what the
CPU executes whatever else the machine does (valgrind runs no AVX-512, so the module runs
its AVX2 kernels there). A case's cost is the slope of the count between two loops of
different lengths, less the slope of the empty loop: the call as a Python loop pays it.
Nanoseconds: the best of interleaved rounds, each build in its own process, less the
empty loop. Instruction counts are the figures to steer by on a shared machine.

Writes calls.md to the output directory (default benchmarks/). Asserts nothing.
"""

import argparse
import json
import os
import pathlib
import subprocess
import sys
import sysconfig
import tempfile
import time

import numpy as np

HERE = pathlib.Path(__file__).resolve().parent
POSITIONS = (1, 16, 64, 256, 1000)
SAMPLES = 1000
FILLS = {"left": 0.0, "right": 0.0}
# The loop lengths whose difference gives the slope.
SHORT_LOOP, LONG_LOOP = 100, 300
# The cases that run only beside the first build.
PEERS = ("numpy.interp, float64", "C-API floor: check two arrays, return a new one")


def cases():
    """Each case: (name, function name or None for a peer, signal dtype, positions dtype,
    keyword fills). Overload numbers as docs/reference.md gives them."""
    rows = []
    for label, T, X in [
        ("linear float32/float64 (1)", np.float32, np.float64),
        ("linear float32/float32 (5)", np.float32, np.float32),
        ("linear complex128/float64 (4)", np.complex128, np.float64),
        ("linear complex128/float32 (8)", np.complex128, np.float32),
    ]:
        rows.append((label, "velquin_linear_interp", T, X, False))
        rows.append((label + ", keyword fills", "velquin_linear_interp", T, X, True))
    rows.append(
        ("cubic float64/float64 (2)", "velquin_cubic_interp", np.float64, np.float64, False)
    )
    rows.append(
        (
            "cubic float64/float64 (2), keyword fills",
            "velquin_cubic_interp",
            np.float64,
            np.float64,
            True,
        )
    )
    rows.append(
        (
            "linear float64, int64 positions (converted)",
            "velquin_linear_interp",
            np.float64,
            np.int64,
            False,
        )
    )
    rows.append(("linear, lists (converted)", "velquin_linear_interp", list, list, False))
    rows.append(
        (
            "row function, 4 rows float64 (m columns)",
            "velquin_linear_vertical_interp_2d",
            np.float64,
            None,
            False,
        )
    )
    rows.append(("numpy.interp, float64", None, np.float64, np.float64, False))
    rows.append(
        ("C-API floor: check two arrays, return a new one", "floor", np.float64, np.float64, False)
    )
    return rows


def arguments(function_name, T, X, m):
    """The arguments of one call of the case at m positions."""
    rng = np.random.default_rng(m)
    if function_name == "velquin_linear_vertical_interp_2d":
        return (rng.standard_normal((4, m)).astype(T), 1.25)
    signal = rng.standard_normal(SAMPLES)
    x = np.sort(rng.uniform(-1.0, SAMPLES, m))
    if function_name is None:  # numpy.interp(x, xp, fp)
        return (x, np.arange(SAMPLES, dtype=np.float64), signal)
    if T is list:
        return (signal.tolist(), x.tolist())
    if np.issubdtype(X, np.integer):
        x = np.floor(x)
    return (
        (signal + 1j * signal).astype(T) if np.dtype(T).kind == "c" else signal.astype(T),
        x.astype(X),
    )


def loop(function, args, keywords):
    """A function that makes `count` calls as a Python loop makes them."""
    names = [f"a{index}" for index in range(len(args))]
    call = ", ".join(names + [f"{key}={key}" for key in keywords])
    namespace = {}
    # The loop is written out, so that it calls as user code does.
    exec(
        f"def run(function, {', '.join(names + list(keywords))}, count):\n"
        f"    for _ in range(count):\n"
        f"        function({call})\n",
        namespace,
    )
    run = namespace["run"]
    values = {**dict(zip(names, args, strict=True)), **keywords}
    return lambda count: run(function, **values, count=count)


def empty_loop(count):
    for _ in range(count):
        pass


def build_floor(directory):
    """Builds call_floor.c into `directory`; returns False where it cannot be built."""
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    command = [
        os.environ.get("CC", "cc"),
        "-O2",
        "-shared",
        "-fPIC",
        f"-I{sysconfig.get_paths()['include']}",
        f"-I{np.get_include()}",
        str(HERE / "call_floor.c"),
        "-o",
        str(pathlib.Path(directory) / f"call_floor{suffix}"),
    ]
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        print(result.stderr, file=sys.stderr)
    return result.returncode == 0


def worker_calls(with_peers, positions):
    """(name, m, make a loop of count calls) for every case of this worker."""
    import call_floor
    import velquin_interp

    peers = {None: np.interp, "floor": call_floor.floor}
    for name, function_name, T, X, keyword_fills in cases():
        if function_name in peers:
            if not with_peers:
                continue
            function = peers[function_name]
        else:
            function = getattr(velquin_interp, function_name)
        for m in positions:
            args = arguments(function_name, T, X, m)
            yield name, m, loop(function, args, FILLS if keyword_fills else {})


def worker(mode, with_peers, repeats, positions):
    """Runs every case and prints {"name|m": cost} as JSON: instructions (under callgrind)
    or the best nanoseconds per call over `repeats` loops, the empty loop's cost taken off."""
    import call_floor

    results = {}
    # The first dump of a process also counts what ran before the first zeroing.
    call_floor.callgrind_zero()
    call_floor.callgrind_dump("start")
    for name, m, run in [("empty loop", 0, empty_loop), *worker_calls(with_peers, positions)]:
        # Warm up NumPy's API, the level detection, the allocator and the interpreter's
        # specialisation of the loop.
        run(SHORT_LOOP)
        if mode == "instructions":
            for count in (SHORT_LOOP, LONG_LOOP):
                call_floor.callgrind_zero()
                run(count)
                call_floor.callgrind_dump(f"{name}|{m}|{count}")
        else:
            count = 200 if m <= 256 else 50
            best = min(_timed(run, count) for _ in range(repeats))
            results[f"{name}|{m}"] = best
    if mode == "time":
        empty = results.pop("empty loop|0")
        results = {case: value - empty for case, value in results.items()}
    print(json.dumps(results))


def _timed(run, count):
    start = time.perf_counter_ns()
    run(count)
    return (time.perf_counter_ns() - start) / count


def instruction_counts(directory, with_peers, floor_directory, positions):
    """Instructions per call of every case in the build in `directory`, from one process
    run under callgrind."""
    with tempfile.TemporaryDirectory() as output:
        environment = {
            **os.environ,
            "PYTHONPATH": os.pathsep.join(filter(None, [directory, floor_directory])),
        }
        command = [
            "valgrind",
            "--tool=callgrind",
            "--quiet",
            f"--callgrind-out-file={output}/out",
            sys.executable,
            __file__,
            "--worker",
            "instructions",
            "--positions",
            ",".join(map(str, positions)),
        ]
        if with_peers:
            command.append("--with-peers")
        subprocess.run(command, env=environment, check=True, stdout=subprocess.DEVNULL)
        totals = {}
        for dump in pathlib.Path(output).glob("out.*"):
            lines = dump.read_text().splitlines()
            trigger = next(line for line in lines if line.startswith("desc: Trigger"))
            if trigger.endswith(": start"):
                continue
            name, m, count = trigger.split("Client Request: ", 1)[1].rsplit("|", 2)
            total = next(int(line.split()[1]) for line in lines if line.startswith("summary:"))
            totals[name, int(m), int(count)] = total
    slopes = {
        (name, m): (totals[name, m, LONG_LOOP] - totals[name, m, SHORT_LOOP])
        / (LONG_LOOP - SHORT_LOOP)
        for name, m, _ in totals
    }
    empty = slopes.pop(("empty loop", 0))
    return {case: round(value - empty) for case, value in slopes.items()}


def times(builds, rounds, repeats, floor_directory, positions):
    """Nanoseconds per call of every case in every build, the best of `rounds` rounds in
    which the builds take turns, each in its own process."""
    best = {}
    for _ in range(rounds):
        for index, (build, directory) in enumerate(builds):
            environment = {
                **os.environ,
                "PYTHONPATH": os.pathsep.join(filter(None, [directory, floor_directory])),
            }
            command = [
                sys.executable,
                __file__,
                "--worker",
                "time",
                "--repeats",
                str(repeats),
                "--positions",
                ",".join(map(str, positions)),
            ]
            if index == 0:
                command.append("--with-peers")
            output = subprocess.run(
                command, env=environment, check=True, capture_output=True, text=True
            ).stdout
            for key, value in json.loads(output).items():
                name, m = key.rsplit("|", 1)
                case = build if name not in PEERS else "peer", name, int(m)
                best[case] = min(best.get(case, float("inf")), value)
    return best


def cpu_model():
    for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return "unknown CPU"


def table(builds, counts, nanoseconds, positions):
    names = [name for name, _ in builds]
    first = names[0]
    lines = []
    for m in positions:
        header = ["call"]
        for name in names:
            header += [f"{name} instr", f"{name} ns"]
        header.append(f"numpy.interp / {first} (time)")
        lines += [
            f"### {m} position{'s' if m > 1 else ''}",
            "",
            "| " + " | ".join(header) + " |",
            "|" + "---|" * len(header),
        ]
        interp = nanoseconds["peer", PEERS[0], m]
        for name, *_ in cases():
            if name in PEERS:
                cells = [name, f"{counts[first][name, m]:,}", f"{nanoseconds['peer', name, m]:.0f}"]
                cells += [""] * (len(header) - len(cells))
            else:
                cells = [name]
                for build in names:
                    cells += [f"{counts[build][name, m]:,}", f"{nanoseconds[build, name, m]:.0f}"]
                cells.append(f"{interp / nanoseconds[first, name, m]:.1f}x")
            lines.append("| " + " | ".join(cells) + " |")
        lines.append("")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("builds", nargs="*", help="NAME=DIR, the first the reference")
    parser.add_argument(
        "--quick", action="store_true", help="16 positions only, fewer rounds: a check that it runs"
    )
    parser.add_argument("--positions", help=argparse.SUPPRESS)
    parser.add_argument("--output-dir", type=pathlib.Path, default=HERE)
    parser.add_argument("--worker", choices=["instructions", "time"], help=argparse.SUPPRESS)
    parser.add_argument("--with-peers", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--repeats", type=int, default=20, help=argparse.SUPPRESS)
    arguments_ = parser.parse_args()
    if arguments_.worker:
        positions = [int(m) for m in arguments_.positions.split(",")]
        worker(arguments_.worker, arguments_.with_peers, arguments_.repeats, positions)
        return
    builds = [tuple(build.split("=", 1)) for build in arguments_.builds] or [("ours", "")]
    builds = [(name, os.path.abspath(directory) if directory else "") for name, directory in builds]
    rounds, repeats = (2, 5) if arguments_.quick else (7, 20)
    positions = (16,) if arguments_.quick else POSITIONS
    with tempfile.TemporaryDirectory() as floor_directory:
        if not build_floor(floor_directory):
            sys.exit(
                "error: benchmarks/call_floor.c did not build (needs cc and valgrind's headers)"
            )
        counts = {}
        for index, (name, directory) in enumerate(builds):
            print(f"instructions: {name}", flush=True)
            counts[name] = instruction_counts(directory, index == 0, floor_directory, positions)
        for name, _ in builds[1:]:
            counts[name].update(
                {case: value for case, value in counts[builds[0][0]].items() if case[0] in PEERS}
            )
        print("time: rounds", flush=True)
        nanoseconds = times(builds, rounds, repeats, floor_directory, positions)
    text = "\n".join(
        [
            "# The fixed cost of a call",
            "",
            f"CPU: {cpu_model()}. CPython {sys.version.split()[0]}, NumPy {np.__version__}; "
            f"signals of {SAMPLES} samples, positions sorted over the signal and beyond both ends.",
            "Instructions per call counted by callgrind (AVX2 kernels at most); nanoseconds per "
            "call, the best of interleaved rounds; both less the empty loop. "
            "Made by `make bench-calls` (benchmarks/calls.py).",
            "",
            table(builds, counts, nanoseconds, positions),
        ]
    )
    arguments_.output_dir.mkdir(parents=True, exist_ok=True)
    (arguments_.output_dir / "calls.md").write_text(text)
    print(text)


if __name__ == "__main__":
    main()
