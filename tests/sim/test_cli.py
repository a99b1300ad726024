"""python -m vantix devices --sim lists the simulator's cameras, labelled."""

from __future__ import annotations

import subprocess
import sys

from vantix import sim


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
    for preset in sim.PRESETS.values():
        assert any(preset.serial in line and preset.model in line for line in lines), done.stdout
