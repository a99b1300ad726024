"""Building and running a fuzz harness with the native sources under ASan and
UBSan, shared by tools/fuzz_gentl.py, tools/fuzz_config.py and
tools/fuzz_gev.py."""

from __future__ import annotations

import os
import subprocess
import sys
import time
from collections.abc import Sequence
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SIM = ROOT / "src" / "native" / "sim"
SIM_MODEL, SIM_TRANSPORT = SIM / "model", SIM / "transport"
# The model builds in the presets the package ships, as CMake does.
PRESETS = [ROOT / "src" / "vantix" / "sim" / "presets.json", SIM_MODEL / "embed_presets.cmake"]
CORE = ROOT / "src" / "native" / "gentl_core"
FLAGS = [
    "-std=c++17",
    "-O1",
    "-g",
    "-pthread",
    "-fsanitize=address,undefined",
    "-fno-sanitize-recover=undefined",
    "-fno-omit-frame-pointer",
    # The native build's warnings (CMakeLists.txt).
    "-Wall",
    "-Wextra",
    "-Wconversion",
    "-Wsign-conversion",
    "-Wshadow",
]
# A report ends the run with a non-zero status.
SANITIZER_ENV = {
    **os.environ,
    "ASAN_OPTIONS": "detect_leaks=1:abort_on_error=1",
    "UBSAN_OPTIONS": "print_stacktrace=1",
}


def build(
    out: Path,
    sources: Sequence[Path],
    flags: Sequence[str],
    script: Path,
    headers_of: Sequence[Path] = (SIM_MODEL, SIM_TRANSPORT),
) -> None:
    """Compiles `sources` into `out` unless it is newer than each of them,
    the headers in the folders `headers_of` (the simulator's unless told),
    the core's and the tools', this file and the calling `script` (which
    holds the flags): an older binary would fuzz code that is no longer
    there. With the model's sources, the presets it builds in too."""
    folders = [*headers_of, CORE, Path(__file__).parent]
    headers = [h for folder in folders for h in folder.glob("*.hpp")]
    presets = PRESETS if any(s.parent == SIM_MODEL for s in sources) else []
    inputs = [*sources, *headers, *presets, Path(__file__), script]
    if out.exists() and all(out.stat().st_mtime > s.stat().st_mtime for s in inputs):
        return
    print(f"building {out.name} (ASan + UBSan) ...", flush=True)
    generated = out.parent / "generated"
    generated.mkdir(parents=True, exist_ok=True)
    if presets:
        embed = [f"-DINPUT={presets[0]}", f"-DOUTPUT={generated / 'presets_json.hpp'}"]
        subprocess.run(["cmake", *embed, "-P", str(presets[1])], check=True)
    includes = [f"-I{ROOT / 'src' / 'native'}", f"-I{generated}"]
    subprocess.run(
        ["g++", *FLAGS, *includes, *map(str, sources), *flags, "-o", str(out)], check=True
    )


def run_inputs(exe: Path, inputs: int, seed: int, failure_note: str = "") -> int:
    """Runs a harness that takes (inputs, seed) in its build folder and
    reports; non-zero when it crashed or a sanitizer spoke."""
    started = time.monotonic()
    run = subprocess.run(
        [str(exe), str(inputs), str(seed)],
        cwd=exe.parent,
        env=SANITIZER_ENV,
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        text=True,
        errors="replace",
    )
    print(run.stdout.strip() or f"(no output, exit {run.returncode})")
    if run.returncode != 0:
        print(f"FAILED: exit {run.returncode}{failure_note}", file=sys.stderr)
        return 1
    print(f"{inputs} inputs in {time.monotonic() - started:.0f} s: 0 crashes, 0 sanitizer reports")
    return 0
