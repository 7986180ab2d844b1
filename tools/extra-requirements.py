"""Prints the requirements of one optional-dependency group of pyproject.toml,
one per line, so that the Makefile installs exactly what the project declares."""

import sys
import tomllib
from pathlib import Path

project = tomllib.loads((Path(__file__).parent.parent / "pyproject.toml").read_text())["project"]
print("\n".join(project["optional-dependencies"][sys.argv[1]]))
