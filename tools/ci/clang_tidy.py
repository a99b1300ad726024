"""clang-tidy (.clang-tidy) over the project's own C++: every translation unit
of the native build (the modules and the GigE Vision probe), of the kernel
tests and the fuzz harnesses, with the flags each is compiled with, two at a
time. A finding in a header is shown once, however many files include it.
    python tools/ci/clang_tidy.py [-j N] [file ...]"""

from __future__ import annotations

import argparse
import json
import os
import re
import subprocess
import sys
import time
from collections.abc import Sequence
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from common import CMAKE, ROOT, TEST_EXTRA, tool

BUILD = ROOT / "build" / "ci" / "tidy"
sys.path.insert(0, str(ROOT / "tools"))
from fuzz_build import FLAGS as FUZZ_FLAGS  # noqa: E402

# A diagnostic's first line (its file, which may be reached as
# a/../b/c.hpp); the lines up to the next one are its context.
DIAGNOSTIC = re.compile(r"^(\S.*?)(:\d+:\d+: (warning|error): .*)")


def configure(name: str, *defines: str) -> list[dict]:
    """The compile commands of the native build configured with `defines`."""
    build = BUILD / name
    done = subprocess.run(
        [tool("cmake", CMAKE), "-S", str(ROOT), "-B", str(build)]
        + ["-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"]
        + [f"-D{d}" for d in defines],
        capture_output=True,
        text=True,
    )
    if done.returncode != 0:
        sys.exit(f"clang-tidy: configuring the {name} build failed:\n{done.stdout}{done.stderr}")
    return json.loads((build / "compile_commands.json").read_text())


def fuzz_harnesses() -> list[dict]:
    """The harnesses are built by tools/fuzz_build.py, not CMake. They
    include the sanitizers' interface, which GCC ships and clang-tidy's
    own headers lack: GCC's alone is lent to it."""
    lent = BUILD / "include"
    lent.mkdir(parents=True, exist_ok=True)
    if not (lent / "sanitizer").exists():
        gcc = subprocess.run(
            [tool("g++", "GCC (Debian's g++)"), "-print-file-name=include/sanitizer"],
            capture_output=True,
            text=True,
        )
        (lent / "sanitizer").symlink_to(gcc.stdout.strip())
    flags = [*FUZZ_FLAGS, f"-I{ROOT / 'src' / 'native'}", f"-isystem{lent}"]
    return [
        {
            "directory": str(ROOT),
            "file": str(source),
            "arguments": ["g++", *flags, "-c", str(source)],
        }
        for source in sorted((ROOT / "tools").glob("*.cpp"))
    ]


def compile_database() -> Path:
    """One entry per source file, from the Python build, then the
    kernel-tests build, then the harnesses."""
    try:
        import pybind11
    except ImportError:
        sys.exit(f"pybind11 not found: it comes with {TEST_EXTRA}")

    entries = [
        *configure(
            "native",
            "SKBUILD=ON",
            "VANTIX_GEV_PROBE=ON",
            f"Python_EXECUTABLE={sys.executable}",
            f"pybind11_DIR={pybind11.get_cmake_dir()}",
        ),
        *configure("kernels", "VANTIX_KERNEL_TESTS=ON"),
        *fuzz_harnesses(),
    ]
    unique: dict[str, dict] = {}
    for entry in entries:
        unique.setdefault(str(Path(entry["directory"], entry["file"]).resolve()), entry)
    (BUILD / "compile_commands.json").write_text(json.dumps(list(unique.values()), indent=1))
    return BUILD


def tidy(program: str, database: Path, source: str) -> tuple[int, list[str]]:
    """clang-tidy's exit status on `source`, and its findings."""
    run = subprocess.run(
        [program, "-p", str(database), "--quiet", source], capture_output=True, text=True
    )
    blocks: list[str] = []
    for line in run.stdout.splitlines(keepends=True):
        if found := DIAGNOSTIC.match(line):
            path = Path(os.path.normpath(found[1]))
            shown = path.relative_to(ROOT) if path.is_relative_to(ROOT) else path
            blocks.append(f"{shown}{found[2]}\n")
        elif blocks:
            blocks[-1] += line
        else:
            blocks.append(line)
    if run.returncode != 0 and not blocks:  # a crash, or an unknown check
        blocks.append(f"{source}: clang-tidy exit {run.returncode}\n{run.stderr}")
    return run.returncode, blocks


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-j", "--jobs", type=int, default=2)
    parser.add_argument("files", nargs="*", help="only these (default: all)")
    args = parser.parse_args(argv)
    clang_tidy = tool("clang-tidy")
    database = compile_database()
    sources = [e["file"] for e in json.loads((database / "compile_commands.json").read_text())]
    if args.files:
        wanted = {str(Path(f).resolve()) for f in args.files}
        sources = [s for s in sources if str(Path(s).resolve()) in wanted]
    started = time.monotonic()
    failed, seen = 0, set()
    with ThreadPoolExecutor(args.jobs) as pool:
        for code, blocks in pool.map(lambda s: tidy(clang_tidy, database, s), sources):
            failed += code != 0
            for block in blocks:
                if block.splitlines()[0] not in seen:
                    seen.add(block.splitlines()[0])
                    sys.stdout.write(block)
    print(
        f"clang-tidy: {len(sources)} files in {time.monotonic() - started:.0f} s, "
        f"{len(seen)} findings, {failed} files failed"
    )
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
