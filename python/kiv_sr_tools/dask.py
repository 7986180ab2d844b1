"""Searches on a Dask cluster (`distributed`): many searches at once, or one
search whose levels are evaluated by all the cluster's workers.

`map_searches` runs whole searches as tasks, one per data set. `find_candidates`,
`find_multivariate` and `find_function` run one search as the Searcher methods
of the same names would on this machine, and return the same results bit for
bit: this process expands each level and keeps the Pareto front and the beam,
while the level's candidates are evaluated in chunks, one task each, by workers
that rebuild the same level themselves (see `_cluster_worker`). Per level, the
workers receive the candidates the previous level retained (their indices and
refined constants) and send back, per chunk, the index, error and refined
constants of each scored candidate.
"""

from __future__ import annotations

import contextlib
import sys
import time
import uuid
from typing import Any, Dict, Iterable, Iterator, List, NamedTuple, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from kiv_sr import Searcher, SearchResult

from . import _cluster_worker, _native
from ._optional import require
from .search import check_budget, warn_if_stopped

distributed = require("distributed", "kiv_sr_tools.dask", "Dask distributed", "dask")

_METHODS = ("find_function", "find_multivariate", "find_candidates")

# Chunks per worker thread in a level when no chunk size is given: with 4, a
# worker idled at the end of each level while another finished its last
# chunk (1.18x the in-process time on 2 workers, against 1.07x with 16); each
# chunk costs only its index range and 32 bytes more coming back.
_CHUNKS_PER_THREAD = 16


def map_searches(
    client: Any,
    searcher: Searcher,
    datasets: Iterable[Tuple[npt.ArrayLike, npt.ArrayLike]],
    method: str = "find_multivariate",
    **arguments: Any,
) -> List[Any]:
    """One future per (X, y) of `datasets`, of `searcher.<method>(X, y, **arguments)`
    run on a worker (its progress goes to the worker's standard output). Each data
    set is sent to the cluster once."""
    if method not in _METHODS:
        raise ValueError(f"method must be one of {', '.join(_METHODS)}; got {method!r}")
    token = uuid.uuid4().hex[:8]
    futures = []
    for number, (X, y) in enumerate(datasets):
        X_future, y_future = client.scatter([np.asarray(X), np.asarray(y)], hash=False)
        futures.append(
            client.submit(
                _run_search, searcher, method, X_future, y_future, arguments, key=f"kiv-{method}-{number}-{token}"
            )
        )
    return futures


def _run_search(searcher: Searcher, method: str, X: Any, y: Any, arguments: Dict[str, Any]) -> Any:
    return getattr(searcher, method)(X, y, **arguments)


def find_candidates(
    client: Any,
    searcher: Searcher,
    X: npt.ArrayLike,
    y: npt.ArrayLike,
    alpha: Optional[float] = None,
    l1_ratio: Optional[float] = None,
    *,
    max_time: Optional[float] = None,
    chunk_size: Optional[int] = None,
    verbose: bool = True,
    operators: Optional[Sequence[str]] = None,
) -> List[SearchResult]:
    """`searcher.find_candidates(X, y, alpha, l1_ratio)`, each level's candidates
    evaluated on the cluster in chunks of `chunk_size` (None: a few chunks per
    worker thread). Stops after `max_time` seconds or at Ctrl-C with the front
    of the levels completed, as `kiv_sr_tools.find_candidates` does.
    `verbose=False` prints no progress. `operators` names the operators the
    search builds formulas with, as for `kiv_sr_tools.find_candidates`."""
    check_budget(max_time)
    if chunk_size is not None and not (isinstance(chunk_size, int) and chunk_size > 0):
        raise ValueError(f"chunk_size must be a positive integer or None; got {chunk_size!r}")
    searcher = with_penalty(searcher, alpha, l1_ratio)
    # The data go to the engine as given, so that it reads or refuses them as every search does.
    driver = _native.search_start(searcher, X, y, True, operators=operators)
    rows, targets = np.asarray(X, dtype=np.float64), np.asarray(y, dtype=np.float64)
    # The workers rebuild the search with the same operators, which the driver has accepted.
    chosen = None if operators is None else tuple(operators)
    search = _ClusterSearch(client, searcher, chosen, rows, targets, driver, chunk_size, verbose)
    deadline = None if max_time is None else time.monotonic() + max_time
    stopped_by = search.run(deadline)
    warn_if_stopped(stopped_by, _native.search_status(driver)[0], max_time, searcher.max_complexity)
    return _native.search_front(driver)


def with_penalty(searcher: Searcher, alpha: Optional[float], l1_ratio: Optional[float]) -> Searcher:
    """`searcher` with its alpha and l1_ratio replaced where given, as a per-call override does."""
    if alpha is None and l1_ratio is None:
        return searcher
    return Searcher(
        searcher.max_complexity,
        searcher.complexity_penalty,
        searcher.beam_width,
        searcher.alpha if alpha is None else alpha,
        searcher.l1_ratio if l1_ratio is None else l1_ratio,
    )


def find_multivariate(
    client: Any, searcher: Searcher, X: npt.ArrayLike, y: npt.ArrayLike, *args: Any, **kwargs: Any
) -> SearchResult:
    """`searcher.find_multivariate(X, y, ...)` on the cluster; arguments as for `find_candidates`."""
    return find_candidates(client, searcher, X, y, *args, **kwargs)[0]


def find_function(
    client: Any, searcher: Searcher, xs: npt.ArrayLike, ys: npt.ArrayLike, *args: Any, **kwargs: Any
) -> SearchResult:
    """`searcher.find_function(xs, ys, ...)` on the cluster: one input column."""
    return find_multivariate(client, searcher, np.asarray(xs, dtype=np.float64).reshape(-1, 1), ys, *args, **kwargs)


