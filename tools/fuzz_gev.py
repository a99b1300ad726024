#!/usr/bin/env python3
"""Builds tools/fuzz_gev.cpp with the GigE Vision protocol sources under ASan
and UBSan and feeds it random and mutated network input.

    tools/fuzz_gev.py [--inputs 1000000] [--seed 1]

Three in ten inputs are control answers (acknowledges, typed payloads,
discovery), four in ten stream packet sequences through a frame assembler
into small guarded buffers, three in ten GenICam document URLs and zip
archives. A broken check, a sanitizer report or a crash ends the run with a
non-zero status and prints the input's target and seed; the script then
exits non-zero. Replay one with build/fuzz-gev/fuzz_gev --replay TARGET SEED.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

from fuzz_build import ROOT, build, run_inputs

PROTOCOL = ROOT / "src" / "native" / "gev" / "protocol"
SOURCES = [ROOT / "tools" / "fuzz_gev.cpp", *sorted(PROTOCOL.glob("*.cpp"))]
FLAGS = ["-lz"]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--inputs", type=int, default=1_000_000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    work = ROOT / "build" / "fuzz-gev"  # this checkout's own binary
    exe = work / "fuzz_gev"
    build(exe, SOURCES, FLAGS, Path(__file__), headers_of=[PROTOCOL])
    return run_inputs(exe, args.inputs, args.seed)


if __name__ == "__main__":
    sys.exit(main())
