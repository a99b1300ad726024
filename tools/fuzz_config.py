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
import sys
from pathlib import Path

from fuzz_build import CORE, ROOT, SIM_MODEL, build, run_inputs

SOURCES = [
    ROOT / "tools" / "fuzz_config.cpp",
    *(SIM_MODEL / f"{name}.cpp" for name in ("config", "config_file", "json", "pixel_formats")),
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
    return run_inputs(exe, args.inputs, args.seed, "; input in " + str(work))


if __name__ == "__main__":
    sys.exit(main())
