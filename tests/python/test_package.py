"""What the installed package offers beyond the module: the examples, the
snippets of README.md and docs/, the type stub and the companion package's types."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def run(args, cwd):
    return subprocess.run(args, capture_output=True, text=True, timeout=600, check=False, cwd=cwd)


def test_quickstart_finds_the_formula(tmp_path):
    completed = run([sys.executable, str(ROOT / "examples" / "quickstart.py")], tmp_path)
    assert completed.returncode == 0, completed.stderr
    lines = completed.stdout.splitlines()
    found = next(line for line in lines if line.startswith("Found:"))
    assert "Times(" in found and "v_{0}" in found and "v_{1}" in found
    assert any(line.startswith("f(2, 3) =   15.0") for line in lines)
    assert any(line.startswith("  complexity  1") for line in lines)


@pytest.mark.parametrize("example, line", [
    ("pandas_pipeline.py", "Features: ['mass', 'speed']"),
    ("save_and_load.py", "Same value: True"),
    ("dask_cluster.py", "Same front as on this machine: True"),
])
def test_example_runs(tmp_path, example, line):
    completed = run([sys.executable, str(ROOT / "examples" / example)], tmp_path)
    assert completed.returncode == 0, completed.stderr
    assert line in completed.stdout.splitlines()


# Each page: the least number of code blocks it holds (of any language; the
# ```python ones run, together and in order) and texts its snippets print.
PAGES = {
    "README.md": (4, ["Times(v_{0}, Exp(v_{1}))", "Times(v_{0}, v_{1})", r"v_{0} \cdot v_{1}"]),
    "docs/kiv_sr.md": (5, ["formula='Plus(C, Square(v_{0}))'", "Inputs and target vector must be non-empty and equal length."]),
    "docs/companion.md": (10, ["Times(x0, Exp(x1))", "The search stopped at its time budget of 0.5 s",
                              "Divide(v_{1}, Exp(Divide(v_{2}, v_{0})))", "True Plus(Plus(Plus(Plus(Times(C, Times(v_{0}, v_{3}))",
                              "y = q1**2/(eps*r**2) * f(q1/q2)",
                              "Times(Divide(C, Divide(v_{0}, v_{1})), Divide(Square(v_{0}), Times(v_{2}, Square(v_{3}))))"]),
    "docs/clusters.md": (2, ["Times(v_{0}, Exp(v_{1})) True", "'Exp(v_{1})'] Times(v_{0}, Exp(v_{1}))"]),
    "docs/benchmarks.md": (1, []),
    "docs/development.md": (3, []),
}


def test_every_page_is_checked():
    assert {"README.md", *(f"docs/{p.name}" for p in (ROOT / "docs").glob("*.md"))} == set(PAGES)


@pytest.mark.parametrize("page", sorted(PAGES))
def test_page_snippets_run(capfd, page):
    least, printed = PAGES[page]
    text = (ROOT / page).read_text()
    assert len(re.findall(r"^```\S+$", text, re.M)) >= least
    snippets = re.findall(r"^```python\n(.*?)^```$", text, re.S | re.M)
    exec(compile("\n".join(snippets), page, "exec"), {})
    out = capfd.readouterr().out
    assert [text for text in printed if text not in out] == []


def test_stub_matches_the_module():
    pytest.importorskip("mypy.stubtest", reason="mypy checks the stub")
    # stubtest finds the stub the way type checkers do, through the installed package.
    completed = run([sys.executable, "-m", "mypy.stubtest", "kiv_sr"], ROOT)
    assert completed.returncode == 0, completed.stdout + completed.stderr


def test_tools_package_type_checks(tmp_path):
    pytest.importorskip("mypy")
    completed = run([sys.executable, "-m", "mypy", "--cache-dir", str(tmp_path), "python/kiv_sr_tools"], ROOT)
    assert completed.returncode == 0, completed.stdout + completed.stderr
