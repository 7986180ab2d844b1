#!/usr/bin/env python3
"""Fails when the tests outgrow their share of the project.

Counts the non-blank lines of the files git tracks: those under tests/ (the
recorded golden data excluded) against all the others (prose in Markdown
excluded). The tests may hold at most 40 % of the rest: a suite larger than
that pins the same behaviour in several places and makes every change cost
twice.
"""

import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
LIMIT = 0.40


def non_blank_lines(path):
    try:
        return sum(1 for line in (ROOT / path).read_text().splitlines() if line.strip())
    except (UnicodeDecodeError, FileNotFoundError):
        return 0


def main():
    tracked = subprocess.run(["git", "ls-files"], cwd=ROOT, check=True, capture_output=True,
                             text=True).stdout.split()
    tests = sum(non_blank_lines(p) for p in tracked if p.startswith("tests/") and not p.startswith("tests/golden/"))
    rest = sum(non_blank_lines(p) for p in tracked
               if not p.startswith("tests/") and not p.endswith(".md") and p != ".gitignore")
    share = tests / rest
    print(f"Test lines: {tests} non-blank, {100 * share:.1f} % of the {rest} other lines (at most {100 * LIMIT:.0f} %)")
    if share > LIMIT:
        sys.exit("The tests have outgrown their share: fold cases into tables, or test a rule once.")


if __name__ == "__main__":
    main()
