#!/usr/bin/env python3
"""How many laws of four or more inputs the search recovers exactly: plain, with units, and with physics operators.

The tier of the recovery benchmark (`recovery.py`) for wider problems: 28
laws of the Feynman collection (Udrescu and Tegmark 2020) with four to six
inputs, each with the SI units of its inputs and target, sampled as the
other tiers are (50 rows, a seed taken from the name, 200 fresh points for
the numeric check) and judged by the same rule: a member of the front whose
constants, snapped to closed forms, give the law, proved by SymPy or matched
to a relative 1e-9 on the fresh points.

Per law, with one Searcher and the same time budget, each column runs:

  plain    find_candidates, every operator;
  units    find_with_units, given the inputs' and the target's units, on y
           over the product that carries them and on its transforms, with
           the sums of terms of the dimensionless groups;
  nounits  find_candidates and then find_sum_of_terms, both with the
           operators physics laws are written in (PHYSICS), their fronts
           merged into one strict Pareto front; the sums run when the
           first search leaves time, and take as long as they take.

    python benchmarks/many_inputs.py [--columns plain units nounits] [--only Feynman-I.8.14 ...]
    python benchmarks/many_inputs.py --check-units    # the units, the samples and the judge on each law itself
    python benchmarks/many_inputs.py --list
    python benchmarks/many_inputs.py --published --columns plain sums   # recovery.py's 69 laws, without units

The fourth column, sums (the plain search and then sums of terms, every
operator, as KivRegressor(sums_of_terms=True) searches), runs when asked,
on this tier or on the published laws of recovery.py (--published).

Needs kiv_sr with its companion package, SymPy and pint (`pip install '.[all]'`).
Progress goes to standard error, the tables to standard output.
"""

from __future__ import annotations

import argparse
import sys
import time
from dataclasses import dataclass
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

import numpy as np
import pint
import sympy
from pint import DimensionalityError

import kiv_sr_tools
from kiv_sr import Searcher, SearchResult
from kiv_sr_tools import _native, find_candidates
from kiv_sr_tools.transformed import pareto_front

import recovery
from recovery import SYMPY, Data, Problem, Run, data_for, judge, machine_line, timed

MAX_COMPLEXITY = 7
BEAM_WIDTH = 250
# Seconds each column may spend on one law; every column gets the same.
MAX_TIME = 20.0
# The operators physics laws are written in: no tangent, inverse trigonometric functions or KIV.
PHYSICS = ["Plus", "Subtract", "Times", "Divide", "Neg", "Inv", "Square", "Cube", "Sqrt", "Exp", "Log", "Sin", "Cos"]

# SI units as pint reads them. An angle, a count, a ratio of like quantities is "1".
ONE = "1"
LENGTH = "m"
AREA = "m**2"
VOLUME = "m**3"
MASS = "kg"
TIME = "s"
TEMPERATURE = "K"
FREQUENCY = "1/s"
SPEED = "m/s"
ACCELERATION = "m/s**2"
MOMENTUM = "kg*m/s"
FORCE = "kg*m/s**2"
ENERGY = "kg*m**2/s**2"
POWER = "kg*m**2/s**3"
PRESSURE = "kg/(m*s**2)"
NUMBER_DENSITY = "1/m**3"
GRAVITATIONAL_CONSTANT = "m**3/(kg*s**2)"
BOLTZMANN_CONSTANT = "kg*m**2/(s**2*K)"  # J/K
PLANCK_CONSTANT = "kg*m**2/s"  # J s
THERMAL_CONDUCTIVITY = "kg*m/(s**3*K)"  # W/(m K)
MOBILITY = "s/kg"  # drift velocity per force
CHARGE = "A*s"
CHARGE_DENSITY = "A*s/m**3"
CURRENT_DENSITY = "A/m**2"
POLARIZATION = "A*s/m**2"  # dipole moment per volume
PERMITTIVITY = "A**2*s**4/(kg*m**3)"  # C^2/(N m^2)
VOLTAGE = "kg*m**2/(A*s**3)"
ELECTRIC_FIELD = "kg*m/(A*s**3)"  # V/m
MAGNETIC_FIELD = "kg/(A*s**2)"  # T
VECTOR_POTENTIAL = "kg*m/(A*s**2)"  # T m
ELECTRIC_DIPOLE = "A*s*m"
MAGNETIC_MOMENT = "A*m**2"  # J/T


