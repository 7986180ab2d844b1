"""Optional dependencies, imported on first use so that `import kiv_sr_tools` needs NumPy only."""

from __future__ import annotations

import importlib
from types import ModuleType


def require(module: str, feature: str, package: str, extra: str) -> ModuleType:
    """`module`, imported; an ImportError that names the extra to install when it is missing."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise ImportError(f"{feature} needs {package}: pip install 'kiv_sr[{extra}]'") from error
