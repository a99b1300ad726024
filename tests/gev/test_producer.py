"""Our GigE Vision producer against Aravis's fake camera, through bare
harvesters + genicam and through GentlCamera: discovery, node access, images
byte for byte, control kept over an idle pause, a second process, a camera
lost and back, and lost packets."""

from __future__ import annotations

import json
import logging
import subprocess
import sys
import time

import numpy as np
import pytest

from .conftest import (
    LIMIT_S,
    RECEIVE_UNTIL_LOST,
    ClientError,
    fake_image,
    node_value,
    producer_built,
    run_client,
)

pytestmark = pytest.mark.skipif(
    not producer_built(), reason="the GigE Vision producer is not built"
)

SMALL = {"width": 64, "height": 48}


def frames(ia, count: int, timeout: float = 5.0):
    """(block id, image) of `count` complete frames from a started acquirer,
    fetched as users do; buffers go back to the stream at once."""
    got = []
    for _ in range(count):
        with ia.fetch(timeout=timeout) as buffer:
            c = buffer.payload.components[0]
            got.append((buffer.frame_id, c.data.reshape(c.height, c.width).copy()))
    return got


def test_discovery_names_the_fake(harvester, fake):
    harvester.update()
    found = [
        (d.vendor, d.model, d.tl_type)
        for d in harvester.device_info_list
        if d.serial_number == fake.serial
    ]
    assert found == [("Aravis", "Fake", "GEV")]


@pytest.mark.parametrize("name, value", [("Width", 64), ("Height", 48), ("PixelFormat", "Mono16")])
def test_node_map_writes_reach_the_camera(acquirer, fake, name, value):
    ia = acquirer(fake)
    node_map = ia.remote_device.node_map
    getattr(node_map, name).value = value
    assert getattr(node_map, name).value == value
    ia.destroy()  # gives control back, so Aravis's client reads without waiting
    assert run_client("get", fake.address, name)["features"][name] == str(value)


@pytest.mark.parametrize("width, height", [(37, 23), (640, 480)])
def test_bare_harvesters_frames_are_byte_exact_across_the_block_id_wrap(
    acquirer, fake, width, height
):
    # 37 x 23 ends in a short payload packet; the fake's first block id is
    # 65401, so 200 frames pass 65535 -> 1.
    ia = acquirer(fake)
    node_map = ia.remote_device.node_map
    node_map.Width.value, node_map.Height.value = width, height
    node_map.AcquisitionFrameRate.value = 500.0
    ia.num_buffers = 16
    ia.start()
    got = frames(ia, 200)
    ids = [block for block, _ in got]
    assert 0 not in ids and any(b < a for a, b in zip(ids, ids[1:]))
    for block, image in got:
        np.testing.assert_array_equal(image, fake_image(width, height, block))


def test_gentl_camera_frames_are_the_fake_image(gev_camera, fake):
    cam = gev_camera(fake, pixel_format="Mono8", **SMALL)
    for _ in range(5):
        image, info = cam._receive(5.0)
        expected = fake_image(64, 48, info["device_frame_id"])
        assert info["device_serial"] == fake.serial
        np.testing.assert_array_equal(image, np.repeat(expected[..., None], 3, axis=2))


def test_control_outlasts_an_idle_pause(gev_camera, fake):
    cam = gev_camera(fake, num_buffers=4, **SMALL)
    heartbeat_ms = node_value(cam._ia.device.node_map, "GevHeartbeatTimeout")
    assert heartbeat_ms in (None, fake.heartbeat_ms)
    assert cam._receive(5.0) is not None
    time.sleep(1.5 * fake.heartbeat_ms / 1000)
    cam._set_node("GainRaw", 9)
    assert cam._read_node("GainRaw") == 9
    # Past the buffers filled during the pause: frames sent after it.
    assert all(cam._receive(5.0) is not None for _ in range(6))
    # The fake still takes us for its controller: another client's write
    # goes unanswered.
    with pytest.raises(ClientError, match="timeout"):
        run_client("set", fake.address, "GainRaw=1", limit=20)


READ_ONLY_CHILD = """
import json, signal
signal.alarm({limit})
from vantix.io.camera.gentl_camera import GentlCamera
cam = GentlCamera({{"cti_path": {cti!r}, "serial": {serial!r}}})
cam.open()
print(json.dumps({{"privilege": cam._privilege, "width": cam._read_node("Width")}}), flush=True)
cam.close()
"""


