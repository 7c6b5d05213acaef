"""Prints the requirements of one extra of pyproject.toml, one a line:
python packaging/extra.py test"""

import sys
from pathlib import Path

if sys.version_info >= (3, 11):
    import tomllib
else:
    import tomli as tomllib

project = tomllib.loads((Path(__file__).parent.parent / "pyproject.toml").read_text())
print("\n".join(project["project"]["optional-dependencies"][sys.argv[1]]))
