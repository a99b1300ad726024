"""_receive on the simulated cameras: metadata, software and line triggers,
time-outs, incomplete buffers, a lost device, several threads and cameras.
Fakes only for buffers no producer delivers (a component format that
differs from the camera's, fields that raise or cannot be converted)."""

from __future__ import annotations

import math
import time

import numpy as np
import pytest

from vantix.io.camera.base import CameraError, TriggerMode

from .conftest import BAYER12, LEGACY, MONO12, RGB8, FakeBuffer, FakeNode, messages, run_in_threads

SMALL = {"width": 64, "height": 48}


def test_not_open(camera):
    cam = camera(open_=False, serial=MONO12)
    with pytest.raises(CameraError, match=r"^GentlCamera: call open\(\) first$"):
        cam._receive(1.0)


def test_reception_through_the_host_read_path(camera):
    cam = camera(serial=RGB8, timeout_s=2.0, **SMALL)
    frame = cam.read()
    assert frame.meta["pixel_format"] == "RGB8" and frame.seq == 1
    assert frame.image.shape == (48, 64, 3) and frame.image.flags.owndata
    cam.close()
    with pytest.raises(CameraError, match=r"^GentlCamera: call open\(\) first$"):
        cam._receive(1.0)


def test_continuous_frames_with_metadata(camera):
    cam = camera(serial=MONO12, **SMALL)
    ids = []
    for _ in range(3):
        image, info = cam._receive(2.0)
        assert image.shape == (48, 64, 3) and image.dtype == np.uint8
        assert list(info) == [
            "pixel_format",
            "device_serial",
            "device_timestamp_ns",
            "device_frame_id",
        ]
        assert info["pixel_format"] == "Mono8" and info["device_serial"] == MONO12
        assert type(info["device_timestamp_ns"]) is int and info["device_timestamp_ns"] > 0
        ids.append(info["device_frame_id"])
    assert ids == sorted(ids) and len(set(ids)) == 3


@pytest.mark.parametrize("timeout", [math.nan, math.inf, -math.inf])
def test_a_time_out_that_would_never_end_is_refused(camera, timeout):
    # The acquirer waits without limit for anything that is not above 0.
    cam = camera(serial=MONO12, **SMALL)
    with pytest.raises(CameraError, match="^timeout_s must be a finite number of seconds, got "):
        cam._receive(timeout)
    assert cam._receive(1e300) is not None  # long, but it ends


def test_software_trigger_fires_once_per_reception(camera):
    cam = camera(serial=LEGACY)
    cam.set_trigger_mode(TriggerMode.SOFTWARE)
    ids = [cam._receive(2.0)[1]["device_frame_id"] for _ in range(3)]
    assert ids == [ids[0], ids[0] + 1, ids[0] + 2]
    assert cam._ia.try_fetch(timeout=0.2) is None  # no frame was triggered twice


def test_triggered_acquisition_without_a_trigger_times_out(camera):
    cam = camera(serial=MONO12, **SMALL)
    cam.set_trigger_mode(TriggerMode.HARDWARE)  # the line stays quiet
    started = time.monotonic()
    assert cam._receive(0.3) is None
    assert time.monotonic() - started < 1.0
    cam.set_trigger_mode(TriggerMode.CONTINUOUS)
    assert cam._receive(2.0) is not None  # still usable


@pytest.mark.parametrize("line, edge", [("Line0", "RisingEdge"), ("Line1", "FallingEdge")])
def test_line_trigger_frames_come_with_the_configured_edge(camera, line, edge):
    cam = camera(serial=BAYER12, trigger_line=line, trigger_activation=edge, **SMALL)
    cam.set_trigger_mode(TriggerMode.HARDWARE)
    cam._set_node("SimulationLineSelector", line)
    for level, frame in [(True, edge == "RisingEdge"), (False, edge == "FallingEdge")]:
        cam._set_node("SimulationLineLevel", level)
        assert (cam._receive(0.5) is not None) is frame
    cam._set_node("SimulationLineSelector", "Line1" if line == "Line0" else "Line0")
    cam._set_node("SimulationLinePulse", True)  # the other line: nothing
    assert cam._receive(0.3) is None


