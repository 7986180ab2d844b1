"""Searches from several Python threads: they take turns on the interpreter
lock, or truly overlap when one is suspended in a signal handler, and each
finds exactly what it finds alone."""

import signal
import threading
import time

import numpy as np

import kiv_sr


def problem(seed):
    rng = np.random.default_rng(seed)
    inputs = rng.uniform(0.5, 2.0, size=(25, 2))
    return inputs, np.sin(inputs[:, 0]) * inputs[:, 1] + 0.05 * rng.standard_normal(25)


def front(searcher, data):
    return [repr(result) for result in searcher.find_candidates(*data)]


def test_searches_started_together_from_several_threads_match_the_searches_alone():
    searcher = kiv_sr.Searcher(max_complexity=4, beam_width=40)
    problems = [problem(seed) for seed in range(4)]
    alone = [front(searcher, data) for data in problems]
    together = [None] * len(problems)
    start = threading.Barrier(len(problems))

    def run(slot):
        start.wait()
        together[slot] = front(searcher, problems[slot])

    threads = [threading.Thread(target=run, args=(slot,)) for slot in range(len(problems))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert together == alone


def test_search_suspended_in_a_signal_handler_overlaps_another_threads_search():
    # The handler runs inside the main thread's search, at its signal check,
    # and sleeps without the interpreter lock: the other thread's searches
    # then run while the main search's workers hold its level half-done.
    main_searcher = kiv_sr.Searcher(max_complexity=5, beam_width=150)
    main_data = problem(10)
    other_searcher = kiv_sr.Searcher(max_complexity=3, beam_width=30)
    other_data = problem(11)
    main_alone = front(main_searcher, main_data)
    other_alone = front(other_searcher, other_data)

    main_running = threading.Event()
    stop = threading.Event()
    overlapping = []

    def other():
        while not stop.is_set():
            started_inside = main_running.is_set()
            result = front(other_searcher, other_data)
            overlapping.append((started_inside and main_running.is_set(), result))

    pausing = threading.Lock()

    def pause(signum, frame):
        # A slow machine may deliver the next alarm during the sleep: no nesting.
        if pausing.acquire(blocking=False):
            try:
                time.sleep(0.002)
            finally:
                pausing.release()

    previous = signal.signal(signal.SIGALRM, pause)
    thread = threading.Thread(target=other)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.005, 0.005)
        thread.start()
        main_running.set()
        main_together = front(main_searcher, main_data)
        main_running.clear()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
        stop.set()
        thread.join()
    assert main_together == main_alone
    assert all(result == other_alone for _, result in overlapping)
    assert any(inside for inside, _ in overlapping), "no search ran inside the main search"
