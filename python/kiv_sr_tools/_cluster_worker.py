"""The worker side of a search spread over a Dask cluster.

A task is a pure function of its arguments: the search's settings and data and
the candidates every finished level retained. Each worker process keeps its
copy of a running search between tasks, keyed by the search's id, and brings it
up to the task's level from those arguments; a worker that never saw the
search (a replacement, or one that lost its memory) rebuilds it the same way.
Expansion and evaluation are deterministic, so every copy computes the same
bits as the driver's own search would.
"""

from __future__ import annotations

import threading
from collections import OrderedDict
from typing import Any, List, Tuple

from . import _native

# A worker keeps the copies of this many searches; the oldest goes first.
_KEPT_SEARCHES = 2


class _Copy:
    """One search's copy on this worker, used by one task at a time."""

    def __init__(self, settings: Tuple[Any, ...], rows: Any, targets: Any) -> None:
        self.lock = threading.Lock()
        self.handle = _native.search_start(settings, rows, targets, False)
        self.expanded = 1  # the highest level whose candidates were built

    def bring_to(self, level: int, retained: List[bytes]) -> None:
        """Retains the levels below `level` from `retained` (level k at k - 2), then builds level `level`."""
        levels, _ = _native.search_status(self.handle)
        for next_level in range(levels + 1, level):
            self._expand_to(next_level)
            _native.search_adopt_level(self.handle, retained[next_level - 2])
        self._expand_to(level)

    def _expand_to(self, level: int) -> None:
        if self.expanded != level:
            _native.search_expand(self.handle)
            self.expanded = level


_copies: "OrderedDict[str, _Copy]" = OrderedDict()
_copies_lock = threading.Lock()


def evaluate_chunk(
    search_id: str,
    settings: Tuple[Any, ...],
    rows: Any,
    targets: Any,
    retained: List[bytes],
    level: int,
    begin: int,
    end: int,
) -> bytes:
    """The evaluations of candidates [begin, end) of `level`, in the form search_absorb takes."""
    with _copies_lock:
        copy = _copies.get(search_id)
        if copy is None or copy.expanded > level:
            copy = _copies[search_id] = _Copy(settings, rows, targets)
            while len(_copies) > _KEPT_SEARCHES:
                _copies.popitem(last=False)
        _copies.move_to_end(search_id)
    with copy.lock:
        copy.bring_to(level, retained)
        return _native.search_evaluate(copy.handle, begin, end)


def forget(search_id: str) -> None:
    """Drops this worker's copy of the search."""
    with _copies_lock:
        _copies.pop(search_id, None)
