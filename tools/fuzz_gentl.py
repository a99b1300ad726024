#!/usr/bin/env python3
"""Builds tools/fuzz_gentl.cpp with the simulator's and the GenTL core's
sources under ASan and UBSan and runs random C API call sequences against it.

    tools/fuzz_gentl.py [--sequences 100000] [--jobs 1] [--seed 1]

Half the runs use small cameras with every fault switched on (loss and
return, incomplete buffers, delay and jitter, restricted access), half the
default cameras. Any sanitizer report or crash ends that run with a
non-zero status; the script then exits non-zero.
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import time
from pathlib import Path

from fuzz_build import CORE, ROOT, SANITIZER_ENV, SIM_MODEL, SIM_TRANSPORT, build

SOURCES = sorted([*SIM_MODEL.glob("*.cpp"), *SIM_TRANSPORT.glob("*.cpp"), *CORE.glob("*.cpp")])
FAULTY = {
    "devices": [
        {"preset": "mono12", "width": 64, "height": 32, "incomplete_every": 2},
        {
            "preset": "bayer12",
            "width": 64,
            "height": 32,
            "lose_after_frames": 3,
            "return_after_ms": 1,
        },
        {"preset": "rgb8", "width": 32, "height": 16, "frame_delay_ms": 1, "frame_jitter_ms": 1},
        {"preset": "legacy", "width": 48, "height": 16, "access": "control"},
    ],
    "refuse_module_events": True,
}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sequences", type=int, default=100_000)
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    work = ROOT / "build" / "fuzz-gentl"  # this checkout's own binary
    work.mkdir(parents=True, exist_ok=True)
    exe = work / "fuzz_gentl"
    build(exe, [ROOT / "tools" / "fuzz_gentl.cpp", *SOURCES], ["-ldl"], Path(__file__))
    config = work / "faulty.json"
    config.write_text(json.dumps(FAULTY))

    runs = 2 * args.jobs
    share = [args.sequences // runs + (i < args.sequences % runs) for i in range(runs)]
    started = time.monotonic()
    pending = []
    for i, count in enumerate(share):
        run_env = dict(SANITIZER_ENV)
        if i % 2 == 0:
            run_env["VANTIX_SIM_CONFIG"] = str(config)
        else:
            run_env.pop("VANTIX_SIM_CONFIG", None)
        pending.append(
            subprocess.Popen(
                [str(exe), str(count), str(args.seed + i)],
                env=run_env,
                stdout=subprocess.PIPE,
                stderr=subprocess.STDOUT,
                text=True,
            )
        )
        if len(pending) == args.jobs or i == runs - 1:
            for run in pending:
                output, _ = run.communicate()
                print(output.strip() or f"(no output, exit {run.returncode})")
                if run.returncode != 0:
                    print(f"FAILED: exit {run.returncode}", file=sys.stderr)
                    return 1
            pending = []
    print(
        f"{args.sequences} sequences in {time.monotonic() - started:.0f} s: 0 crashes, 0 "
        f"sanitizer reports"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
