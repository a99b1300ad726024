"""The host-side camera modules: producer discovery, the chatter guard, the
trigger-mode enumeration and the base class's reading path."""

from __future__ import annotations

import logging
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

from vantix.io.camera._native_quiet import quiet_gentl_chatter
from vantix.io.camera.base import CameraError, Frame, TriggerCoupledCamera, TriggerMode
from vantix.io.camera.genicam_producers import discover_producers


@pytest.fixture
def producer_tree(tmp_path):
    for folder, names in {"a": ["z.cti", "b.CTI", "readme.txt"], "b": ["c.cti"]}.items():
        (tmp_path / folder).mkdir()
        for name in names:
            (tmp_path / folder / name).write_bytes(b"")
    (tmp_path / "a" / "link.cti").symlink_to(tmp_path / "b" / "c.cti")
    return tmp_path


def paths(entries):
    return [os.path.relpath(e["path"], e["path"].rsplit(os.sep, 2)[0]) for e in entries]


def test_discovery_of_a_file_a_folder_and_nothing(producer_tree):
    assert paths(discover_producers(str(producer_tree / "b" / "c.cti"))) == ["b/c.cti"]
    # name order, .cti in any letter case, other files ignored
    assert paths(discover_producers(producer_tree / "a")) == ["a/b.CTI", "a/link.cti", "a/z.cti"]
    assert discover_producers(str(producer_tree / "missing")) == []
    assert all(set(e) >= {"path"} for e in discover_producers(producer_tree / "a"))


def test_discovery_from_the_gentl_path_variable(producer_tree, monkeypatch):
    folders = [
        producer_tree / "b",
        producer_tree / "nowhere",
        producer_tree / "a",
        producer_tree / "b",
    ]
    monkeypatch.setenv("GENICAM_GENTL64_PATH", os.pathsep.join(map(str, folders)))
    assert paths(discover_producers(None)) == ["b/c.cti", "a/b.CTI", "a/z.cti"]
    monkeypatch.delenv("GENICAM_GENTL64_PATH")
    assert discover_producers(None) == []


def test_chatter_is_silenced_at_the_descriptor_and_restored(capfd):
    os.write(1, b"before\n")
    with quiet_gentl_chatter():
        os.write(1, b"native stdout\n")
        os.write(2, b"native stderr\n")
        with quiet_gentl_chatter():
            os.write(1, b"nested\n")
        os.write(1, b"still quiet\n")
    with pytest.raises(ValueError):
        with quiet_gentl_chatter():
            raise ValueError("inside")
    os.write(1, b"after\n")
    os.write(2, b"err after\n")
    out, err = capfd.readouterr()
    assert (out, err) == ("before\nafter\n", "err after\n")


def test_ctrl_c_never_leaves_the_console_silenced():
    child = Path(__file__).with_name("quiet_child.py")
    run = subprocess.run([sys.executable, str(child)], capture_output=True, text=True, timeout=120)
    interrupted, left_silenced = map(int, run.stderr.split()[-2:])
    assert interrupted > 50 and left_silenced == 0


def test_records_logged_while_quiet_reach_the_console(capfd):
    logger = logging.getLogger("vantix.test.quiet")
    handler = logging.StreamHandler(sys.stderr)
    logger.addHandler(handler)
    try:
        with quiet_gentl_chatter():
            logger.warning("producer registration failed")
            assert capfd.readouterr().err == ""
    finally:
        logger.removeHandler(handler)
    assert capfd.readouterr().err == "producer registration failed\n"


@pytest.mark.parametrize(
    "value, member",
    [
        (TriggerMode.SOFTWARE, TriggerMode.SOFTWARE),
        ("hardware", TriggerMode.HARDWARE),
        ("Continuous", TriggerMode.CONTINUOUS),
        (" SOFTWARE ", TriggerMode.SOFTWARE),
    ],
)
def test_trigger_mode_coercion(value, member):
    assert TriggerMode.coerce(value) is member


def test_unknown_trigger_mode():
    with pytest.raises(CameraError, match="unsupported trigger mode: 3"):
        TriggerMode.coerce(3)


class ScriptedCamera(TriggerCoupledCamera):
    """_receive hands out the scripted results and records its time-outs."""

    def __init__(self, script, params=None):
        super().__init__(params)
        self.script, self.timeouts = list(script), []
        self._trigger_mode = TriggerMode.CONTINUOUS

    def open(self):
        self._opened = True

    def close(self):
        self._opened, self._pending = False, None

    def set_trigger_mode(self, mode):
        self._trigger_mode = mode

    def _receive(self, timeout_s):
        self.timeouts.append(timeout_s)
        step = self.script.pop(0)
        return step(self) if callable(step) else step


IMAGE = np.zeros((2, 2, 3), np.uint8)


def test_read_passes_the_time_out_and_builds_frames():
    with ScriptedCamera([(IMAGE, {"a": 1}), None, (IMAGE, {})], {"timeout_s": 2.5}) as cam:
        frame = cam.read()
        assert isinstance(frame, Frame) and frame.meta == {"a": 1} and frame.seq == 1
        assert (frame.width, frame.height) == (2, 2)
        assert cam.read(0.5) is None
        assert cam.read().seq == 2
        assert cam.timeouts == [2.5, 0.5, 2.5]
    with pytest.raises(CameraError, match="call open"):
        cam.read()


def test_hardware_wait_is_made_in_slices_beyond_the_time_out():
    cam = ScriptedCamera([None, None, (IMAGE, {})], {"timeout_s": 0.01})
    cam.open()
    cam.set_trigger_mode(TriggerMode.HARDWARE)
    assert cam.read(0.01).seq == 1
    assert cam.timeouts == [cam.HARDWARE_SLICE_S] * 3 and cam._pending is None


@pytest.mark.parametrize("stop", [lambda cam: cam.close(), lambda cam: cam.cancel_wait()])
def test_hardware_wait_ends_on_close_or_cancel(stop):
    def stop_then_wait(cam):
        stop(cam)
        return None

    cam = ScriptedCamera([None, stop_then_wait, (IMAGE, {})])
    cam.open()
    cam.set_trigger_mode(TriggerMode.HARDWARE)
    assert cam.read() is None and len(cam.timeouts) == 2


def test_hardware_wait_limit():
    cam = ScriptedCamera([None] * 3, {"hardware_wait_s": 0})
    cam.open()
    cam.set_trigger_mode(TriggerMode.HARDWARE)
    assert cam.read() is None and cam.timeouts == [cam.HARDWARE_SLICE_S]
