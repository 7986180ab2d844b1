"""Signals and threads: a signal handler's exception (KeyboardInterrupt for Ctrl-C)
stops a search at any moment; searches from several threads, taking turns on the
interpreter lock or overlapping, each find exactly what they find alone."""

import faulthandler
import os
import random
import signal
import subprocess
import threading
import time

import numpy as np
import pytest

import kiv_sr


def problem(seed):
    rng = np.random.default_rng(seed)
    inputs = rng.uniform(0.5, 2.0, size=(25, 2))
    return inputs, np.sin(inputs[:, 0]) * inputs[:, 1] + 0.05 * rng.standard_normal(25)


def front(searcher, data):
    return [repr(result) for result in searcher.find_candidates(*data)]


def start_threads(target, count):
    threads = [threading.Thread(target=target, args=(slot,)) for slot in range(count)]
    for thread in threads:
        thread.start()
    return threads


def stop(signum, frame):
    raise ArithmeticError("alarm")


@pytest.mark.parametrize("signum, handler, error", [(signal.SIGINT, signal.default_int_handler, KeyboardInterrupt),
                                                    (signal.SIGALRM, stop, ArithmeticError)], ids=["SIGINT", "SIGALRM"])
def test_signal_stops_a_search_at_any_moment_and_later_searches_are_unchanged(signum, handler, error, capfd):
    # Noise has no closed form and max_complexity no reachable end: only the signal ends the search.
    rng = np.random.default_rng(0)
    xs, ys = rng.uniform(-3.0, 3.0, 200), rng.standard_normal(200)
    endless = kiv_sr.Searcher(max_complexity=2**64 - 1, beam_width=200)
    reference = kiv_sr.Searcher(max_complexity=4, beam_width=40)
    before = front(reference, problem(1))
    previous = signal.signal(signum, handler)
    faulthandler.dump_traceback_later(120, exit=True)  # a search that ignores the signal never ends
    try:
        for delay in [0.05] + [random.uniform(0.01, 0.3) for _ in range(3)]:
            # Sent by another process: the search holds the interpreter lock,
            # which a Python thread would need to send it.
            sender = subprocess.Popen(["/bin/sh", "-c", f"sleep {delay:.3f}; kill -{signum.name[3:]} {os.getpid()}"])
            with pytest.raises(error):
                endless.find_function(xs, ys)
            sender.wait()
    finally:
        faulthandler.cancel_dump_traceback_later()
        signal.signal(signum, previous)
    assert front(reference, problem(1)) == before
    assert "Level 2 processed" in capfd.readouterr().out  # the searches did run


def test_searches_started_together_from_several_threads_match_the_searches_alone():
    searcher = kiv_sr.Searcher(max_complexity=4, beam_width=40)  # shared by all threads
    problems = [problem(seed) for seed in range(4)]
    together = [None] * len(problems)
    start = threading.Barrier(len(problems))

    def run(slot):
        start.wait()
        together[slot] = front(searcher, problems[slot])

    for thread in start_threads(run, len(problems)):
        thread.join()
    assert together == [front(searcher, data) for data in problems]


def test_search_suspended_in_a_signal_handler_overlaps_another_threads_search():
    # The handler runs inside the main thread's search, at its signal check,
    # and sleeps without the interpreter lock: the other thread's searches
    # then run while the main search's workers hold its level half-done.
    main = kiv_sr.Searcher(max_complexity=5, beam_width=150), problem(10)
    other = kiv_sr.Searcher(max_complexity=3, beam_width=30), problem(11)
    main_alone, other_alone = front(*main), front(*other)
    main_running, done, pausing = threading.Event(), threading.Event(), threading.Lock()
    overlapping = []  # (whether main ran throughout, the other search's front)

    def search_other(slot):
        while not done.is_set():
            started_inside = main_running.is_set()
            result = front(*other)
            overlapping.append((started_inside and main_running.is_set(), result))

    def pause(signum, frame):
        if pausing.acquire(blocking=False):  # a slow machine may deliver the next alarm during the sleep
            time.sleep(0.002)
            pausing.release()

    previous = signal.signal(signal.SIGALRM, pause)
    [thread] = start_threads(search_other, 1)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.005, 0.005)
        main_running.set()
        main_together = front(*main)
        main_running.clear()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
        done.set()
        thread.join()
    assert main_together == main_alone and all(result == other_alone for _, result in overlapping)
    assert any(inside for inside, _ in overlapping), "no search ran inside the main search"
