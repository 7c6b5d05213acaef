"""Prints the requirements of one extra of pyproject.toml, one a line, or with
`build-system` those of the build itself and the CMake and Ninja it runs (an isolated build
would fetch these; a build without isolation needs them installed):
python packaging/extra.py test"""

import sys
from pathlib import Path

if sys.version_info >= (3, 11):
    import tomllib
else:
    import tomli as tomllib

pyproject = tomllib.loads((Path(__file__).parent.parent / "pyproject.toml").read_text())
if sys.argv[1] == "build-system":
    print("\n".join([*pyproject["build-system"]["requires"], "cmake", "ninja"]))
else:
    print("\n".join(pyproject["project"]["optional-dependencies"][sys.argv[1]]))
