"""The names formulas give their input columns: x0, x1, ... unless the caller names them."""

from __future__ import annotations

import re
from typing import List, Optional, Sequence

_VARIABLE_TEXT = re.compile(r"v_\{(\d+)\}")


def variable_names(count: int, names: Optional[Sequence[str]] = None) -> List[str]:
    """Names of columns 0 .. count-1; ValueError if `names` has fewer than `count`."""
    if names is None:
        return [f"x{column}" for column in range(count)]
    if len(names) < count:
        raise ValueError(f"the formula reads {count} columns but {len(names)} names were given")
    return [str(name) for name in names]


def with_names(formula: str, names: Optional[Sequence[str]] = None) -> str:
    """The engine's formula text with each v_{j} replaced by column j's name."""
    count = max((int(column) + 1 for column in _VARIABLE_TEXT.findall(formula)), default=0)
    chosen = variable_names(count, names)
    return _VARIABLE_TEXT.sub(lambda match: chosen[int(match[1])], formula)
