"""The shipped type stubs: they describe every registered overload, and mypy and pyright type
each call the way the module dispatches it."""

import ast
import importlib.metadata
import re
import runpy
import subprocess
import sys
import types
import typing
from pathlib import Path

import numpy as np
import pytest
import velquin_interp

USAGE = Path(__file__).parent / "typing" / "usage.py"
FUNCTIONS = [
    velquin_interp.velquin_linear_interp,
    velquin_interp.velquin_linear_vertical_interp_2d,
    velquin_interp.velquin_cubic_interp,
]
# A cache of mypy's own would land in the working tree; /dev/null turns it off.
MYPY = [sys.executable, "-m", "mypy", "--strict", "--cache-dir", "/dev/null"]
PYRIGHT = [
    sys.executable,
    "-m",
    "pyright",
    "--project",
    str(USAGE.parent),
    "--pythonpath",
    sys.executable,
]
EXACT = {"np.float32", "np.float64", "np.complex64", "np.complex128"}


def installed_stub():
    [stub] = [
        f
        for f in importlib.metadata.files("velquin_interp")
        if f.as_posix() == "velquin_interp-stubs/__init__.pyi"
    ]
    return Path(stub.locate())


def runtime_overloads(function):
    """Each overload's signature, as the help text renders it, in registration order."""
    return re.findall(rf"^\d+\. {function.__name__}(\(.*\) -> .*)$", function.__doc__, re.M)


def exact_stub_overloads(name):
    """The stub's overloads for exactly typed arrays, in its order, rendered as the help text
    renders a registered overload (which declares the fill values as objects). The others
    stand for arrays of unknown dtype and for converted input."""

    def render(annotation):
        text = ast.unparse(annotation)
        if text == "float":
            return "typing.SupportsFloat | typing.SupportsIndex"
        if text.endswith("Fill"):
            return "object"
        return text.replace("np.", "numpy.")

    def is_exact(annotation):
        return ast.unparse(annotation) in {f"NDArray[{t}]" for t in EXACT} | {"float"}

    tree = ast.parse(installed_stub().read_text())
    rendered = []
    for node in tree.body:
        if not isinstance(node, ast.FunctionDef) or node.name != name:
            continue
        arguments = node.args.args
        if not all(is_exact(a.annotation) for a in arguments[:2]):
            continue
        defaults = [None] * (len(arguments) - len(node.args.defaults)) + node.args.defaults
        parts = [
            f"{a.arg}: {render(a.annotation)}" + (f" = {ast.unparse(d)}" if d else "")
            for a, d in zip(arguments, defaults, strict=True)
        ]
        rendered.append(f"({', '.join(parts)}) -> numpy.typing.{render(node.returns)}")
    return rendered


@pytest.mark.parametrize("function", FUNCTIONS, ids=lambda f: f.__name__)
def test_stub_has_every_registered_overload_in_order(function):
    runtime = [
        signature.replace("typing.Annotated[numpy.typing.ArrayLike, ", "NDArray[")
        for signature in runtime_overloads(function)
    ]
    assert len(runtime) in (4, 8)
    assert exact_stub_overloads(function.__name__) == runtime


def test_stubtest_finds_stub_and_module_in_agreement():
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "velquin_interp"], capture_output=True, text=True
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_fill_values_are_typed_by_signal_kind():
    """Real signals take real fill values; complex signals also complex ones."""
    tree = ast.parse(installed_stub().read_text())
    for node in tree.body:
        if isinstance(node, ast.FunctionDef) and len(node.args.args) == 4:
            signal, _, left, right = (ast.unparse(a.annotation) for a in node.args.args)
            if signal in {"NDArray[np.float32]", "NDArray[np.float64]"}:
                assert left == right == "_RealFill", ast.unparse(node.args)
            elif signal in {"NDArray[np.complex64]", "NDArray[np.complex128]"}:
                assert left == right == "_ComplexFill", ast.unparse(node.args)


NEW_ENOUGH_NUMPY = pytest.mark.skipif(
    tuple(map(int, np.__version__.split(".")[:2])) < (2, 2),
    reason="NumPy's own stubs type np.float64 as a float from 2.2 on",
)


@NEW_ENOUGH_NUMPY
@pytest.mark.parametrize("checker", [MYPY, PYRIGHT], ids=["mypy", "pyright"])
def test_type_checker_gives_each_call_its_result_type(checker):
    result = subprocess.run([*checker, str(USAGE)], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr


def scalar_types(annotation):
    """The scalar types that an NDArray annotation, or a union of them, allows (Any: all)."""
    if isinstance(annotation, types.UnionType):
        return {t for arm in typing.get_args(annotation) for t in scalar_types(arm)}
    last = typing.get_args(annotation)[-1]  # T, or dtype[T] where NDArray spells out its shape
    return {typing.get_args(last)[0] if typing.get_origin(last) is np.dtype else last}


def test_types_given_in_usage_are_the_runtime_types():
    """Every assert_type in the usage file, and every annotated assignment of a call's
    result, names a dtype that the call returns at run time, so the stubs cannot drift from
    the dispatch they describe."""
    namespace = runpy.run_path(str(USAGE))
    checks = []
    for node in ast.walk(ast.parse(USAGE.read_text())):
        if isinstance(node, ast.Call) and getattr(node.func, "id", "") == "assert_type":
            checks.append((node, *node.args))
        elif isinstance(node, ast.AnnAssign) and isinstance(node.value, ast.Call):
            checks.append((node, node.target, node.annotation))
    assert len(checks) >= 10
    for check, result_node, expected_node in checks:
        result = eval(ast.unparse(result_node), namespace)
        allowed = scalar_types(eval(ast.unparse(expected_node), namespace))
        assert typing.Any in allowed or result.dtype.type in allowed, ast.unparse(check)
