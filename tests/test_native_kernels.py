"""Builds the C++ tests of the pure kernels (tests/cpp, CMake targets of the
project's own CMakeLists with VANTIX_KERNEL_TESTS) under ASan and UBSan,
warnings as errors, and runs each one."""

from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "kernel-tests"

pytestmark = pytest.mark.skipif(shutil.which("cmake") is None, reason="needs CMake")


@pytest.fixture(scope="module")
def built() -> Path:
    configure = [
        "cmake",
        "-S",
        str(ROOT),
        "-B",
        str(BUILD),
        "-DCMAKE_BUILD_TYPE=Debug",
        "-DVANTIX_KERNEL_TESTS=ON",
        "-DVANTIX_SANITIZE=ON",
        "-DVANTIX_WERROR=ON",
        "-DCMAKE_CXX_FLAGS=-O1",
    ]
    if shutil.which("ninja"):
        configure += ["-G", "Ninja"] if not (BUILD / "CMakeCache.txt").exists() else []
    for step in (configure, ["cmake", "--build", str(BUILD), "-j", "2"]):
        done = subprocess.run(step, capture_output=True, text=True)
        assert done.returncode == 0, done.stdout[-4000:] + done.stderr[-4000:]
    return BUILD


def kernel_tests() -> list[str]:
    return [p.stem for p in sorted((ROOT / "tests" / "cpp").glob("test_*.cpp"))]


@pytest.mark.parametrize("name", kernel_tests())
def test_kernel(built: Path, name: str) -> None:
    listed = (built / "kernel-tests.txt").read_text().split(";")
    assert name in listed, f"{name}.cpp is not a target in tests/cpp/CMakeLists.txt"
    exe = next(built.rglob(name))
    env = {**os.environ, "ASAN_OPTIONS": "detect_leaks=1", "UBSAN_OPTIONS": "print_stacktrace=1"}
    env.pop("VANTIX_PIXEL_ISA", None)  # the tests choose their own table
    run = subprocess.run([str(exe)], capture_output=True, text=True, timeout=300, env=env)
    assert run.returncode == 0, run.stdout + run.stderr


def test_an_unknown_module_name_stops_the_configuration(tmp_path):
    done = subprocess.run(
        [
            "cmake",
            "-S",
            str(ROOT),
            "-B",
            str(tmp_path),
            "-DVANTIX_KERNEL_TESTS=ON",
            "-DVANTIX_MODULES=feature_bank;plc_lnk",
        ],
        capture_output=True,
        text=True,
    )
    assert done.returncode != 0 and "no module 'plc_lnk'" in done.stderr