class LevelRecord(NamedTuple):
    """What one level of a cluster search did, for benchmarks: its candidates and
    chunks, its seconds and of those the driver's own (expanding; ranking and
    retaining), the bytes of its retained candidates (sent to every worker) and
    the bytes of evaluations the chunks sent back."""

    level: int
    candidates: int
    chunks: int
    seconds: float
    expand_seconds: float
    retain_seconds: float
    retained_bytes: int
    received_bytes: int


class _ClusterSearch:
    """The driver of one search: expands, gathers the chunks' evaluations, retains."""

    def __init__(
        self,
        client: Any,
        searcher: Searcher,
        operators: Optional[Tuple[str, ...]],
        rows: npt.NDArray[np.float64],
        targets: npt.NDArray[np.float64],
        driver: Any,
        chunk_size: Optional[int],
        verbose: bool,
    ) -> None:
        self.client = client
        self.searcher = searcher
        self.operators = operators
        self.verbose = verbose
        self.driver = driver
        self.chunk_size = chunk_size
        self.token = uuid.uuid4().hex[:8]
        # What the chunks read, kept here too: the cluster keeps one copy of
        # scattered data that no task waits for, which a dying worker may take along.
        self.inputs: List[Any] = [rows, targets]  # then each finished level's retained candidates, from level 2
        self.scattered: List[Any] = client.scatter(self.inputs, broadcast=True, hash=False)
        self.levels: List[LevelRecord] = []

    def run(self, deadline: Optional[float]) -> Optional[str]:
        """Runs the levels; None, or "time" / "interrupt" when stopped early."""
        pending: Dict[Any, Tuple[int, int]] = {}
        try:
            self._echo()
            while not _native.search_status(self.driver)[1]:
                if deadline is not None and time.monotonic() >= deadline:
                    return "time"
                start = time.perf_counter()
                count = _native.search_expand(self.driver)
                expanded = time.perf_counter()
                pending = self._submit_level(count)
                received = self._gather(pending, deadline)
                if received is None:
                    return "time"
                gathered = time.perf_counter()
                retained = _native.search_finish_level(self.driver)
                self.inputs.append(retained)
                self.scattered.append(self.client.scatter(retained, broadcast=True, hash=False))
                finished = time.perf_counter()
                level, seconds = len(self.levels) + 2, finished - start
                driver = (expanded - start, finished - gathered)
                self.levels.append(LevelRecord(level, count, len(pending), seconds, *driver, len(retained), received))
                self._echo()
            return None
        except KeyboardInterrupt:
            return "interrupt"
        finally:
            self._echo()
            # A closed client has released its tasks and can reach no worker.
            if self.client.status == "running":
                self.client.cancel(list(pending))
                with contextlib.suppress(Exception):
                    self.client.run(_cluster_worker.forget, self.token)

    def _echo(self) -> None:
        """Writes the driver's progress text where print() would, unless quiet."""
        text = _native.search_output(self.driver)
        if text and self.verbose and sys.stdout is not None:
            sys.stdout.write(text)
            sys.stdout.flush()

    def _submit_level(self, count: int) -> Dict[Any, Tuple[int, int]]:
        """The level's chunk tasks, each with the candidate range it evaluates."""
        chunks = enumerate(_chunks(count, self._chunk_size(count)))
        return {self._submit_chunk(begin, end, f"chunk{number}"): (begin, end) for number, (begin, end) in chunks}

    def _submit_chunk(self, begin: int, end: int, name: str) -> Any:
        level = _native.search_status(self.driver)[0] + 1
        rows, targets, *retained = self.scattered
        return self.client.submit(
            _cluster_worker.evaluate_chunk,
            self.token,
            self.searcher,
            self.operators,
            rows,
            targets,
            retained,
            level,
            begin,
            end,
            key=f"kiv-level{level}-{name}-{self.token}",
        )

    def _resubmitted(self, begin: int, end: int) -> Any:
        """The chunk submitted again after its data were lost, scattered anew where they were."""
        if any(future.status != "finished" for future in self.scattered):
            self.scattered = self.client.scatter(self.inputs, broadcast=True, hash=False)
        return self._submit_chunk(begin, end, f"again-{uuid.uuid4().hex[:8]}")

    def _chunk_size(self, count: int) -> int:
        if self.chunk_size is not None:
            return self.chunk_size
        threads = max(1, int(sum(self.client.nthreads().values())))
        return max(1, -(-count // (threads * _CHUNKS_PER_THREAD)))

    def _gather(self, bounds: Dict[Any, Tuple[int, int]], deadline: Optional[float]) -> Optional[int]:
        """Takes in the chunks' evaluations as they arrive; the bytes received, or None when
        the deadline came first."""
        timeout = None if deadline is None else max(0.0, deadline - time.monotonic())
        received = 0
        arrivals = distributed.as_completed(bounds, timeout=timeout)
        try:
            for future in arrivals:
                begin, end = bounds[future]
                try:
                    evaluated = future.result()
                except distributed.client.FutureCancelledError:
                    if self.client.status != "running":
                        raise
                    retry = self._resubmitted(begin, end)
                    bounds[retry] = (begin, end)
                    arrivals.add(retry)
                    continue
                _native.search_absorb(self.driver, evaluated, end - begin)
                received += len(evaluated)
                self._echo()
        except distributed.TimeoutError:
            return None
        return received


def _chunks(count: int, size: int) -> Iterator[Tuple[int, int]]:
    for begin in range(0, count, size):
        yield begin, min(count, begin + size)