@dataclass(frozen=True)
class PhysicalLaw(Problem):
    """A problem whose inputs and target carry SI units."""

    units: Tuple[str, ...]  # one per input, in column order
    target: str
    target_unit: str


# An input: its name, its unit and its (low, high) uniform sampling range.
Input = Tuple[str, str, Tuple[float, float]]


def law(name: str, formula: recovery.Law, inputs: Sequence[Input], target: Tuple[str, str]) -> PhysicalLaw:
    names, units, ranges = zip(*inputs)
    return PhysicalLaw(f"Feynman-{name}", formula, tuple(names), tuple(ranges), tuple(units), *target)


# The collection samples most inputs uniformly in [1, 5], some in [1, 3].
# The ranges here follow its table as remembered, narrowed where a law needs
# it to stay real and finite (v < c, omega < omega_0, gamma > 1); check them
# there before citing a single law.
F15 = (1.0, 5.0)
F13 = (1.0, 3.0)
LAWS = [
    law(
        "I.8.14",
        lambda m, v: m.sqrt((v[1] - v[0]) ** 2 + (v[3] - v[2]) ** 2),
        [("x1", LENGTH, F15), ("x2", LENGTH, F15), ("y1", LENGTH, F15), ("y2", LENGTH, F15)],
        ("d", LENGTH),
    ),
    law(
        "I.11.19",
        lambda m, v: v[0] * v[3] + v[1] * v[4] + v[2] * v[5],
        [("x1", LENGTH, F15), ("x2", LENGTH, F15), ("x3", LENGTH, F15),
         ("y1", FORCE, F15), ("y2", FORCE, F15), ("y3", FORCE, F15)],
        ("A", ENERGY),
    ),
    law(
        "I.12.2",
        lambda m, v: v[0] * v[1] / (4 * m.pi * v[2] * v[3] ** 2),
        [("q1", CHARGE, F15), ("q2", CHARGE, F15), ("epsilon", PERMITTIVITY, F15), ("r", LENGTH, F15)],
        ("F", FORCE),
    ),
    law(
        "I.12.11",
        lambda m, v: v[0] * (v[1] + v[2] * v[3] * m.sin(v[4])),
        [("q", CHARGE, F15), ("Ef", ELECTRIC_FIELD, F15), ("B", MAGNETIC_FIELD, F15), ("v", SPEED, F15),
         ("theta", ONE, F15)],
        ("F", FORCE),
    ),
    law(
        "I.13.4",
        lambda m, v: v[0] * (v[1] ** 2 + v[2] ** 2 + v[3] ** 2) / 2,
        [("m", MASS, F15), ("v", SPEED, F15), ("u", SPEED, F15), ("w", SPEED, F15)],
        ("K", ENERGY),
    ),
    law(
        "I.13.12",
        lambda m, v: v[4] * v[0] * v[1] * (1 / v[3] - 1 / v[2]),
        [("m1", MASS, F15), ("m2", MASS, F15), ("r1", LENGTH, F15), ("r2", LENGTH, F15),
         ("G", GRAVITATIONAL_CONSTANT, F15)],
        ("U", ENERGY),
    ),
    law(
        "I.15.3x",
        lambda m, v: (v[0] - v[1] * v[3]) / m.sqrt(1 - v[1] ** 2 / v[2] ** 2),
        [("x", LENGTH, (5.0, 10.0)), ("u", SPEED, (1.0, 2.0)), ("c", SPEED, (3.0, 20.0)), ("t", TIME, (1.0, 2.0))],
        ("x1", LENGTH),
    ),
    law(
        "I.18.4",
        lambda m, v: (v[0] * v[2] + v[1] * v[3]) / (v[0] + v[1]),
        [("m1", MASS, F15), ("m2", MASS, F15), ("r1", LENGTH, F15), ("r2", LENGTH, F15)],
        ("r", LENGTH),
    ),
    law(
        "I.24.6",
        lambda m, v: v[0] * (v[1] ** 2 + v[2] ** 2) * v[3] ** 2 / 4,
        [("m", MASS, F13), ("omega", FREQUENCY, F13), ("omega_0", FREQUENCY, F13), ("x", LENGTH, F13)],
        ("E", ENERGY),
    ),
    law(
        "I.29.16",
        lambda m, v: m.sqrt(v[0] ** 2 + v[1] ** 2 - 2 * v[0] * v[1] * m.cos(v[2] - v[3])),
        [("x1", LENGTH, F15), ("x2", LENGTH, F15), ("theta1", ONE, F15), ("theta2", ONE, F15)],
        ("x", LENGTH),
    ),
    law(
        "I.32.5",
        lambda m, v: v[0] ** 2 * v[1] ** 2 / (6 * m.pi * v[2] * v[3] ** 3),
        [("q", CHARGE, F15), ("a", ACCELERATION, F15), ("epsilon", PERMITTIVITY, F15), ("c", SPEED, F15)],
        ("Pwr", POWER),
    ),
    law(
        "I.34.8",
        lambda m, v: v[0] * v[1] * v[2] / v[3],
        [("q", CHARGE, F15), ("v", SPEED, F15), ("B", MAGNETIC_FIELD, F15), ("p", MOMENTUM, F15)],
        ("omega", FREQUENCY),
    ),
    law(
        "I.38.12",
        lambda m, v: 4 * m.pi * v[3] * (v[2] / (2 * m.pi)) ** 2 / (v[0] * v[1] ** 2),
        [("m", MASS, F15), ("q", CHARGE, F15), ("h", PLANCK_CONSTANT, F15), ("epsilon", PERMITTIVITY, F15)],
        ("r", LENGTH),
    ),
    law(
        "I.39.22",
        lambda m, v: v[0] * v[3] * v[1] / v[2],
        [("n", ONE, F15), ("T", TEMPERATURE, F15), ("V", VOLUME, F15), ("kb", BOLTZMANN_CONSTANT, F15)],
        ("pr", PRESSURE),
    ),
    law(
        "I.40.1",
        lambda m, v: v[0] * m.exp(-v[1] * v[4] * v[2] / (v[5] * v[3])),
        [("n_0", NUMBER_DENSITY, F15), ("m", MASS, F15), ("x", LENGTH, F15), ("T", TEMPERATURE, F15),
         ("g", ACCELERATION, F15), ("kb", BOLTZMANN_CONSTANT, F15)],
        ("n", NUMBER_DENSITY),
    ),
    law(
        "I.43.16",
        lambda m, v: v[0] * v[1] * v[2] / v[3],
        [("mu_drift", MOBILITY, F15), ("q", CHARGE, F15), ("Ve", VOLTAGE, F15), ("d", LENGTH, F15)],
        ("v", SPEED),
    ),
    law(
        "I.43.43",
        lambda m, v: v[1] * v[3] / (v[2] * (v[0] - 1)),
        [("gamma", ONE, (2.0, 5.0)), ("kb", BOLTZMANN_CONSTANT, F15), ("A", AREA, F15), ("v", SPEED, F15)],
        ("kappa", THERMAL_CONDUCTIVITY),
    ),
    law(
        "I.44.4",
        lambda m, v: v[0] * v[1] * v[2] * m.log(v[4] / v[3]),
        [("n", ONE, F15), ("kb", BOLTZMANN_CONSTANT, F15), ("T", TEMPERATURE, F15), ("V1", VOLUME, F15),
         ("V2", VOLUME, F15)],
        ("E", ENERGY),
    ),
    law(
        "I.50.26",
        lambda m, v: v[0] * (m.cos(v[1] * v[2]) + v[3] * m.cos(v[1] * v[2]) ** 2),
        [("x1", LENGTH, F13), ("omega", FREQUENCY, F13), ("t", TIME, F13), ("alpha", ONE, F13)],
        ("x", LENGTH),
    ),
    law(
        "II.2.42",
        lambda m, v: v[0] * (v[2] - v[1]) * v[3] / v[4],
        [("kappa", THERMAL_CONDUCTIVITY, F15), ("T1", TEMPERATURE, F15), ("T2", TEMPERATURE, F15),
         ("A", AREA, F15), ("d", LENGTH, F15)],
        ("Pwr", POWER),
    ),
    law(
        "II.6.11",
        lambda m, v: v[1] * m.cos(v[2]) / (4 * m.pi * v[0] * v[3] ** 2),
        [("epsilon", PERMITTIVITY, F13), ("p_d", ELECTRIC_DIPOLE, F13), ("theta", ONE, F13), ("r", LENGTH, F13)],
        ("Volt", VOLTAGE),
    ),
    law(
        "II.11.3",
        lambda m, v: v[0] * v[1] / (v[2] * (v[3] ** 2 - v[4] ** 2)),
        [("q", CHARGE, F13), ("Ef", ELECTRIC_FIELD, F13), ("m", MASS, F13), ("omega_0", FREQUENCY, (3.0, 5.0)),
         ("omega", FREQUENCY, (1.0, 2.0))],
        ("x", LENGTH),
    ),
    law(
        "II.11.20",
        lambda m, v: v[0] * v[1] ** 2 * v[2] / (3 * v[3] * v[4]),
        [("n_rho", NUMBER_DENSITY, F13), ("p_d", ELECTRIC_DIPOLE, F13), ("Ef", ELECTRIC_FIELD, F13),
         ("kb", BOLTZMANN_CONSTANT, F13), ("T", TEMPERATURE, F13)],
        ("Pol", POLARIZATION),
    ),
    law(
        "II.21.32",
        lambda m, v: v[0] / (4 * m.pi * v[1] * v[2] * (1 - v[3] / v[4])),
        [("q", CHARGE, F15), ("epsilon", PERMITTIVITY, F15), ("r", LENGTH, F15), ("v", SPEED, (1.0, 2.0)),
         ("c", SPEED, (3.0, 10.0))],
        ("Volt", VOLTAGE),
    ),
    law(
        "III.4.33",
        lambda m, v: (v[0] / (2 * m.pi)) * v[1] / (m.exp((v[0] / (2 * m.pi)) * v[1] / (v[2] * v[3])) - 1),
        [("h", PLANCK_CONSTANT, F15), ("omega", FREQUENCY, F15), ("kb", BOLTZMANN_CONSTANT, F15),
         ("T", TEMPERATURE, F15)],
        ("E", ENERGY),
    ),
    law(
        "III.10.19",
        lambda m, v: v[0] * m.sqrt(v[1] ** 2 + v[2] ** 2 + v[3] ** 2),
        [("mom", MAGNETIC_MOMENT, F15), ("Bx", MAGNETIC_FIELD, F15), ("By", MAGNETIC_FIELD, F15),
         ("Bz", MAGNETIC_FIELD, F15)],
        ("E", ENERGY),
    ),
    law(
        "III.13.18",
        lambda m, v: 2 * v[0] * v[1] ** 2 * v[2] / (v[3] / (2 * m.pi)),
        [("E_n", ENERGY, F15), ("d", LENGTH, F15), ("k", "1/m", F15), ("h", PLANCK_CONSTANT, F15)],
        ("v", SPEED),
    ),
    law(
        "III.21.20",
        lambda m, v: -v[0] * v[1] * v[2] / v[3],
        [("rho_c_0", CHARGE_DENSITY, F15), ("q", CHARGE, F15), ("A_vec", VECTOR_POTENTIAL, F15), ("m", MASS, F15)],
        ("j", CURRENT_DENSITY),
    ),
]

