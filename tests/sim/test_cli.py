"""python -m vantix devices --sim lists the simulator's cameras, labelled."""

from __future__ import annotations

import subprocess
import sys


def test_devices_sim_lists_the_simulated_cameras():
    done = subprocess.run(
        [sys.executable, "-m", "vantix", "devices", "--sim"],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    title = [
        line for line in lines if line.startswith("simulated cameras (vantix GenTL simulator ")
    ]
    assert title and title[0].endswith("vantix_sim.cti)"), done.stdout
    for serial, model in [
        ("VXS-M12-001", "NL-M5012"),
        ("VXS-B12-002", "KV-C2312"),
        ("VXS-RGB-003", "OD-RGB13"),
        ("VXS-L08-004", "HC-G640"),
    ]:
        assert any(serial in line and model in line for line in lines), done.stdout
