#!/usr/bin/env python3
"""Plants small faults in the product code, one at a time, and reports which
ones the test suite catches.

    tools/mutants.py                 the default seeded list of faults
    tools/mutants.py --list          print the list without running it
    tools/mutants.py --only 3 17     run only these entries of the list

The faults are chosen from every C++ file under src/ (the bindings included)
by a fixed seed, so the same tree always gives the same list: flipped or
loosened comparisons, off-by-one bounds, swapped operators and operands,
dropped statements, checks and locks, wrong constants, negated conditions.

Each fault is planted in a private copy of the tree (WORKDIR/tree, refreshed
from the working tree at the start), which is built incrementally in
WORKDIR/build with the C++ tests and the extension module. The C++ tests run
first for engine faults, the unit's own test suites before the rest, and stop
at the first failure; faults that survive them, and faults in the bindings,
go to the Python tests (pytest -x). A run that exceeds its time limit counts
as caught. The working tree is never touched, so work can go on meanwhile.
"""

import argparse
import dataclasses
import filecmp
import os
import random
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SEED = 20261206
DEFAULT_COUNT = 80
# The extension modules: kiv_sr and the companion package's private one.
MODULES = ["kiv_sr", "kiv_sr_tools_native"]


@dataclasses.dataclass(frozen=True)
class Mutant:
    path: str  # relative to the root
    line: int  # 1-based
    kind: str
    before: str  # the whole line as it stands
    after: str  # the whole line with the fault

    def describe(self):
        return f"{self.path}:{self.line} [{self.kind}] {self.before.strip()!r} -> {self.after.strip()!r}"


# Each rule: a kind, a pattern on the code part of a line, and its replacement.
# Operators are only matched with spaces around them, which keeps templates,
# pointers and includes out.
SUBSTITUTIONS = [
    ("comparison", r" < ", " <= "),
    ("comparison", r" <= ", " < "),
    ("comparison", r" > ", " >= "),
    ("comparison", r" >= ", " > "),
    ("comparison", r" == ", " != "),
    ("comparison", r" != ", " == "),
    ("arithmetic", r" \+ ", " - "),
    ("arithmetic", r" - ", " + "),
    ("arithmetic", r" \* ", " / "),
    ("arithmetic", r" / ", " * "),
    ("logic", r" && ", " || "),
    ("logic", r" \|\| ", " && "),
    ("off-by-one", r" \+ 1\b", ""),
    ("off-by-one", r" - 1\b", ""),
    ("off-by-one", r"\+\+(\w+)", r"\1 += 2"),
    ("swap", r"std::min\(", "std::max("),
    ("swap", r"std::max\(", "std::min("),
    ("constant", r"\btrue\b", "false"),
    ("constant", r"\bfalse\b", "true"),
    ("constant", r"\b\d+\.\d+\b", lambda m: "1.0" if float(m.group(0)) == 0 else repr(float(m.group(0)) * 1.5)),
    ("constant", r"\be-(\d+)\b", lambda m: f"e-{int(m.group(1)) + 2}"),
    ("constant", r"(?<![\w.])([2-9]|[1-9]\d+)(?![\w.])", lambda m: str(int(m.group(1)) + 1)),
]

# Whole statements that can be dropped: calls, assignments, early exits,
# locks and checks (a one-line `if (...) return/throw ...;`).
DROPPABLE = [
    ("drop-lock", re.compile(r"^\s*(const )?std::(lock_guard|unique_lock|scoped_lock)\b.*;\s*$")),
    ("drop-check", re.compile(r"^\s*if \(.*\) (return|throw|continue|break)\b.*;\s*$")),
    ("drop-exit", re.compile(r"^\s*(return|continue|break);\s*$")),
    ("drop-statement", re.compile(r"^\s*[\w.\->\[\]()*]+ ?(=|\+=|-=|\*=|/=|\|=|&=) [^=].*;\s*$")),
    ("drop-statement", re.compile(r"^\s*[\w:.\->]+\(.*\);\s*$")),
]

SKIPPED_LINE = re.compile(r"^\s*(#|//|\*|/\*|static_assert|template\b|using\b|namespace\b|case\b)")


def code_part(line):
    """The line up to a // comment, with string and character literals blanked."""
    blanked = re.sub(r'"(\\.|[^"\\])*"', lambda m: '"' + " " * (len(m.group(0)) - 2) + '"', line)
    blanked = re.sub(r"'(\\.|[^'\\])'", "' '", blanked)
    cut = blanked.find("//")
    return blanked if cut < 0 else blanked[:cut]


def negated_conditions(code):
    """(start, end, replacement) for each `if (...)`: `!` dropped from a
    negated condition, the others wrapped in `!(...)`."""
    for match in re.finditer(r"\bif \(", code):
        depth, end = 1, match.end()
        while end < len(code) and depth:
            depth += {"(": 1, ")": -1}.get(code[end], 0)
            end += 1
        condition = code[match.end():end - 1]
        declaration = re.match(r"(auto|const)\b|[\w:<>]+[*&]* [*&]?\w+ =", condition)
        if depth or declaration or ";" in condition:
            continue
        if re.fullmatch(r"![\w:.\->()]+", condition):
            yield match.end(), end - 1, condition[1:]
        else:
            yield match.end(), end - 1, f"!({condition})"