LAWS_BY_NAME = {p.name: p for p in LAWS}


# The columns: each searches one law's samples within `max_time` seconds and returns a front.
Column = Callable[[Searcher, Any, Data, float], List[SearchResult]]


def plain(searcher: Searcher, p: Problem, data: Data, max_time: float) -> List[SearchResult]:
    return find_candidates(searcher, data.X, data.y, max_time=max_time, verbose=False)


def with_units(searcher: Searcher, p: PhysicalLaw, data: Data, max_time: float) -> List[SearchResult]:
    """The search with units, on y over the product that carries its units and on transforms of it,
    with the sums of terms of the groups."""
    return kiv_sr_tools.find_with_units(
        searcher, data.X, data.y, p.units, p.target_unit, transforms=True, max_time=max_time, verbose=False,
        sums_of_terms=True,
    )


def without_units(searcher: Searcher, p: Problem, data: Data, max_time: float) -> List[SearchResult]:
    """The formula search and then, if it left time, the sums of terms, which take no
    budget: their seconds count in the column's, which may then exceed `max_time`."""
    deadline = time.perf_counter() + max_time
    front = find_candidates(searcher, data.X, data.y, max_time=max_time, verbose=False, operators=PHYSICS)
    if time.perf_counter() < deadline:
        front += kiv_sr_tools.find_sum_of_terms(searcher, data.X, data.y, operators=PHYSICS)
    return pareto_front(front)