def test_a_second_process_gets_read_only_access_while_the_first_streams(
    gev_camera, fake, producer, child
):
    cam = gev_camera(fake, **SMALL)
    assert cam._receive(5.0) is not None
    second = child(READ_ONLY_CHILD.format(limit=LIMIT_S, cti=producer, serial=fake.serial))
    received = 0
    while second.process.poll() is None:
        assert cam._receive(5.0) is not None
        received += 1
    assert json.loads(second.read()) == {"privilege": "read_only", "width": 64}
    assert received > 0 and cam._receive(5.0) is not None


LOST_CHILD = """
import json, signal, sys, time
signal.alarm({limit})
from vantix.io.camera.base import CameraError
from vantix.io.camera.gentl_camera import GentlCamera
cam = GentlCamera({{"cti_path": {cti!r}, "serial": {serial!r}, "width": 64, "height": 48}})
cam.open()
print(cam._receive(5.0) is not None, flush=True)
sys.stdin.readline()  # the camera is gone
{receive_until_lost}
sys.stdin.readline()  # a camera with the same serial is back
cam.close()
cam.open()
print(cam._receive(5.0) is not None, flush=True)
cam.close()
"""


def test_a_camera_lost_mid_stream_ends_the_reception_and_opens_again(start_fake, producer, child):
    fake = start_fake()
    run = child(
        LOST_CHILD.format(
            limit=LIMIT_S, cti=producer, serial=fake.serial, receive_until_lost=RECEIVE_UNTIL_LOST
        )
    )
    assert run.read() == "True"
    fake.kill()
    run.go_on()
    assert run.read() in ("None", "CameraError")
    start_fake(serial=fake.serial)
    run.go_on()
    assert run.read() == "True"
    assert run.process.wait(timeout=LIMIT_S) == 0


# --- lost packets: the fake drops 100 in 1000 and cannot resend ----------------------

RESEND_REQUESTS, INCOMPLETE_FRAMES = (
    "StreamResendRequestedPacketCount",
    "StreamIncompleteFrameCount",
)


def test_lost_packets_flag_frames_incomplete_without_resend_requests(acquirer, start_fake):
    from harvesters.core import Callback, ImageAcquirer

    class Count(Callback):
        calls = 0

        def emit(self, context=None):
            self.calls += 1

    fake = start_fake(loss_per_mille=100)
    ia = acquirer(fake)
    ia.remote_device.node_map.Width.value, ia.remote_device.node_map.Height.value = 128, 32
    incomplete = Count()
    ia.add_callback(ImageAcquirer.Events.INCOMPLETE_BUFFER, incomplete)
    ia.start()
    for block, image in frames(ia, 20):  # ~4 packets a frame: about half arrive whole
        np.testing.assert_array_equal(image, fake_image(128, 32, block))
    stream = ia.data_streams[0].node_map
    counters = {name: node_value(stream, name) for name in (RESEND_REQUESTS, INCOMPLETE_FRAMES)}
    assert incomplete.calls > 0, counters
    assert counters == {RESEND_REQUESTS: 0, INCOMPLETE_FRAMES: counters[INCOMPLETE_FRAMES]}
    assert (counters[INCOMPLETE_FRAMES] or 0) >= incomplete.calls


@pytest.mark.parametrize("width, height, whole", [(128, 32, True), (1024, 512, False)])
def test_gentl_camera_delivers_only_whole_frames_under_loss(
    gev_camera, start_fake, caplog, width, height, whole
):
    caplog.set_level(logging.WARNING, logger="vantix.camera.harvester")
    fake = start_fake(loss_per_mille=100)
    cam = gev_camera(fake, pixel_format="Mono8", width=width, height=height)
    if whole:
        for _ in range(5):
            image, info = cam._receive(5.0)
            np.testing.assert_array_equal(
                image[..., 0], fake_image(width, height, info["device_frame_id"])
            )
    else:  # ~385 packets a frame: none arrives whole
        assert cam._receive(1.0) is None
        assert any(
            r.name == "vantix.camera.harvester"
            and r.getMessage().startswith("no complete frame within 1.0 s: ")
            for r in caplog.records
        )


def test_devices_command_lists_the_fake_with_its_address(fake, producer):
    listed = subprocess.run(
        [sys.executable, "-m", "vantix", "devices", "--gev"],
        capture_output=True,
        text=True,
        timeout=LIMIT_S,
    )
    assert listed.returncode == 0, listed.stderr
    row = next(line for line in listed.stdout.splitlines() if fake.serial in line)
    assert "Aravis" in row and f"({fake.serial}) at 127.0.0.1" in row