# A parameter list of a declaration rather than the arguments of a call.
DECLARED_PARAMETER = re.compile(r"[(,] *(const )?[\w:<>]+[&*]* [&*]?\w+ *[,)=]")


def mutants_of_file(path):
    relative = str(path.relative_to(ROOT))
    found = []
    lines = path.read_text().splitlines()
    text = "\n".join(lines)
    classes = set(re.findall(r"\b(?:class|struct) (\w+)", text))
    previous = ""
    for number, line in enumerate(lines, start=1):
        if SKIPPED_LINE.match(line) or not line.strip():
            continue
        code = code_part(line)
        starts_statement = previous.rstrip().endswith((";", "{", "}", ")", ":", "else")) or not previous
        previous = code
        called = re.match(r"\s*~?(\w+)\(", code)
        constructor = called is not None and called.group(1) in classes
        for kind, pattern in DROPPABLE:
            if (pattern.match(code) and starts_statement and not constructor
                    and not DECLARED_PARAMETER.search(code)):
                indent = line[: len(line) - len(line.lstrip())]
                found.append(Mutant(relative, number, kind, line, indent + ";"))
                break
        for start, end, condition in negated_conditions(code):
            found.append(Mutant(relative, number, "negation", line, line[:start] + condition + line[end:]))
        for kind, pattern, replacement in SUBSTITUTIONS:
            if kind == "arithmetic" and ('"' in code or "to_string" in code):
                continue  # string concatenation
            for match in re.finditer(pattern, code):
                replaced = re.sub(pattern, replacement, line[match.start():match.end()], count=1)
                after = line[:match.start()] + replaced + line[match.end():]
                if after != line:
                    found.append(Mutant(relative, number, kind, line, after))
    return found


def source_files():
    return sorted(p for p in (ROOT / "src").rglob("*") if p.suffix in (".cpp", ".hpp"))


def choose_mutants(count, seed):
    """One fault in every file that has any, then more drawn from all sites."""
    rng = random.Random(seed)
    per_file = [mutants_of_file(p) for p in source_files()]
    chosen = [rng.choice(sites) for sites in per_file if sites]
    rest = [m for sites in per_file for m in sites if m not in chosen]
    rng.shuffle(rest)
    chosen += rest[: max(0, count - len(chosen))]
    return sorted(chosen, key=lambda m: (m.path, m.line, m.after))


def is_binding(mutant):
    return mutant.path.startswith("src/bindings/")