def test_line_pulses_reach_the_host_read_path(camera):
    cam = camera(
        serial=BAYER12,
        pixel_format="BayerRG12p",
        features={"SimulationLinePulsePeriod": 20_000},
        **SMALL,
    )
    cam.set_trigger_mode("hardware")
    frames = [cam.read() for _ in range(3)]
    ids = [f.meta["device_frame_id"] for f in frames]
    assert ids == [ids[0], ids[0] + 1, ids[0] + 2] and frames[0].image.shape == (48, 64, 3)


def test_every_buffer_incomplete_ends_the_wait_on_time(camera, camlog, sim_config):
    sim_config(devices=[{"preset": "mono12", "incomplete_every": 1}])
    cam = camera(**SMALL)
    started = time.monotonic()
    assert cam._receive(0.5) is None
    assert time.monotonic() - started < 1.0
    (warning,) = [m for m in messages(camlog, "WARNING") if "incomplete" in m]
    assert warning.startswith("no complete frame within 0.5 s: ")
    assert int(warning.split(": ")[1].split()[0]) > 1


def test_incomplete_buffers_are_skipped(camera, sim_config):
    sim_config(devices=[{"preset": "mono12", "incomplete_every": 2}])
    cam = camera(**SMALL)
    assert all(cam._receive(2.0) is not None for _ in range(4))


def test_a_lost_device_fails_the_reception_and_opens_again_after(camera):
    cam = camera(serial=MONO12, **SMALL)
    assert cam._receive(2.0) is not None
    cam._set_node("SimulationLoseDevice", True)
    with pytest.raises(
        CameraError,
        match=r"^frame acquisition failed \(device disconnected or "
        r"cabling\?\): ",
    ) as info:
        cam._receive(2.0)
    assert info.value.__cause__ is not None and cam._opened  # closing is the host's decision
    cam.close()
    cam.open()
    assert cam._receive(2.0) is not None


def test_a_lost_device_fails_the_software_trigger(camera):
    cam = camera(serial=MONO12)
    cam.set_trigger_mode(TriggerMode.SOFTWARE)
    cam._set_node("SimulationLoseDevice", True)
    with pytest.raises(CameraError, match="^command execution failed TriggerSoftware: "):
        cam._receive(1.0)


def test_failed_conversion_gives_the_buffer_back(camera):
    cam = camera(serial=RGB8, pixel_format="YCbCr422_8", num_buffers=2, **SMALL)
    for _ in range(4):  # more than the buffers: each one came back
        with pytest.raises(CameraError, match="^지원하지 않는 PixelFormat: YCbCr422_8"):
            cam._receive(2.0)
    assert not cam._fetch_lock.locked()


def test_four_threads_receive_from_one_camera(camera):
    cam = camera(serial=MONO12, **SMALL)
    ids = []

    def worker():
        for _ in range(10):
            ids.append(cam._receive(2.0)[1]["device_frame_id"])

    assert run_in_threads(worker) == [] and len(set(ids)) == 40  # every buffer delivered once
    assert not cam._fetch_lock.locked()


def test_two_cameras_on_two_devices_and_enumeration_while_open(camera, gc, producer):
    mono = camera(serial=MONO12, **SMALL)
    colour = camera(serial=BAYER12, pixel_format="BayerGB8", **SMALL)
    assert mono._harvester is colour._harvester
    (users,) = [e["users"] for e in gc._SHARED_HARVESTERS.values()]
    assert users == 2
    listed = gc.enumerate_devices(producer)
    assert [d["serial_number"] for d in listed["devices"]][:2] == [MONO12, BAYER12]
    assert mono._receive(2.0)[1]["pixel_format"] == "Mono8"
    assert colour._receive(2.0)[1]["pixel_format"] == "BayerGB8"
    mono.close()
    assert colour._receive(2.0) is not None  # the other camera keeps its producer
    colour.close()
    assert gc._SHARED_HARVESTERS == {}


