"""The type stubs of the native modules agree with them, and the package
type-checks against them."""

import subprocess
import sys

import pytest

pytest.importorskip("mypy")

NATIVE = [
    "vantix._threads",
    "vantix.inspection.modules.anomaly.feature_bank",
    "vantix.io.sink.plc_link",
    "vantix.io.camera.gentl_camera",
]


@pytest.mark.parametrize(
    "command",
    [["mypy.stubtest", *NATIVE], ["mypy", "--cache-dir", ".", "-p", "vantix"]],
    ids=["stubtest", "mypy"],
)
def test_types(command, tmp_path):
    # Run from an empty folder, so that the installed package is checked.
    run = subprocess.run(
        [sys.executable, "-m", *command], capture_output=True, text=True, cwd=tmp_path, timeout=600
    )
    assert run.returncode == 0, run.stdout + run.stderr