class Workspace:
    """A private copy of the tree with its own incremental build."""

    def __init__(self, workdir, python):
        self.tree = workdir / "tree"
        self.build = workdir / "build"
        self.python = python

    def refresh(self):
        """Mirrors the working tree, copying changed files only, so unchanged
        objects are not rebuilt."""
        listed = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT, check=True,
                                capture_output=True, text=True).stdout.split()
        for stale in [p for p in self.tree.rglob("*") if p.is_file()] if self.tree.exists() else []:
            if str(stale.relative_to(self.tree)) not in listed:
                stale.unlink()
        for name in listed:
            source, target = ROOT / name, self.tree / name
            if not source.is_file():
                continue
            if not target.exists() or not filecmp.cmp(source, target, shallow=False):
                target.parent.mkdir(parents=True, exist_ok=True)
                # A fresh time stamp: the source's own may be older than the
                # object built from the previous copy.
                shutil.copyfile(source, target)

    def configure(self):
        subprocess.run(["cmake", "-S", str(self.tree), "-B", str(self.build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DKIV_BUILD_PYTHON=ON",
                        f"-DPython_EXECUTABLE={self.python}"], check=True, stdout=subprocess.DEVNULL)

    def compile(self, targets):
        done = subprocess.run(["cmake", "--build", str(self.build), "--target", *targets],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return done.returncode == 0, done.stdout

    def cpp_suites(self, mutant):
        """The test suites of the unit the fault is in, run first."""
        unit = self.tree / "tests" / "cpp" / (Path(mutant.path).stem + "_test.cpp")
        if not unit.exists():
            return []
        return sorted(set(re.findall(r"TEST(?:_P|_F)?\((\w+),", unit.read_text())))

    def run(self, command, timeout, env=None):
        """True when the command passed; a time-out counts as a failure."""
        try:
            done = subprocess.run(command, cwd=self.tree, env=env, timeout=timeout,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            return False
        return done.returncode == 0

    def cpp_passes(self, mutant, timeout):
        binary = str(self.build / "kiv_tests")
        suites = self.cpp_suites(mutant)
        if suites:
            unit_filter = ":".join(f"{s}.*:{s}/*" for s in suites)
            if not self.run([binary, "--gtest_fail_fast", "--gtest_brief=1", f"--gtest_filter={unit_filter}"],
                            timeout):
                return False
            rest = ["--gtest_filter=-" + unit_filter]
        else:
            rest = []
        return self.run([binary, "--gtest_fail_fast", "--gtest_brief=1", *rest], timeout)

    def python_passes(self, timeout):
        # The companion package runs from the tree, with the private module just built.
        package = self.tree / "python" / "kiv_sr_tools"
        for module in self.build.glob("_native.*.so"):
            link = package / module.name
            if not link.is_symlink():
                link.symlink_to(module)
        path = os.pathsep.join([str(self.build), str(self.tree / "python")])
        env = dict(os.environ, PYTHONPATH=path, PYTHONDONTWRITEBYTECODE="1")
        return self.run([self.python, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", "tests/python"],
                        timeout, env)


def judge(workspace, mutant, timeouts):
    """'killed', 'survived' or 'did not compile', with the stage that decided."""
    target = workspace.tree / mutant.path
    original = target.read_text()
    lines = original.splitlines(keepends=True)
    ending = lines[mutant.line - 1][len(lines[mutant.line - 1].rstrip("\n")):]
    lines[mutant.line - 1] = mutant.after + ending
    target.write_text("".join(lines))
    try:
        # The module is built only when the Python tests have to run.
        if not is_binding(mutant):
            if not workspace.compile(["kiv_tests"])[0]:
                return "did not compile", "build"
            if not workspace.cpp_passes(mutant, timeouts["cpp"]):
                return "killed", "C++ tests"
        if not workspace.compile(MODULES)[0]:
            return "did not compile", "build"
        if not workspace.python_passes(timeouts["python"]):
            return "killed", "Python tests"
        return "survived", ""
    finally:
        target.write_text(original)
        # The restored file must look new to the build, or the mutated
        # object would be kept.
        os.utime(target)


def baseline(workspace):
    """Builds the unchanged tree, checks that the suites pass, times them."""
    built, output = workspace.compile(["kiv_tests", *MODULES])
    if not built:
        sys.exit("The unchanged tree does not build:\n" + output)
    seconds = {}
    for name, passes in (("cpp", lambda t: workspace.run([str(workspace.build / "kiv_tests")], t)),
                         ("python", workspace.python_passes)):
        start = time.monotonic()
        if not passes(3600):
            sys.exit(f"The {name} tests fail on the unchanged tree; fix them first.")
        seconds[name] = time.monotonic() - start
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=SEED)
    parser.add_argument("--count", type=int, default=DEFAULT_COUNT)
    parser.add_argument("--only", type=int, nargs="+", help="entries of the list to run (1-based)")
    parser.add_argument("--list", action="store_true", help="print the list and stop")
    parser.add_argument("--workdir", type=Path, default=Path("/tmp/kiv-mutants"))
    parser.add_argument("--python", default=str(ROOT / ".venv" / "bin" / "python"),
                        help="an interpreter with NumPy, pytest and the test dependencies")
    args = parser.parse_args()

    mutants = choose_mutants(args.count, args.seed)
    numbered = list(enumerate(mutants, start=1))
    if args.list:
        for number, mutant in numbered:
            print(f"{number:3d} {mutant.describe()}")
        return
    if args.only:
        numbered = [(n, m) for n, m in numbered if n in args.only]

    started = time.monotonic()
    workspace = Workspace(args.workdir, args.python)
    workspace.refresh()
    workspace.configure()
    seconds = baseline(workspace)
    timeouts = {name: max(30.0, 3 * s) for name, s in seconds.items()}
    print(f"Unchanged tree: C++ tests {seconds['cpp']:.0f} s, Python tests {seconds['python']:.0f} s", flush=True)

    outcomes = {}
    for number, mutant in numbered:
        mutant_start = time.monotonic()
        outcome, stage = judge(workspace, mutant, timeouts)
        outcomes[number] = outcome
        detail = f" by the {stage}" if outcome == "killed" else ""
        print(f"{number:3d} {outcome}{detail} ({time.monotonic() - mutant_start:.0f} s): {mutant.describe()}",
              flush=True)
    workspace.compile(["kiv_tests", *MODULES])  # leave the build matching the tree

    killed = sum(o == "killed" for o in outcomes.values())
    survived = [n for n, o in outcomes.items() if o == "survived"]
    uncompiled = sum(o == "did not compile" for o in outcomes.values())
    print(f"\n{len(outcomes)} faults: {killed} killed, {len(survived)} survived, {uncompiled} did not compile")
    if killed + len(survived):
        print(f"Kill rate: {100.0 * killed / (killed + len(survived)):.1f} % of the faults that compiled")
    for number in survived:
        print(f"  survived {number:3d} {mutants[number - 1].describe()}")
    print(f"Run time: {time.monotonic() - started:.0f} s")


if __name__ == "__main__":
    main()