def with_sums(searcher: Searcher, p: Problem, data: Data, max_time: float) -> List[SearchResult]:
    """The plain search and then the sums of terms, every operator: what
    KivRegressor(sums_of_terms=True) does; timed as `without_units` is."""
    deadline = time.perf_counter() + max_time
    front = find_candidates(searcher, data.X, data.y, max_time=max_time, verbose=False)
    if time.perf_counter() < deadline:
        front += kiv_sr_tools.find_sum_of_terms(searcher, data.X, data.y)
    return pareto_front(front)


COLUMNS: Dict[str, Column] = {"plain": plain, "units": with_units, "nounits": without_units, "sums": with_sums}
DEFAULT_COLUMNS = ["plain", "units", "nounits"]


def run_column(column: Column, p: Problem, data: Data, searcher: Searcher, max_time: float) -> Run:
    """The column's search on the law, timed and judged."""
    return timed(lambda: column(searcher, p, data, max_time), data)


def cells(run: Run) -> List[str]:
    answer, seconds = recovery.cell(run)
    return [answer, seconds, f"`{run.verdict.formula}`"]


def report(
    laws: Sequence[Problem], columns: Sequence[str], runs: Dict[str, List[Run]], searcher: Searcher, max_time: float
) -> None:
    print(
        f"\n### max_complexity {searcher.max_complexity}, beam_width {searcher.beam_width}, "
        f"budget {max_time:g} s per column and law\n"
    )
    print("| problem | inputs | " + " | ".join(f"{c} | s | formula" for c in columns) + " |")
    print("|---|---:|" + "---|---:|---|" * len(columns))
    for i, p in enumerate(laws):
        row = [p.name, str(len(p.names))] + [cell for c in columns for cell in cells(runs[c][i])]
        print(f"| {' | '.join(row)} |")
    count = len(laws)
    print()
    for c in columns:
        recovered = [r.verdict.recovered for r in runs[c]]
        seconds = sum(r.seconds for r in runs[c])
        line = (
            f"{c}: recovered {sum(recovered)} of {count} "
            f"(by SymPy {sum(r.verdict.how == 'sympy' for r in runs[c])}, "
            f"numerically {sum(r.verdict.how == 'numeric' for r in runs[c])}); "
            f"search time {seconds:.1f} s, stopped at the budget {sum(r.stopped for r in runs[c])}"
        )
        if c != "plain" and "plain" in runs:
            added = seconds - sum(r.seconds for r in runs["plain"])
            pairs = [
                (p.name, r.verdict.recovered, q.verdict.recovered) for p, r, q in zip(laws, runs["plain"], runs[c])
            ]
            lost = [name for name, by_plain, here in pairs if by_plain and not here]
            gained = [name for name, by_plain, here in pairs if here and not by_plain]
            line += (
                f"; {added / count:+.2f} s per law against plain; "
                f"recovered where plain is not: {', '.join(gained) or 'none'}; "
                f"recovered by plain, lost here: {', '.join(lost) or 'none'}"
            )
        print(f"{line}.")
    print("* = stopped at the time budget.")


