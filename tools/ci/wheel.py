"""The wheel stage: a wheel built from the tree (warnings as errors) ships
the producers and the simulated camera, and installs into a fresh virtual
environment without the optional extras, where the modules degrade as they
should: all import, the camera names its install hint, the sink runs in
simulation mode, the producers load.
    python tools/ci/wheel.py OUT_DIR    (the wheel is left in OUT_DIR)"""

from __future__ import annotations

import shutil
import subprocess
import sys
import tempfile
import venv
import zipfile
from pathlib import Path

from common import ROOT

CHECK = r"""
import logging
logging.basicConfig(level=logging.INFO, format="%(name)s %(message)s")
from vantix.inspection.modules.anomaly.feature_bank import FeatureBank
from vantix.io.camera.base import CameraError
from vantix.io.camera.gentl_camera import GentlCamera, enumerate_devices
from vantix.io.sink.plc_link import PlcLinkSink
from vantix.schemas.common import InspectionResult, Verdict
import numpy as np

print("bank", FeatureBank.build([np.zeros(4), np.ones(4)]).std[0])
try:
    GentlCamera().open()
except CameraError as exc:
    print("camera", exc)
print("devices", enumerate_devices()["reason"])
sink = PlcLinkSink()
sink.open()
sink.send(InspectionResult(Verdict.NG, 0.25), {"product_id": "abc"})
print("simulated", sink.test_connection()["simulated"])
import ctypes
from vantix import gev, sim
for producer in (sim, gev):
    print("producer", producer.__name__, ctypes.CDLL(producer.producer_path()).GCInitLib())
"""

SHIPPED = {
    "vantix/sim/presets.json",
    "vantix/sim/vantix_sim.cti",
    "vantix/sim/vantix_sim_camera",
    "vantix/gev/vantix_gev.cti",
}
# What the check prints, on stdout and on stderr.
STDOUT = [
    "bank 0.500001",
    'camera the GenICam extra is not installed. Run: pip install "vantix[genicam]" '
    "(to work without a camera, set camera.driver to file or watch_folder)",
    'devices the GenICam extra is not installed. Run: pip install "vantix[genicam]"',
    "simulated True",
    # The producers load without Python or extras.
    "producer vantix.sim 0",
    "producer vantix.gev 0",
]
STDERR = [
    "pymodbus is not installed -> PlcLinkSink runs in simulation mode (log only)",
    "[modbus-sim] reg[100]=2 reg[101]=250 reg[102]=1 reg[103]=16834",
]


def failed(step: str, run: subprocess.CompletedProcess) -> int:
    print(f"{step}: FAILED (exit {run.returncode})\n{run.stdout}{run.stderr}", end="")
    return 1


def main() -> int:
    out = Path(sys.argv[1]).resolve()
    shutil.rmtree(out, ignore_errors=True)
    # Every native source compiles without a warning.
    build = subprocess.run(
        [sys.executable, "-m", "pip", "wheel", "--no-deps", "-q", "-w", str(out)]
        + [f"-Cbuild-dir={ROOT / 'build' / 'ci' / 'wheel' / '{wheel_tag}'}"]
        + ["-Ccmake.define.VANTIX_WERROR=ON", str(ROOT)],
        capture_output=True,
        text=True,
    )
    if build.returncode != 0:
        return failed("build", build)
    (wheel,) = out.glob("vantix-*.whl")
    print(f"built {wheel.name}")
    missing = SHIPPED - set(zipfile.ZipFile(wheel).namelist())
    if missing:
        print(f"shipped files: FAILED: the wheel lacks {sorted(missing)}")
        return 1

    with tempfile.TemporaryDirectory() as tmp:
        env_dir = Path(tmp) / "env"
        venv.create(env_dir, with_pip=True)
        python = str(env_dir / "bin" / "python")
        install = subprocess.run(
            [python, "-m", "pip", "install", "-q", str(wheel)], capture_output=True, text=True
        )
        if install.returncode != 0:
            return failed("install without extras", install)
        run = subprocess.run(
            [python, "-c", CHECK], capture_output=True, text=True, cwd=tmp, timeout=300
        )
    if run.returncode != 0:
        return failed("without extras", run)
    absent = [f"stdout: {t}" for t in STDOUT if t not in run.stdout]
    absent += [f"stderr: {t}" for t in STDERR if t not in run.stderr]
    if absent:
        print("without extras: FAILED: missing", *absent, run.stdout + run.stderr, sep="\n")
        return 1
    print("without extras: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
