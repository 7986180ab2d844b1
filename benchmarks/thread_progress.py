"""How far another Python thread gets while a search runs: kiv_sr's own
find_candidates, which keeps the interpreter lock for the whole search, against
kiv_sr_tools.find_candidates, which lets it go while the engine works. The
other thread counts ticks of about 1 ms (time.sleep(0.001)), so about 1000
per second is all it can do. Run by hand: python benchmarks/thread_progress.py
"""

import contextlib
import io
import threading
import time

import numpy as np

import kiv_sr
import kiv_sr_tools


class Ticker(threading.Thread):
    def __init__(self):
        super().__init__(daemon=True)
        self.ticks, self.running = 0, True

    def run(self):
        while self.running:
            self.ticks += 1
            time.sleep(0.001)


def main():
    X = np.linspace(0.5, 3.0, 60).reshape(-1, 1)
    y = np.sin(X[:, 0]) * X[:, 0] ** 2 + 0.3
    searcher = kiv_sr.Searcher(7, 0.1, 500)
    searches = {
        "kiv_sr Searcher.find_candidates": lambda: searcher.find_candidates(X, y),
        "kiv_sr_tools.find_candidates": lambda: kiv_sr_tools.find_candidates(searcher, X, y, verbose=False),
    }
    ticker = Ticker()
    ticker.start()
    print("| search | seconds | ticks of the other thread | ticks per second |\n|---|---:|---:|---:|")
    for name, search in searches.items():
        with contextlib.redirect_stdout(io.StringIO()):
            before, start = ticker.ticks, time.perf_counter()
            search()
            seconds, ticks = time.perf_counter() - start, ticker.ticks - before
        print(f"| {name} | {seconds:.2f} | {ticks} | {ticks / seconds:.0f} |")
    ticker.running = False


if __name__ == "__main__":
    main()
