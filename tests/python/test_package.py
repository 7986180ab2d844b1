"""What the installed package offers beyond the module: the quickstart
example, the type stub that type checkers find, and the declared version."""

import re
import subprocess
import sys
import textwrap
from importlib import metadata
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def run(args, cwd):
    return subprocess.run(args, capture_output=True, text=True, timeout=600, check=False, cwd=cwd)


def test_distribution_metadata():
    assert metadata.version("kiv_sr") == "0.1.0"
    assert any(requirement.startswith("numpy") for requirement in metadata.requires("kiv_sr"))


def test_quickstart_finds_the_formula(tmp_path):
    completed = run([sys.executable, str(ROOT / "examples" / "quickstart.py")], tmp_path)
    assert completed.returncode == 0, completed.stderr
    lines = completed.stdout.splitlines()
    found = next(line for line in lines if line.startswith("Found:"))
    assert "Times(" in found and "v_{0}" in found and "v_{1}" in found
    assert any(line.startswith("f(2, 3) =   15.0") for line in lines)
    assert any(line.startswith("  complexity  1") for line in lines)


def test_readme_snippets_run(capfd):
    readme = (ROOT / "README.md").read_text()
    snippets = re.findall(r"```python\n(.*?)```", readme, re.S)
    assert len(snippets) >= 3
    exec(compile("\n".join(snippets), "README.md", "exec"), {})
    assert "Inputs and target vector must be non-empty and equal length." in capfd.readouterr().out


mypy_api = pytest.importorskip("mypy.api", reason="mypy checks the stub")


def test_stub_matches_the_module():
    completed = run([sys.executable, "-m", "mypy.stubtest", "kiv_sr"], ROOT)
    assert completed.returncode == 0, completed.stdout + completed.stderr


def test_type_checker_uses_the_stub(tmp_path):
    source = tmp_path / "client.py"
    source.write_text(
        textwrap.dedent(
            """
            import kiv_sr

            searcher = kiv_sr.Searcher(max_complexity=3)
            result = searcher.find_function([1.0, 2.0], [2.0, 3.0], alpha=None)
            reveal_type(result.error)
            reveal_type(searcher.find_candidates([[1.0]], [1.0]))
            searcher.find_function([1.0])
            searcher.max_complexity = 4
            """
        )
    )
    stdout, _, status = mypy_api.run([str(source), "--cache-dir", str(tmp_path / "cache")])
    assert status == 1
    assert re.search(r'Revealed type is "(builtins\.)?float"', stdout)
    assert re.search(r'Revealed type is "(builtins\.)?list\[kiv_sr\.SearchResult\]"', stdout)
    assert 'Missing positional argument "ys"' in stdout
    assert "read-only" in stdout or "property" in stdout
    assert stdout.count("error:") == 2

