"""The module surface: docstrings, registration order, and which overload a call reaches."""

import json
import os
import re
import subprocess
import sys
import warnings

import numpy as np
import pytest
import velquin_interp
from helpers import (
    ELEMENT_TYPES,
    ONE_DIMENSIONAL,
    OVERLOADS,
    REFERENCES,
    assert_same_bits,
    each_one_dimensional,
    is_complex,
)


def test_module_docstring_and_contents():
    assert velquin_interp.__doc__ == (
        "Interpolation of uniformly sampled signal.\n"
        "Given a signal sampled at integer indices, interpolates at arbitrary x positions."
    )
    # The module's namespace keeps the order in which the functions were registered.
    assert [name for name in vars(velquin_interp) if not name.startswith("__")] == [
        "velquin_linear_interp",
        "velquin_linear_vertical_interp_2d",
        "velquin_cubic_interp",
    ]


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads ELF symbols with nm -D")
def test_only_the_entry_is_exported():
    # Anything else exported (standard-library instantiations, GNU unique symbols) would be
    # bound across every loaded copy of the module.
    listing = subprocess.run(
        ["nm", "-D", "--defined-only", velquin_interp.__file__],
        capture_output=True,
        text=True,
        check=True,
    ).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit_velquin_interp"]


# Modules built by `make wheels` with the wheels' compiler from tests/foreign/: one of
# someone else's, and one that shares this module's key for pybind11's shared state, as
# another copy of this module would.
OTHER_MODULES = os.environ.get("VELQUIN_OTHER_MODULES")


@pytest.mark.skipif(not OTHER_MODULES, reason="make wheels builds the other modules")
@pytest.mark.parametrize("other", ["other_module", "velquin_twin"])
@pytest.mark.parametrize("velquin_first", [False, True])
def test_messages_survive_other_pybind11_modules(other, velquin_first):
    # Each module that links its own C++ runtime has exception types of its own, unknown to
    # another module's translator: whichever module is imported first, both keep their
    # messages.
    order = ["velquin_interp", other] if velquin_first else [other, "velquin_interp"]
    script = f"""
import importlib
import numpy as np
modules = [importlib.import_module(name) for name in {order!r}]
velquin_interp, other = sorted(modules, key=lambda module: module.__name__ != "velquin_interp")
for call in (lambda: velquin_interp.velquin_linear_interp(np.zeros(1), np.zeros(5)),
             lambda: velquin_interp.velquin_cubic_interp(np.zeros(3), np.zeros(5), left="x"),
             other.fail):
    try:
        call()
    except Exception as error:
        print(type(error).__name__, str(error)[:38])
"""
    path = os.pathsep.join(filter(None, [OTHER_MODULES, os.environ.get("PYTHONPATH")]))
    run = subprocess.run(
        [sys.executable, "-c", script],
        env={**os.environ, "PYTHONPATH": path},
        capture_output=True,
        text=True,
        check=True,
    )
    assert run.stdout.splitlines() == [
        "RuntimeError Signal must have at least 2 points",
        "RuntimeError Unable to cast Python instance of type",
        "RuntimeError the other module's message",
    ]


def help_entries(function, element_types):
    """The (arguments, docstring) of each overload in the help text, checking that they are
    numbered in order and return the expected element types."""
    name = function.__name__
    entries = re.findall(rf"^(\d+)\. {name}\((.*)\) -> (.*)\n\n(.*)$", function.__doc__, re.M)
    assert [int(index) for index, *_ in entries] == list(range(1, len(element_types) + 1))
    for (_, _, returned, _), T in zip(entries, element_types, strict=True):
        assert returned == f"numpy.typing.NDArray[numpy.{np.dtype(T).name}]"
    return [(arguments, docstring) for _, arguments, _, docstring in entries]


