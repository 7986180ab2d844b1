"""Ctrl-C and other signals stop a running search; the module stays usable."""

import os
import signal
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import kiv_sr

# Noise has no closed form: a default search on it builds all ten levels,
# which takes far longer than the hang guard below.
LONG_SEARCH = textwrap.dedent(
    """
    import numpy as np
    import kiv_sr

    rng = np.random.default_rng(0)
    xs, ys = rng.uniform(-3.0, 3.0, 300), rng.standard_normal(300)
    try:
        kiv_sr.Searcher().find_function(xs, ys)
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
    result = kiv_sr.Searcher(max_complexity=3, beam_width=20).find_function([1.0, 2.0], [2.0, 3.0])
    print("usable", result.formula, flush=True)
    """
)

HANG_GUARD_SECONDS = 120


def read_until(stream, marker):
    """Bytes read from `stream` up to and including the first `marker`."""
    seen = b""
    while marker not in seen:
        chunk = os.read(stream.fileno(), 4096)
        if not chunk:
            break
        seen += chunk
    return seen


def test_sigint_during_a_search_raises_keyboard_interrupt():
    child = subprocess.Popen([sys.executable, "-c", LONG_SEARCH], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        # Interrupt once the workers are busy with level 3.
        before = read_until(child.stdout, b"Level 2 processed")
        assert b"Level 2 processed" in before
        child.send_signal(signal.SIGINT)
        after, errors = child.communicate(timeout=HANG_GUARD_SECONDS)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    output = (before + after).decode()
    assert child.returncode == 0, errors.decode()
    assert "interrupted" in output
    assert "finished" not in output
    assert "usable Plus(" in output


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
