"""Times kiv_sr_tools.identify_constant on well-known constants and on one without a closed form.

Prints one row per number: its first closed form, that formula's
complexity, and the best of 5 wall-clock times of the call once the value
table is built (the first call of the process builds it and is timed on
its own). Run from a checkout after building: see benchmarks/README.md.
"""

import math
import platform
import sys
import time

from kiv_sr_tools import identify_constant, to_sympy

NUMBERS = {
    "pi": math.pi,
    "e": math.e,
    "sqrt(2)": math.sqrt(2.0),
    "ln 2": math.log(2.0),
    "golden ratio": (1 + math.sqrt(5.0)) / 2,
    "pi^2/6": math.pi**2 / 6,
    "0.1234567": 0.1234567,
}
REPEATS = 5


def seconds(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def main():
    max_complexity = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    print(f"# identify_constant, max_complexity={max_complexity}, Python {platform.python_version()}, "
          f"{platform.machine()}; best of {REPEATS}")
    first_call = seconds(lambda: identify_constant(1.0, max_complexity=max_complexity))
    print(f"first call, building the value table: {first_call:.3f} s\n")
    print("| number | first closed form | complexity | results | seconds |\n|---|---|---:|---:|---:|")
    for name, value in NUMBERS.items():
        found = identify_constant(value, max_complexity=max_complexity)
        best = min(seconds(lambda: identify_constant(value, max_complexity=max_complexity)) for _ in range(REPEATS))
        first = f"`{to_sympy(found[0])}`" if found else "none"
        print(f"| {name} | {first} | {found[0].complexity if found else '-'} | {len(found)} | {best:.3f} |")


if __name__ == "__main__":
    main()