@each_one_dimensional
def test_help_lists_overloads_in_registration_order(interp):
    entries = help_entries(interp, [T for T, _ in OVERLOADS])
    for (arguments, docstring), (T, X) in zip(entries, OVERLOADS, strict=True):
        t, x = np.dtype(T).name, np.dtype(X).name
        assert re.fullmatch(
            rf"signal: .*numpy\.{t}\], x: .*numpy\.{x}\], left: object = None, "
            r"right: object = None",
            arguments,
        )
        assert docstring == f"Linear interpolation of uniformly sampled signal for {t} data."


def test_vertical_help_lists_overloads_in_registration_order():
    entries = help_entries(velquin_interp.velquin_linear_vertical_interp_2d, ELEMENT_TYPES)
    for (arguments, docstring), T in zip(entries, ELEMENT_TYPES, strict=True):
        t = np.dtype(T).name
        assert re.fullmatch(rf"signal: .*numpy\.{t}\], x: [^,]*", arguments)
        assert docstring == (
            f"Linear vertical interpolation of uniformly sampled signal for {t} data."
        )


@each_one_dimensional
@pytest.mark.parametrize("T,X", OVERLOADS)
def test_exact_match_keeps_both_types(interp, T, X):
    signal = np.array([1, -2.5, 4, 0.125, 3], T) * (1 + 1j if is_complex(T) else 1)
    x = np.array([-1, 0.3, 1.7, 2.5, 3.5, 4], X)
    result = interp(signal, x)
    assert_same_bits(result, REFERENCES[interp](signal, x))
    by_keyword = interp(right=None, x=x, left=None, signal=signal)
    assert_same_bits(by_keyword, result)
    # Subclasses and dtypes that carry metadata are exact matches too.
    subclass = type("Subclass", (np.ndarray,), {})
    tagged = signal.astype(np.dtype(T, metadata={"unit": "V"}))
    assert_same_bits(interp(signal.view(subclass), x), result)
    assert_same_bits(interp(tagged, x.view(subclass)), result)
    # The position type shows on a long signal: a float32 bound rounds n - 1 = 2**24 + 1
    # down to 2**24, so only float32 positions fill there.
    long_signal = np.zeros(2**24 + 2, T)  # untouched pages: cheap
    filled = interp(long_signal, np.array([2**24], X), None, 1)[0] == 1
    assert filled == (X is np.float32)


CONVERTED = {
    "lists of floats": ([1.0, 2.5, -3.0], [0.5, 1.25], np.float32),
    "list of complex": ([1 + 2j, 3 + 6j], [0.5], np.complex64),
    "int64 positions": (np.array([1.0, 2.5, -3.0]), np.array([0, 1, 2]), np.float32),
    "int64 signal": (np.array([1, 4, 9]), np.array([0.5, 1.5]), np.float32),
    "float16 arrays": (np.array([1, 4, 9], np.float16), np.array([0.5], np.float16), np.float32),
    "byte-swapped float64": (np.array([1, 2 / 3], ">f8"), np.array([0.5]), np.float32),
    "byte-swapped positions": (np.array([1, 2 / 3]), np.array([0.5], ">f8"), np.float32),
    "None as NaN": (np.array([None, 1.0, 3.0]), [None, 0.5, 1.5], np.float32),
    "numeric strings": (["1", "2.5", "4"], np.array(["0.5", "1.25"]), np.float32),
}


@each_one_dimensional
@pytest.mark.parametrize("signal,x,dtype", CONVERTED.values(), ids=CONVERTED.keys())
def test_inexact_input_reaches_first_overload_that_converts(interp, signal, x, dtype):
    converted = np.asarray(signal).astype(dtype), np.asarray(x).astype(np.float64)
    assert_same_bits(interp(signal, x), REFERENCES[interp](*converted))


