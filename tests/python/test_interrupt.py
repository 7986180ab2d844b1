"""Ctrl-C and other signals stop a running search at any moment; the process
stays usable and later searches are unaffected."""

import os
import random
import select
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

import kiv_sr

# argv[1] rounds of a search that never ends on its own (noise has no closed
# form and max_complexity has no reachable end), each stopped by the parent
# with SIGINT; then the reference search, whose front is printed.
CHILD = textwrap.dedent(
    """
    import sys
    import numpy as np
    import kiv_sr

    rng = np.random.default_rng(0)
    xs, ys = rng.uniform(-3.0, 3.0, 200), rng.standard_normal(200)
    endless = kiv_sr.Searcher(max_complexity=2**64 - 1, beam_width=200)
    for round in range(int(sys.argv[1])):
        try:
            print("start", round, flush=True)
            endless.find_function(xs, ys)
            print("finished", round, flush=True)
        except KeyboardInterrupt:
            print("interrupted", round, flush=True)

    inputs = rng.uniform(0.5, 2.0, size=(30, 2))
    targets = inputs[:, 0] * np.exp(inputs[:, 1]) + 0.1 * rng.standard_normal(30)
    front = kiv_sr.Searcher(max_complexity=4, beam_width=40).find_candidates(inputs, targets)
    print("front", [repr(result) for result in front], flush=True)
    """
)

ROUNDS = 8
LONGEST_DELAY = 0.4  # seconds; a round of the endless search only ends by the signal
HANG_GUARD_SECONDS = 120


class Child:
    """The CHILD script in a subprocess, its standard output read as it comes."""

    def __init__(self, rounds):
        self.process = subprocess.Popen(
            [sys.executable, "-c", CHILD, str(rounds)], stdout=subprocess.PIPE, stderr=subprocess.PIPE
        )
        self.output = b""

    def wait_for(self, marker):
        """Reads until `marker` has appeared (progress lines come in between)."""
        deadline = time.monotonic() + HANG_GUARD_SECONDS
        while marker not in self.output:
            remaining = deadline - time.monotonic()
            assert remaining > 0, f"no {marker!r} within {HANG_GUARD_SECONDS}s"
            ready, _, _ = select.select([self.process.stdout], [], [], remaining)
            chunk = os.read(self.process.stdout.fileno(), 65536) if ready else b""
            assert chunk or not ready, f"exited before {marker!r}: {self.finish()[1]}"
            self.output += chunk

    def finish(self):
        """Return code and standard error, once the process has exited."""
        try:
            rest, errors = self.process.communicate(timeout=HANG_GUARD_SECONDS)
        finally:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()
        self.output += rest
        return self.process.returncode, errors.decode()


def front_line(output):
    return next(line for line in output.decode().split("\n") if line.startswith("front "))


def test_repeated_sigint_at_random_moments_leaves_later_searches_unchanged():
    delays = [0.0] + [random.uniform(0.0, LONGEST_DELAY) for _ in range(ROUNDS - 1)]
    child = Child(ROUNDS)
    try:
        for round, delay in enumerate(delays):
            child.wait_for(f"start {round}\n".encode())
            time.sleep(delay)
            child.process.send_signal(signal.SIGINT)
            child.wait_for(f"interrupted {round}\n".encode())
    finally:
        status, errors = child.finish()
    assert status == 0, f"delays {delays}: {errors}"
    assert b"finished" not in child.output
    fresh = Child(0)
    fresh_status, fresh_errors = fresh.finish()
    assert fresh_status == 0, fresh_errors
    assert front_line(child.output) == front_line(fresh.output), f"delays {delays}"


class Stop(Exception):
    pass


def test_exception_of_a_signal_handler_stops_the_search():
    def handler(signum, frame):
        raise Stop("alarm")

    rng = np.random.default_rng(1)
    xs, ys = rng.uniform(-3.0, 3.0, 300), rng.standard_normal(300)
    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.5)
        with pytest.raises(Stop, match="alarm"):
            kiv_sr.Searcher().find_function(xs, ys)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert kiv_sr.Searcher(max_complexity=1).find_function([1.0, 2.0], [1.0, 2.0]).formula == "v_{0}"
