"""The camera module's paths over the network: GentlCamera on our producer
and the simulated camera served over the loopback (vantix sim-camera) —
software and line triggers, a packed Bayer format, a second process's
access, and a camera lost and back."""

from __future__ import annotations

import json

import numpy as np
import pytest

from vantix import sim
from vantix.io.camera.base import TriggerMode
from vantix.io.camera.gentl_camera import GentlCamera

from .conftest import LIMIT_S, RECEIVE_UNTIL_LOST, producer_built

pytestmark = pytest.mark.skipif(
    not producer_built(), reason="the GigE Vision producer is not built"
)

SMALL = {"width": 64, "height": 48}
REFUSED_EVERY_ACCESS = (
    "카메라를 열 수 없습니다(권한 ['exclusive', 'control', 'read_only'] 모두 거부): "
)


def following(block_id: int, count: int) -> list[int]:
    """`count` block ids from this one on (16 bit, 0 skipped)."""
    ids = [block_id]
    while len(ids) < count:
        ids.append(ids[-1] % 65535 + 1)
    return ids


@pytest.mark.parametrize("mode", [TriggerMode.SOFTWARE, TriggerMode.HARDWARE])
def test_one_frame_per_trigger_and_none_without(serve, gev_camera, mode):
    camera = serve("bayer12")
    cam = gev_camera(camera, trigger_line="Line0", trigger_activation="RisingEdge", **SMALL)
    cam.set_trigger_mode(mode)
    cam._set_node("SimulationLineSelector", "Line0")
    ids = []
    for _ in range(3):
        if mode is TriggerMode.HARDWARE:
            cam._set_node("SimulationLinePulse", True)
        ids.append(cam._receive(2.0)[1]["device_frame_id"])
    assert ids == following(ids[0], 3)
    assert cam._ia.try_fetch(timeout=0.3) is None  # no frame without a trigger


def test_bayer_packed_frames_convert_as_in_process(serve, gev_camera):
    # A still scene draws every frame as frame 0, so both paths see one picture.
    params = {"pixel_format": "BayerRG12p", "features": {"SimulationStillScene": True}, **SMALL}
    camera = serve("bayer12")
    remote = gev_camera(camera, **params)
    local = GentlCamera({"cti_path": sim.producer_path(), "serial": camera.serial, **params})
    local.open()
    try:
        want, info = local._receive(5.0)
    finally:
        local.close()
    assert info["pixel_format"] == "BayerRG12p" and want.shape == (48, 64, 3)
    assert len(np.unique(want.reshape(-1, 3), axis=0)) > 4  # the quadrants and the ramp
    for _ in range(3):
        image, info = remote._receive(5.0)
        assert info["pixel_format"] == "BayerRG12p"
        np.testing.assert_array_equal(image, want)


SECOND_PROCESS = """
import json, signal
signal.alarm({limit})
from vantix.io.camera.base import CameraError
from vantix.io.camera.gentl_camera import GentlCamera
cam = GentlCamera({{"cti_path": {cti!r}, "serial": {serial!r}}})
try:
    cam.open()
except CameraError as exc:
    print(json.dumps({{"refused": str(exc)}}))
    raise SystemExit
try:
    cam._set_node("Width", 32)
    write = "accepted"
except CameraError:
    write = "refused"
print(json.dumps({{"privilege": cam._privilege, "width": cam._read_node("Width"), "write": write}}))
cam.close()
"""


@pytest.mark.parametrize("held", ["exclusive", "control"])
def test_a_second_process_is_refused_or_gets_read_only_access(
    serve, harvester, producer, child, held
):
    # Exclusive control keeps even reads to its holder; control leaves
    # others a monitor's reads. The first streams meanwhile.
    from harvesters.core import ParameterKey, ParameterSet

    camera = serve("mono12")
    harvester.update()
    privilege = ParameterSet({ParameterKey.DEVICE_OWNERSHIP_PRIVILEGE: held})
    first = harvester.create({"serial_number": camera.serial}, config=privilege)
    first.remote_device.node_map.Width.value = 64
    first.start()
    second = child(SECOND_PROCESS.format(limit=LIMIT_S, cti=producer, serial=camera.serial))
    while second.process.poll() is None:
        first.fetch(timeout=5.0).queue()
    seen = json.loads(second.read())
    if held == "exclusive":
        assert seen["refused"].startswith(REFUSED_EVERY_ACCESS), seen
    else:
        assert seen == {"privilege": "read_only", "width": 64, "write": "refused"}
    first.fetch(timeout=5.0).queue()


LOST_AND_BACK = """
import signal, sys, time
signal.alarm({limit})
from vantix.io.camera.base import CameraError
from vantix.io.camera.gentl_camera import GentlCamera
cam = GentlCamera({{"cti_path": {cti!r}, "serial": {serial!r}, "width": 64, "height": 48}})
cam.open()
print(cam._receive(5.0) is not None, flush=True)
cam._set_node("SimulationReturnAfter", 2000)
try:
    cam._set_node("SimulationLoseDevice", True)
except CameraError:
    pass  # gone before it acknowledged
{receive_until_lost}
cam.close()
while True:  # back after about 2 s; the alarm bounds the wait
    try:
        cam.open()
        break
    except CameraError:
        time.sleep(0.5)
print(cam._receive(5.0) is not None, flush=True)
cam.close()
"""


def test_a_lost_camera_ends_the_reception_and_opens_again_once_back(serve, producer, child):
    camera = serve("mono12")
    run = child(
        LOST_AND_BACK.format(
            limit=LIMIT_S, cti=producer, serial=camera.serial, receive_until_lost=RECEIVE_UNTIL_LOST
        )
    )
    assert run.read() == "True"
    assert run.read() in ("None", "CameraError")
    assert run.read() == "True"
    assert run.process.wait(timeout=LIMIT_S) == 0
