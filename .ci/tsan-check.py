"""Reads ThreadSanitizer's reports (one file per process) and fails on any data race whose
racing accesses all lie in the module's file (its own code, and the headers of pybind11,
CPython and the C++ library compiled into it): ThreadSanitizer sees every synchronisation there, so
such a report is a race of the module's.

A report with an access in an uninstrumented file (the interpreter, NumPy) is listed, not
failed: ThreadSanitizer does not see the synchronisation in that code (the locks of a dict
or list that hand an object to another thread, the allocator that reuses its memory), so
it takes the access there as unordered with the module's. Each access is placed by its
first frame outside ThreadSanitizer's runtime.

    python tsan-check.py REPORT_DIR
"""

import collections
import pathlib
import re
import sys

MODULE = "velquin_interp"
FRAME = re.compile(r"^\s+#\d+ (?P<function>.*?) (?P<where>\S+) \((?P<object>[^+)]+)")
# The lines that start each access's stack, and the end of the stacks that matter.
ACCESS = re.compile(r"^  (?:(?:Previous )?(?:[Aa]tomic )?(?:[Rr]ead|[Ww]rite)|Location is)")
OTHER_SECTION = re.compile(r"^  (?:Mutex|Thread) ")


def reports(folder):
    for path in sorted(pathlib.Path(folder).glob("tsan*")):
        for block in path.read_text(errors="replace").split("==================\n"):
            if "WARNING: ThreadSanitizer:" in block:
                yield block


def first_frames(block):
    """The first frame outside ThreadSanitizer's runtime of each access's stack."""
    firsts, current = [], None
    for line in block.splitlines():
        if ACCESS.match(line) and not line.startswith("  Location is"):
            current = []
            firsts.append(current)
        elif OTHER_SECTION.match(line) or line.startswith("  Location is"):
            current = None
        elif (
            current is not None
            and not current
            and (m := FRAME.match(line))
            and pathlib.Path(m["object"]).name != "libtsan.so"
        ):
            current.append(m.groupdict())
    return [frames[0] for frames in firsts if frames]


def origin(frame):
    if MODULE not in pathlib.Path(frame["object"]).name:
        return "uninstrumented " + pathlib.Path(frame["object"]).name
    where = frame["where"]
    if "/pybind11/" in where:
        return "pybind11's headers"
    if "/include/python3" in where:
        return "CPython's headers"
    if re.search(r"/include/c\+\+/|/bits/", where):
        return "the C++ library's headers"
    return "the module"


def main(folder):
    found = collections.Counter()
    own = []
    for block in reports(folder):
        kind = re.search(r"WARNING: ThreadSanitizer: (.*?)(?: \(pid=\d+\))?$", block, re.M)
        origins = sorted({origin(frame) for frame in first_frames(block)}) or ["unknown"]
        in_module_file = all(not o.startswith(("uninstrumented", "unknown")) for o in origins)
        found[(kind[1] if kind else "?", " / ".join(origins), in_module_file)] += 1
        if in_module_file:
            own.append(block)
    for (kind, where, in_module_file), count in sorted(found.items()):
        reason = "" if in_module_file else ", synchronised in uninstrumented code"
        print(f"{count:5d}  {kind}: accesses in {where}{reason}")
    if own:
        print("==================\n".join(own))
        print(f"error: {len(own)} ThreadSanitizer reports of the module's", file=sys.stderr)
        return 1
    print("no ThreadSanitizer report of the module's")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