# The units check: each law evaluated on quantities carrying its inputs' units.


def units_agree(p: PhysicalLaw, data: Data, registry: Any) -> Tuple[str, float]:
    """Whether the law, evaluated on the samples as quantities of a pint `registry` (NumPy's
    functions take them), has the target's unit ("yes", or why not), and the largest relative
    difference of its magnitudes in the target's unit from the samples' targets."""
    quantities = [registry.Quantity(column, unit) for column, unit in zip(data.X.T, p.units)]
    try:
        value = p.law(recovery.NUMPY, quantities)
    except DimensionalityError as error:
        return f"no: {error}", float("nan")
    value = value if isinstance(value, registry.Quantity) else registry.Quantity(value, ONE)
    target = registry.Quantity(1.0, p.target_unit)
    if value.dimensionality != target.dimensionality:
        return f"no: {value.dimensionality} against {target.dimensionality}", float("nan")
    magnitude = np.asarray(value.to(p.target_unit).magnitude, dtype=float)
    return "yes", float(np.max(np.abs(magnitude - data.y) / np.abs(data.y)))


def power_tokens(base: List[Tuple[Any, ...]], exponent: sympy.Rational) -> List[Tuple[Any, ...]]:
    """Postfix tokens of base**exponent for the integer and half-integer powers the laws use."""
    if exponent < 0:
        return power_tokens(base, -exponent) + [("op", "Inv")]
    if exponent.q == 2:
        return power_tokens(base + [("op", "Sqrt")], exponent * 2)
    if exponent.q != 1:
        raise ValueError(f"no tokens for the power {exponent}")
    named = {1: [], 2: [("op", "Square")], 3: [("op", "Cube")]}
    if exponent in named:
        return base + named[int(exponent)]
    return power_tokens(base, exponent - 1) + base + [("op", "Times")]


