"""The tree stays formatted and lint-clean: ruff for Python, clang-format for C++."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BIN = Path(sys.executable).parent


def tool(name):
    path = shutil.which(name, path=str(BIN)) or shutil.which(name)
    if path is None:
        pytest.skip(f"{name} is not installed")
    return path


def cpp_sources():
    return sorted(str(p) for p in (ROOT / "src").rglob("*") if p.suffix in (".cpp", ".hpp")) + [
        str(p) for p in sorted((ROOT / "tests" / "cpp").glob("*.[ch]pp"))
    ]


@pytest.mark.parametrize(
    "command",
    [
        lambda: [tool("ruff"), "check", "."],
        lambda: [tool("ruff"), "format", "--check", "."],
        lambda: [tool("clang-format"), "--dry-run", "-Werror", *cpp_sources()],
    ],
    ids=["ruff-check", "ruff-format", "clang-format"],
)
def test_style(command):
    run = subprocess.run(command(), cwd=ROOT, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
