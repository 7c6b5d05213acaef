"""The installed distribution: its metadata, and the files the wheel puts in place."""

import importlib.machinery
import importlib.metadata
import sys
from pathlib import Path

import pytest

if sys.version_info >= (3, 11):
    import tomllib
else:
    import tomli as tomllib

ROOT = Path(__file__).parent.parent
PROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]


@pytest.fixture(scope="module")
def metadata():
    return importlib.metadata.metadata("velquin_interp")


def test_version_is_the_projects(metadata):
    assert importlib.metadata.version("velquin_interp") == PROJECT["version"]
    assert metadata["Version"] == PROJECT["version"]


def test_metadata_is_complete(metadata):
    assert metadata["Name"] == "velquin_interp"
    assert metadata["Summary"] == PROJECT["description"]
    assert metadata["License-Expression"] == "MIT"
    assert metadata["Requires-Python"] == ">=3.10"
    assert "numpy>=1.26" in metadata.get_all("Requires-Dist")
    assert metadata["Keywords"].split(",") == PROJECT["keywords"]
    classifiers = metadata.get_all("Classifier")
    assert classifiers == PROJECT["classifiers"]
    running = f"Programming Language :: Python :: {sys.version_info[0]}.{sys.version_info[1]}"
    assert {running, "Typing :: Typed"} <= set(classifiers)
    assert metadata["Description-Content-Type"] == "text/markdown"
    # The description is the body, after the headers (read as text: Python 3.10's metadata
    # object gives no payload).
    body = importlib.metadata.distribution("velquin_interp").read_text("METADATA").split("\n\n", 1)
    assert body[1].strip() == (ROOT / "README.md").read_text().strip()


def test_wheel_installs_module_stubs_and_license():
    files = {f.as_posix() for f in importlib.metadata.files("velquin_interp")}
    assert "velquin_interp-stubs/__init__.pyi" in files
    # velquin_interp.cpython-312-x86_64-linux-gnu.so, velquin_interp.cp312-win_amd64.pyd, ...
    module_file = f"velquin_interp{importlib.machinery.EXTENSION_SUFFIXES[0]}"
    assert module_file in files
    assert any(f.endswith("licenses/LICENSE") for f in files)
