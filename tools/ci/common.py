"""What the stage scripts share: the tree's root, finding a tool, and
running one check."""

from __future__ import annotations

import shutil
import subprocess
import sys
from collections.abc import Sequence
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
TEST_EXTRA = 'the test extra (pip install ".[test]")'
CMAKE = "CMake (pip install cmake, or Debian's cmake)"


def tool(name: str, comes_with: str = TEST_EXTRA) -> str:
    """A program of the running Python's environment, else of PATH. Missing,
    it stops the stage, saying where it comes from: a check that cannot run
    has not passed."""
    path = shutil.which(name, path=str(Path(sys.executable).parent)) or shutil.which(name)
    if path is None:
        sys.exit(f"{name} not found: it comes with {comes_with}")
    return path


def passes(name: str, command: Sequence[str], **options) -> bool:
    """Runs one check, showing its output only when it fails."""
    try:
        run = subprocess.run(command, capture_output=True, text=True, **options)
    except subprocess.TimeoutExpired as stopped:
        print(f"{name}: FAILED (still running after {stopped.timeout} s)")
        return False
    print(f"{name}: {'passed' if run.returncode == 0 else f'FAILED (exit {run.returncode})'}")
    if run.returncode != 0:
        print(run.stdout + run.stderr, end="")
    return run.returncode == 0