@each_one_dimensional
@pytest.mark.parametrize("T", [np.complex64, np.complex128])
def test_integer_positions_drop_imaginary_part_with_warning(interp, T):
    signal = np.array([1 + 2j, 3 + 6j, 5 - 1j], T)
    with pytest.warns(np.exceptions.ComplexWarning):
        result = interp(signal, np.array([0, 1, 2]))
    assert result.dtype == np.float32 and result.tolist() == [1, 3, 5]
    # As an error, the warning fails the float32 conversion and complex64 serves the call.
    with warnings.catch_warnings():
        warnings.simplefilter("error", np.exceptions.ComplexWarning)
        assert_same_bits(interp(signal, np.array([0, 1, 2])), signal.astype(np.complex64))


@each_one_dimensional
@pytest.mark.parametrize(
    "args,kwargs",
    [
        ((np.ones(3),), {}),
        ((np.ones(3), [0.5], None, None, None), {}),
        ((np.ones(3), [0.5]), {"fill": 0}),
        ((), {"signal": np.ones(3)}),
    ],
    ids=["too few", "too many", "unknown keyword", "keyword missing x"],
)
def test_wrong_arguments_raise_type_error(interp, args, kwargs):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        interp(*args, **kwargs)


# The module built without the shortcut that takes exact matches past pybind11's overload
# loop: `make test-levels` builds it and runs the test below against it.
DISPATCHER_BUILD = os.environ.get("VELQUIN_DISPATCHER_BUILD")


class FloatFill:
    """A fill value that converts through its own __float__, and notes how many references
    the signal has meanwhile (the call's own included)."""

    def __init__(self, signal):
        self.signal, self.references = signal, []

    def __float__(self):
        self.references.append(sys.getrefcount(self.signal))
        return 0.25


def call_shapes():
    """Every kind of call that pybind11's first pass sees, as (label, function name, args,
    kwargs, fill objects to report): exact matches with their fills by position and by
    keyword, and the calls around them that the dispatcher must take."""
    one_dimensional = ["velquin_linear_interp", "velquin_cubic_interp"]
    shapes = []
    for name in one_dimensional:
        for T, X in OVERLOADS:
            s = np.array([1, -2.5, 4, 0.125, 3, 7], T) * (1 + 1j if is_complex(T) else 1)
            x = np.array([-1, 0, 0.3, 1.7, 4.5, 5, np.nan], X)
            probe = FloatFill(s)
            fills = [None, 1.5, -2, True, 1 + 2j, "fill", np.float32(0.5), probe, [1.0]]
            tag = f"{name} {np.dtype(T).name}/{np.dtype(X).name}"
            shapes += [
                (f"{tag} positional", name, (s, x), {}, ()),
                (f"{tag} keywords reversed", name, (), {"x": x, "signal": s}, ()),
                (f"{tag} x by keyword", name, (s,), {"x": x, "right": -1.0}, ()),
                (f"{tag} x twice", name, (s, x), {"x": x}, ()),
                (f"{tag} signal twice", name, (s, x), {"signal": s}, ()),
                (f"{tag} misspelt", name, (s, x), {"lfet": 1.0}, ()),
                (f"{tag} too many", name, (s, x, None, None, None), {}, ()),
                (f"{tag} too few", name, (s,), {}, ()),
                (f"{tag} byte-swapped", name, (s.astype(s.dtype.newbyteorder()), x), {}, ()),
                (f"{tag} subclass", name, (s, x.view(type("Sub", (np.ndarray,), {}))), {}, ()),
                (f"{tag} 0-d positions", name, (s, x[2].reshape(())), {}, ()),
                (f"{tag} strided", name, (s[::2], x), {}, ()),
                (f"{tag} 2-d", name, (s.reshape(2, 3), x), {}, ()),
                (f"{tag} too short", name, (s[:1], x), {}, ()),
                (f"{tag} scalar positions", name, (s, 1.5), {}, ()),
                (f"{tag} list signal", name, (s.tolist(), x), {}, ()),
            ]
            for index, fill in enumerate(fills):
                reported = (probe,) if fill is probe else ()
                shapes += [
                    (f"{tag} fills {index} positional", name, (s, x, fill, fill), {}, reported),
                    (f"{tag} fills {index} by keyword", name, (s, x), {"right": fill}, reported),
                    (
                        f"{tag} fills {index} all by keyword",
                        name,
                        (),
                        {"left": fill, "x": x, "signal": s, "right": None},
                        reported,
                    ),
                ]
    for T in ELEMENT_TYPES:
        s = np.array([[1, 2.5, -4], [0.5, 8, 3], [2, -1, 6]], T)
        tag = f"rows {np.dtype(T).name}"
        for index, x in enumerate(
            [1.5, -0.0, np.float64(0.5), 2, True, np.float32(0.5), "1", None, 1e300, np.nan, 2**70]
        ):
            shapes += [
                (f"{tag} x {index}", "velquin_linear_vertical_interp_2d", (s, x), {}, ()),
                (
                    f"{tag} x {index} by keyword",
                    "velquin_linear_vertical_interp_2d",
                    (),
                    {"x": x, "signal": s},
                    (),
                ),
            ]
        shapes += [
            (f"{tag} transposed", "velquin_linear_vertical_interp_2d", (s.T, 0.5), {}, ()),
            (f"{tag} 1-d", "velquin_linear_vertical_interp_2d", (s[0], 0.5), {}, ()),
            (
                f"{tag} byte-swapped",
                "velquin_linear_vertical_interp_2d",
                (s.astype(s.dtype.newbyteorder()), 0.5),
                {},
                (),
            ),
            (f"{tag} too many", "velquin_linear_vertical_interp_2d", (s, 0.5, 1), {}, ()),
            (f"{tag} x twice", "velquin_linear_vertical_interp_2d", (s, 0.5), {"x": 0.5}, ()),
        ]
    return shapes


