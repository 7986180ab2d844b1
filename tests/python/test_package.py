"""What the installed package offers beyond the module: the quickstart
example, the README snippets and the type stub."""

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
