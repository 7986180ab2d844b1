"""What the installed package offers beyond the module: the examples, the
README snippets, the type stub and the companion package's types."""

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


def test_readme_snippets_run(capfd):
    snippets = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(), re.S)
    assert len(snippets) >= 3
    exec(compile("\n".join(snippets), "README.md", "exec"), {})
    assert "Inputs and target vector must be non-empty and equal length." in capfd.readouterr().out


def test_stub_matches_the_module():
    pytest.importorskip("mypy.stubtest", reason="mypy checks the stub")
    # stubtest finds the stub the way type checkers do, through the installed package.
    completed = run([sys.executable, "-m", "mypy.stubtest", "kiv_sr"], ROOT)
    assert completed.returncode == 0, completed.stdout + completed.stderr


def test_tools_package_type_checks(tmp_path):
    pytest.importorskip("mypy")
    completed = run([sys.executable, "-m", "mypy", "--cache-dir", str(tmp_path), "python/kiv_sr_tools"], ROOT)
    assert completed.returncode == 0, completed.stdout + completed.stderr