def law_tokens(expression: Any, symbols: Sequence[sympy.Symbol]) -> List[Tuple[Any, ...]]:
    """The engine's postfix tokens of a SymPy expression over `symbols` (fixed constants only)."""
    if expression.is_Symbol:
        return [("var", list(symbols).index(expression))]
    if expression == sympy.pi:
        return [("const", "Pi")]
    if expression.is_Integer:
        return [("real", float(expression))]
    if expression.is_Rational:
        return [("real", float(expression.p)), ("real", float(expression.q)), ("op", "Divide")]
    if expression.is_Pow:
        return power_tokens(law_tokens(expression.base, symbols), sympy.Rational(expression.exp))
    functions = {sympy.exp: "Exp", sympy.log: "Log", sympy.sin: "Sin", sympy.cos: "Cos"}
    if expression.func in functions:
        return law_tokens(expression.args[0], symbols) + [("op", functions[expression.func])]
    if expression.is_Add or expression.is_Mul:
        operator = ("op", "Plus" if expression.is_Add else "Times")
        first, *rest = expression.args
        tokens = law_tokens(first, symbols)
        for argument in rest:
            tokens += law_tokens(argument, symbols) + [operator]
        return tokens
    raise ValueError(f"no tokens for {expression}")


def judge_on_law(data: Data) -> str:
    """The judge's verdict on the law itself, written in the engine's tokens with its error on the samples."""
    tokens = tuple(law_tokens(data.truth, data.symbols))
    values = _native.evaluate(tokens, data.X)
    error = float(np.mean(np.abs(values - data.y) ** 2))
    verdict = judge([_native.result(tokens, error)], data)
    return f"yes ({verdict.how})" if verdict.recovered else f"no: {verdict.formula}"


