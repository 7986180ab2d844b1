"""The worker side of a search spread over a Dask cluster.

A task is a pure function of its arguments: the search's searcher, operators
and data and the candidates every finished level retained. Each worker process
keeps its copy of a running search between tasks, keyed by the search's id, and
brings it up to the task's level from those arguments; a worker that never saw
the search (a replacement, or one that lost its memory) rebuilds it the same way.
Copies are kept per worker, also when several workers share one process.
Expansion and evaluation are deterministic, so every copy computes the same
bits as the driver's own search would.
"""

from __future__ import annotations

import threading
from collections import OrderedDict
from typing import Any, List, Optional, Tuple

import distributed

from kiv_sr import Searcher

from . import _native

# A process keeps this many copies (one per search and worker in it); the
# least recently used goes first.
_KEPT_COPIES = 8


class _Copy:
    """One search's copy on this worker, used by one task at a time."""

    def __init__(self, searcher: Searcher, operators: Optional[Tuple[str, ...]], rows: Any, targets: Any) -> None:
        self.lock = threading.Lock()
        self.handle = _native.search_start(searcher, rows, targets, False, operators=operators)
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


_copies: "OrderedDict[Tuple[str, str], _Copy]" = OrderedDict()
_copies_lock = threading.Lock()


def evaluate_chunk(
    search_id: str,
    searcher: Searcher,
    operators: Optional[Tuple[str, ...]],
    rows: Any,
    targets: Any,
    retained: List[bytes],
    level: int,
    begin: int,
    end: int,
) -> bytes:
    """The evaluations of candidates [begin, end) of `level`, in the form search_absorb takes."""
    key = (distributed.get_worker().id, search_id)
    with _copies_lock:
        copy = _copies.get(key)
        if copy is None or copy.expanded > level:
            copy = _copies[key] = _Copy(searcher, operators, rows, targets)
            while len(_copies) > _KEPT_COPIES:
                _copies.popitem(last=False)
        _copies.move_to_end(key)
    with copy.lock:
        copy.bring_to(level, retained)
        return _native.search_evaluate(copy.handle, begin, end)


def forget(search_id: str, dask_worker: Any) -> None:
    """Drops this worker's copy of the search (run through Client.run, which passes the worker)."""
    with _copies_lock:
        _copies.pop((dask_worker.id, search_id), None)
