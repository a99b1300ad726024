"""Ending a camera's work at odd moments on the simulated camera: closing or
re-triggering while another thread reads (the line trigger included),
interrupts inside a reception, and a camera dropped without close()."""

from __future__ import annotations

import gc as collector
import subprocess
import sys
import time
from pathlib import Path

import pytest

from vantix.io.camera.base import TriggerMode

from .conftest import MONO12, messages

CHILD = Path(__file__).with_name("reading_child.py")
# (action, trigger mode); see reading_child.py. The cases run side by side.
CASES = [
    (action, mode)
    for action in ("close", "retrigger", "nested")
    for mode in ("continuous", "software", "hardware")
]


def test_stopping_while_another_thread_reads_neither_crashes_nor_hangs(producer):
    children = {
        case: subprocess.Popen(
            [sys.executable, str(CHILD), producer, *case],
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
            text=True,
        )
        for case in CASES
    }
    deadline = time.monotonic() + 240
    failed = {}
    for case, child in children.items():
        try:
            out, _ = child.communicate(timeout=max(1.0, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            child.kill()
            out = child.communicate()[0] + "\n(hung)"
        if child.returncode != 0:
            failed[case] = (child.returncode, out[-1500:])
    assert failed == {}


def test_interrupted_receptions_leave_the_stream_its_buffers(camera):
    cam = camera(serial=MONO12, timeout_s=2.0, width=64, height=48)
    cam.set_trigger_mode(TriggerMode.SOFTWARE)

    def interrupted(buffer):  # Ctrl+C after a buffer left the stream
        raise KeyboardInterrupt

    cam._ia._update_statistics = interrupted
    for _ in range(6):  # more than the acquirer's buffers
        with pytest.raises(KeyboardInterrupt):
            cam.read()
    del cam._ia._update_statistics
    assert all(cam.read() is not None for _ in range(6))


def test_a_camera_dropped_while_open_gives_its_device_back(gc, producer, camlog):
    params = {"cti_path": producer, "serial": MONO12}
    dropped = gc.GentlCamera(params)
    dropped.open()
    del dropped
    collector.collect()
    assert gc._SHARED_HARVESTERS == {}
    assert any(
        m.endswith("was dropped without close(): releasing its device now")
        for m in messages(camlog, "WARNING")
    )
    again = gc.GentlCamera(params)
    again.open()
    again.close()