# --- what no producer delivers ------------------------------------------------------


@pytest.mark.parametrize(
    "error",
    [
        RuntimeError("Wait TIMED OUT"),
        RuntimeError("GC_ERR_TIMEOUT"),
        type("FetchTimeoutError", (Exception,), {})("no frame"),
    ],
)
def test_fetch_errors_read_as_time_outs(fake_camera, error):
    cam = fake_camera([error, FakeBuffer()])
    assert cam._receive(0.1) is None
    assert cam._receive(0.1) is not None


@pytest.mark.parametrize(
    "node_format, buffer_format, expected",
    [
        ("BayerRG8", "BayerRG8", {"pixel_format": "BayerRG8"}),
        ("Mono8", "Mono12", {"pixel_format": "Mono8", "buffer_pixel_format": "Mono12"}),
        (None, "Mono8", {"pixel_format": "Mono8"}),
        (None, None, {"pixel_format": ""}),
    ],
)
def test_pixel_format_keys(fake_camera, node_format, buffer_format, expected):
    cam = fake_camera([FakeBuffer(data_format=buffer_format)], PixelFormat=FakeNode(node_format))
    if node_format is None:
        del cam._ia.remote_device.node_map.nodes["PixelFormat"]
    cam._to_bgr = lambda component, fmt: None  # the keys alone are under test
    _, info = cam._receive(1.0)
    assert info == {**expected, "device_serial": "100"}
    assert list(info)[:2] == ["pixel_format", "device_serial"]


@pytest.mark.parametrize(
    "buffer_info, expected",
    [
        (
            {"timestamp_ns": 0, "timestamp": 1234, "frame_id": 0},
            {"device_timestamp_ns": 1234, "device_frame_id": 0},
        ),
        (
            {"timestamp_ns": 5.0, "timestamp": 1234, "frame_id": np.uint64(7)},
            {"device_timestamp_ns": 5, "device_frame_id": 7},
        ),
        ({"timestamp_ns": 0, "timestamp": 0, "frame_id": None}, {}),
        ({}, {}),
    ],
)
def test_timestamp_and_frame_id(fake_camera, buffer_info, expected):
    cam = fake_camera([FakeBuffer(**buffer_info)], device_info={})
    _, info = cam._receive(1.0)
    assert info == {"pixel_format": "Mono8", "device_serial": None, **expected}
    assert all(type(v) is int for k, v in info.items() if k.startswith("device_") and v is not None)


def test_fields_that_raise_are_left_out(fake_camera, gc):
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
    assert cam._receive(1.0)[1] == {
        "pixel_format": "Mono8",
        "device_serial": "100",
        "buffer_pixel_format": "",
    }
    # the node's format decides the conversion, as for a component without one
    assert gc.GentlCamera._to_bgr(cam, Component(), "Mono8").shape == (2, 3, 3)


@pytest.mark.parametrize("breakage, error", [("frame_id", ValueError), ("payload", IndexError)])
def test_the_buffer_is_given_back_on_every_error(fake_camera, breakage, error):
    buffer = FakeBuffer(frame_id="abc" if breakage == "frame_id" else 1)  # int() fails on "abc"
    if breakage == "payload":
        buffer.payload.components = []
    cam = fake_camera([buffer])
    with pytest.raises(error):
        cam._receive(1.0)
    assert buffer.returned == 1 and not cam._fetch_lock.locked()


def test_a_raw_buffer_harvesters_cannot_wrap_goes_back_to_its_stream(fake_camera):
    stream = type("Stream", (), {"queue_buffer": lambda self, raw: queued.append(raw)})()
    raw = type("RawBuffer", (), {"parent": stream})()  # no image info: harvesters must wrap it
    queued = []
    cam = fake_camera([raw])
    with pytest.raises(Exception):  # noqa: B017 - whatever harvesters raises for it
        cam._receive(1.0)
    assert queued == [raw] and not cam._fetch_lock.locked()
