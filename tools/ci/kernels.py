"""The kernels stage: the C++ tests of the pure kernels (tests/cpp, CMake
targets of the project's own CMakeLists with VANTIX_KERNEL_TESTS) built
under ASan and UBSan, warnings as errors, and run one by one; every
tests/cpp/test_*.cpp must be a target. And CMake stops at a module name it
does not know."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile

from common import CMAKE, ROOT, passes, tool

BUILD = ROOT / "build" / "ci" / "kernels"


def build(cmake: str) -> bool:
    configure = [
        cmake,
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
    if shutil.which("ninja") and not (BUILD / "CMakeCache.txt").exists():
        configure += ["-G", "Ninja"]
    return passes("configure", configure) and passes(
        "build", [cmake, "--build", str(BUILD), "-j", "2"]
    )


def run_tests() -> tuple[int, int]:
    """(passed, failed) over every tests/cpp/test_*.cpp."""
    listed = (BUILD / "kernel-tests.txt").read_text().split(";")
    env = {**os.environ, "ASAN_OPTIONS": "detect_leaks=1", "UBSAN_OPTIONS": "print_stacktrace=1"}
    env.pop("VANTIX_PIXEL_ISA", None)  # the tests choose their own table
    passed = failed = 0
    for name in (p.stem for p in sorted((ROOT / "tests" / "cpp").glob("test_*.cpp"))):
        if name not in listed:
            print(f"{name}: FAILED: {name}.cpp is not a target in tests/cpp/CMakeLists.txt")
            failed += 1
            continue
        exe = next(BUILD.rglob(name))
        ok = passes(name, [str(exe)], env=env, timeout=300)
        passed, failed = passed + ok, failed + (not ok)
    return passed, failed


def unknown_module_stops_configuration(cmake: str) -> bool:
    with tempfile.TemporaryDirectory() as build_dir:
        done = subprocess.run(
            [cmake, "-S", str(ROOT), "-B", build_dir, "-DVANTIX_KERNEL_TESTS=ON"]
            + ["-DVANTIX_MODULES=feature_bank;plc_lnk"],
            capture_output=True,
            text=True,
        )
    ok = done.returncode != 0 and "no module 'plc_lnk'" in done.stderr
    print(f"an unknown module name stops the configuration: {'passed' if ok else 'FAILED'}")
    if not ok:
        print(done.stdout + done.stderr, end="")
    return ok


def main() -> int:
    cmake = tool("cmake", CMAKE)
    passed, failed = run_tests() if build(cmake) else (0, 1)
    if unknown_module_stops_configuration(cmake):
        passed += 1
    else:
        failed += 1
    print(f"kernels: {passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