def call_outcomes():
    """Each call shape's outcome in the module this process imports: the result's dtype,
    shape and bytes, or the exception's type and message; and the references the fill
    objects saw."""
    outcomes = {}
    for label, name, args, kwargs, reported in call_shapes():
        # Warnings are errors, as in the suite: both processes see the same conversions fail.
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            try:
                result = getattr(velquin_interp, name)(*args, **kwargs)
                outcome = [result.dtype.str, list(result.shape), result.tobytes().hex()]
            except Exception as error:
                outcome = [type(error).__name__, str(error)]
        outcomes[label] = outcome + [probe.references for probe in reported]
    return outcomes


def dispatchers():
    """The C function that each function's method definition names: pybind11's dispatcher
    (the same for all three), or each function's own shortcut."""
    import ctypes

    header = object.__basicsize__  # PyCFunctionObject: the object header, then m_ml
    return {
        ctypes.c_void_p.from_address(
            ctypes.c_void_p.from_address(id(function) + header).value
            + ctypes.sizeof(ctypes.c_void_p)
        ).value
        for function in [*ONE_DIMENSIONAL, velquin_interp.velquin_linear_vertical_interp_2d]
    }


@pytest.mark.skipif(not DISPATCHER_BUILD, reason="make test-levels builds the module without it")
def test_shortcut_is_pybind11s_dispatch():
    # Calls whose arrays match an overload exactly skip pybind11's overload loop; every call
    # must reach the same overload, bits, exception and message as through the loop.
    assert len(dispatchers()) == 3
    script = "import json, test_module; print(json.dumps(test_module.call_outcomes()))"
    tests = os.path.dirname(__file__)
    run = subprocess.run(
        [sys.executable, "-c", script],
        env={**os.environ, "PYTHONPATH": os.pathsep.join([DISPATCHER_BUILD, tests])},
        capture_output=True,
        text=True,
        check=True,
    )
    through_dispatcher = json.loads(run.stdout)
    assert len(through_dispatcher) == len(call_shapes())  # one outcome per shape
    assert call_outcomes() == through_dispatcher