def check_units(laws: Sequence[PhysicalLaw]) -> None:
    registry: Any = pint.UnitRegistry()
    print("| law | formula | inputs | target | units agree | max rel. difference | judge on the law |")
    print("|---|---|---|---|---|---:|---|")
    for p in laws:
        data = data_for(p)
        agreement, difference = units_agree(p, data, registry)
        inputs = ", ".join(f"{n} [{u}]" for n, u in zip(p.names, p.units))
        print(
            f"| {p.name} | `{sympy.sstr(data.truth)}` | {inputs} | {p.target} [{p.target_unit}] | {agreement} | "
            f"{difference:.1e} | {judge_on_law(data)} |",
            flush=True,
        )


def arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", nargs="+", metavar="NAME", help="run these laws only")
    parser.add_argument("--columns", nargs="+", choices=list(COLUMNS), default=DEFAULT_COLUMNS,
                        help="the columns to run (default: %(default)s)")
    parser.add_argument("--published", action="store_true",
                        help="run the columns that need no units on recovery.py's 69 laws of one to three inputs")
    parser.add_argument("--max-complexity", type=int, default=MAX_COMPLEXITY,
                        help="the Searcher's max_complexity (default: %(default)s)")
    parser.add_argument("--beam-width", type=int, default=BEAM_WIDTH,
                        help="the Searcher's beam_width (default: %(default)s)")
    parser.add_argument("--max-time", type=float, default=MAX_TIME,
                        help="seconds per column and law (default: %(default)g)")
    parser.add_argument("--check-units", action="store_true",
                        help="check each law's units with pint and the judge on the law itself, and exit")
    parser.add_argument("--list", action="store_true", help="print the laws and exit")
    options = parser.parse_args(argv)
    if options.published and "units" in options.columns:
        parser.error("the published laws carry no units: choose among --columns plain nounits sums")
    recovery.refuse_unknown(parser, options.only, recovery.PROBLEMS if options.published else LAWS_BY_NAME)
    return options


def main(argv: Optional[Sequence[str]] = None) -> None:
    options = arguments(argv)
    if options.published:
        published = [recovery.PROBLEMS[name] for name in options.only or recovery.PROBLEMS]
        return run_tier(published, options, "Recovery of published laws with sums of terms")
    laws = [LAWS_BY_NAME[name] for name in options.only] if options.only else LAWS
    if options.list:
        for p in laws:
            formula = p.law(SYMPY, [sympy.Symbol(n) for n in p.names])
            inputs = ", ".join(f"{n} [{u}] in {r}" for n, u, r in zip(p.names, p.units, p.ranges))
            print(f"{p.name}: {p.target} [{p.target_unit}] = {formula}; {inputs}")
        return
    if options.check_units:
        check_units(laws)
        return
    run_tier(laws, options, "Recovery of laws of four or more inputs")


def run_tier(laws: Sequence[Problem], options: argparse.Namespace, title: str) -> None:
    print(f"{title}: {len(laws)} laws, {recovery.ROWS} rows each.\n{machine_line()}")
    searcher = Searcher(max_complexity=options.max_complexity, beam_width=options.beam_width)
    runs: Dict[str, List[Run]] = {c: [] for c in options.columns}
    for p in laws:
        data = data_for(p)
        for c in options.columns:
            runs[c].append(run_column(COLUMNS[c], p, data, searcher, options.max_time))
        # Progress on standard error, so that standard output holds the tables alone.
        progress = ", ".join(f"{c} {' '.join(recovery.cell(runs[c][-1]))} s" for c in options.columns)
        print(f"  {p.name}: {progress}", file=sys.stderr, flush=True)
    report(laws, options.columns, runs, searcher, options.max_time)


if __name__ == "__main__":
    main()
