"""Builds and runs the C++ tests of the pure kernels, under ASan and UBSan.

Each tests/cpp/test_*.cpp names the kernel sources it needs on a line
``// sources: path [path ...]`` (paths relative to the repository root).
"""

import re
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
CPP_TESTS = sorted((ROOT / "tests" / "cpp").glob("test_*.cpp"))
FLAGS = [
    "-std=c++17", "-O1", "-g", "-Wall", "-Wextra", "-ffp-contract=off", "-pthread",
    "-fsanitize=address,undefined", "-fno-sanitize-recover=undefined", "-fno-omit-frame-pointer",
]


def _sources(test: Path) -> list[Path]:
    match = re.search(r"^// sources:(.*)$", test.read_text(), re.MULTILINE)
    return [ROOT / s for s in match.group(1).split()] if match else []


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs g++")
@pytest.mark.parametrize("test", CPP_TESTS, ids=lambda p: p.stem)
def test_kernel(test: Path, tmp_path: Path) -> None:
    exe = tmp_path / test.stem
    build = subprocess.run(
        ["g++", *FLAGS, f"-I{ROOT / 'src' / 'native'}", f"-I{test.parent}",
         str(test), *map(str, _sources(test)), "-o", str(exe)],
        capture_output=True, text=True)
    assert build.returncode == 0, build.stderr
    run = subprocess.run([str(exe)], capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
