"""_receive against fake acquirers: fetch outcomes and buffers that the
simulator does not produce, and concurrent receptions."""

from __future__ import annotations

import threading

import numpy as np
import pytest

from vantix.io.camera.base import CameraError, TriggerMode
from vantix.io.camera.gentl_camera import GentlCamera

from .conftest import FakeBuffer, FakeNode, run_in_threads


class FetchTimeoutError(Exception):
    pass


def test_not_open(fake_camera):
    cam = fake_camera([FakeBuffer()], trigger_mode=TriggerMode.SOFTWARE)
    cam._opened = False
    with pytest.raises(CameraError, match=r"^GentlCamera: call open\(\) first$"):
        cam._receive(1.0)
    assert cam._ia.calls == [] and cam._ia.remote_device.node_map.nodes["TriggerSoftware"].executed == 0


@pytest.mark.parametrize("mode, triggers", [
    (TriggerMode.SOFTWARE, 1), (TriggerMode.CONTINUOUS, 0), (TriggerMode.HARDWARE, 0)])
def test_software_trigger_fires_once_before_the_fetch(fake_camera, mode, triggers):
    cam = fake_camera([FakeBuffer()], trigger_mode=mode)
    cam._ia.remote_device.node_map.nodes["TriggerSoftware"].execute = (
        lambda: cam._ia.calls.append("trigger"))
    cam._receive(0.25)
    assert cam._ia.calls == ["trigger"] * triggers + ["fetch(0.25)"]


def test_failing_software_trigger_stops_before_the_fetch(fake_camera):
    cam = fake_camera([FakeBuffer()], trigger_mode=TriggerMode.SOFTWARE)
    del cam._ia.remote_device.node_map.nodes["TriggerSoftware"]
    with pytest.raises(CameraError, match="^no such command node: TriggerSoftware$"):
        cam._receive(1.0)
    broken = FakeNode()
    broken.execute = lambda: (_ for _ in ()).throw(RuntimeError("port closed"))
    cam._ia.remote_device.node_map.nodes["TriggerSoftware"] = broken
    with pytest.raises(CameraError, match="^command execution failed TriggerSoftware: port closed$"):
        cam._receive(1.0)
    assert cam._ia.calls == []


@pytest.mark.parametrize("error", [
    FetchTimeoutError("no frame"), RuntimeError("Wait TIMED OUT"), RuntimeError("GC_ERR_TIMEOUT")])
def test_time_outs_give_none_and_the_camera_stays_usable(fake_camera, error):
    cam = fake_camera([error, FakeBuffer()])
    assert cam._receive(0.1) is None
    assert cam._receive(0.1) is not None


def test_hard_fetch_failure(fake_camera):
    lost = RuntimeError("device lost")
    cam = fake_camera([lost])
    with pytest.raises(CameraError) as info:
        cam._receive(1.0)
    assert str(info.value) == "frame acquisition failed (device disconnected or cabling?): device lost"
    assert info.value.__cause__ is lost
    assert cam._opened and cam._ia is not None


@pytest.mark.parametrize("node_format, buffer_format, expected", [
    ("BayerRG8", "BayerRG8", {"pixel_format": "BayerRG8"}),
    ("Mono8", "Mono12", {"pixel_format": "Mono8", "buffer_pixel_format": "Mono12"}),
    (None, "Mono12", {"pixel_format": "Mono12"}),
    (None, None, {"pixel_format": ""}),
])
def test_pixel_format_keys(fake_camera, node_format, buffer_format, expected):
    nodes = {} if node_format is not None else {"PixelFormat": FakeNode(access=0)}
    cam = fake_camera([FakeBuffer(data_format=buffer_format)], **nodes)
    if node_format is not None:
        cam._ia.remote_device.node_map.nodes["PixelFormat"].value = node_format
    else:
        del cam._ia.remote_device.node_map.nodes["PixelFormat"]
    _, info = cam._receive(1.0)
    assert info == {**expected, "device_serial": "100"}
    assert list(info)[:2] == ["pixel_format", "device_serial"]


@pytest.mark.parametrize("buffer_info, expected", [
    ({"timestamp_ns": 0, "timestamp": 1234, "frame_id": 0},
     {"device_timestamp_ns": 1234, "device_frame_id": 0}),
    ({"timestamp_ns": 5.0, "timestamp": 1234, "frame_id": np.uint64(7)},
     {"device_timestamp_ns": 5, "device_frame_id": 7}),
    ({"timestamp_ns": 0, "timestamp": 0, "frame_id": None}, {}),
    ({}, {}),
])
def test_timestamp_and_frame_id(fake_camera, buffer_info, expected):
    cam = fake_camera([FakeBuffer(**buffer_info)], device_info={})
    _, info = cam._receive(1.0)
    assert info == {"pixel_format": "Mono8", "device_serial": None, **expected}
    assert all(type(v) is int for k, v in info.items() if k.startswith("device_") and v is not None)


def test_fields_that_raise_are_left_out(fake_camera):
    class Buffer(FakeBuffer):
        @property
        def timestamp_ns(self):
            raise RuntimeError("not available")

        timestamp = timestamp_ns
        frame_id = timestamp_ns

    class Component:
        data, width, height = np.zeros((2, 3), np.uint8), 3, 2

        @property
        def data_format(self):  # harvesters, for a format code it cannot name
            raise KeyError(0)

    buffer = Buffer()
    buffer.payload.components = [Component()]
    cam = fake_camera([buffer])
    assert cam._receive(1.0)[1] == {"pixel_format": "Mono8", "device_serial": "100",
                                    "buffer_pixel_format": ""}
    # the node's format decides the conversion, as for a component without one
    assert GentlCamera._to_bgr(cam, Component(), "Mono8").shape == (2, 3, 3)


@pytest.mark.parametrize("breakage", ["conversion", "frame_id", "payload"])
def test_the_buffer_is_given_back_on_every_error(fake_camera, monkeypatch, breakage):
    buffer = FakeBuffer(frame_id="abc")  # int() fails on it
    if breakage == "conversion":
        buffer.frame_id = 1
    if breakage == "payload":
        buffer.payload.components = []
    cam = fake_camera([buffer])
    if breakage == "conversion":
        monkeypatch.setattr(type(cam), "_to_bgr",
                            lambda self, c, f: (_ for _ in ()).throw(CameraError("bad payload")))
    expected = {"conversion": CameraError, "frame_id": ValueError, "payload": IndexError}[breakage]
    with pytest.raises(expected):
        cam._receive(1.0)
    assert buffer.returned == 1
    assert not cam._fetch_lock.locked()


def test_concurrent_receptions_are_serialised(fake_camera):
    inside, overlaps = [0], []

    class Watched(FakeBuffer):
        def __enter__(self):
            inside[0] += 1
            overlaps.append(inside[0])
            return self

        def __exit__(self, *exc):
            inside[0] -= 1
            return super().__exit__(*exc)

    buffers = [Watched(frame_id=i) for i in range(200)]
    cam = fake_camera(list(buffers))
    cam._to_bgr = lambda component, fmt: threading.Event().wait(0.0005) or component.data.copy()

    def worker():
        for _ in range(50):
            cam._receive(1.0)

    assert run_in_threads(worker) == [] and set(overlaps) == {1}
    assert all(b.returned == 1 for b in buffers)
