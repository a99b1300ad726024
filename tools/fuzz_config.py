#!/usr/bin/env python3
"""Builds tools/fuzz_config.cpp with the simulator's configuration sources
under ASan and UBSan and feeds it random configuration documents.

    tools/fuzz_config.py [--inputs 1000000] [--seed 1]

Each input goes through the parser, one in a hundred also through the file
loader; special files (a FIFO, devices, a directory, links to them, files
above 1 MiB, one that grows) are loaded once a run and must be refused at
once. A broken check, a sanitizer report or a crash ends the run with a
non-zero status and leaves the input in build/fuzz-config/; the script then
exits non-zero. Replay one with build/fuzz-config/fuzz_config --replay FILE.
"""

from __future__ import annotations

import argparse
import subprocess
import sys
import time
from pathlib import Path

from fuzz_build import CORE, PRODUCER, ROOT, SANITIZER_ENV, build

SOURCES = [
    ROOT / "tools" / "fuzz_config.cpp",
    *(PRODUCER / f"{name}.cpp" for name in ("config", "config_file", "json", "pixel_formats")),
    CORE / "utf8.cpp",
]
# The settings turn JSON numbers into integers.
FLAGS = ["-fsanitize=float-cast-overflow"]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--inputs", type=int, default=1_000_000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    work = ROOT / "build" / "fuzz-config"  # this checkout's own binary
    exe = work / "fuzz_config"
    build(exe, SOURCES, FLAGS, Path(__file__))
    started = time.monotonic()
    run = subprocess.run(
        [str(exe), str(args.inputs), str(args.seed)],
        cwd=work,
        env=SANITIZER_ENV,
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        text=True,
        errors="replace",
    )
    print(run.stdout.strip() or f"(no output, exit {run.returncode})")
    if run.returncode != 0:
        print(f"FAILED: exit {run.returncode}; input in {work}", file=sys.stderr)
        return 1
    print(
        f"{args.inputs} inputs in {time.monotonic() - started:.0f} s: 0 crashes, 0 sanitizer "
        f"reports"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
