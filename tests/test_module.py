"""The module surface: docstrings, registration order, and which overload a call reaches."""

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
