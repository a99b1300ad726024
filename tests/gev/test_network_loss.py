"""Our producer on a lossy network: the simulated camera served over the
loopback (vantix sim-camera), stream or control packets dropped at random by
nftables on the loopback's egress (as root, in the module's private
namespace) or by the camera's sender itself (--loss, without root)."""

from __future__ import annotations

import contextlib
import time

import numpy as np
import pytest

from vantix.sim import PRESETS, expected_image

from .conftest import gev_bench, node_value, producer_built, run_client

pytestmark = pytest.mark.skipif(
    not producer_built(), reason="the GigE Vision producer is not built"
)

MONO12_SENSOR = {"sensor_width": PRESETS["mono12"].width, "sensor_height": PRESETS["mono12"].height}
WIDTH, HEIGHT = 320, 240  # Mono8: tens of packets a frame at any packet size up to 9000
FRAMES = 100
RESEND_REQUESTED, RECOVERED, INCOMPLETE = (
    "StreamResendRequestedPacketCount",
    "StreamRecoveredPacketCount",
    "StreamIncompleteFrameCount",
)


def sim_image(block_id: int) -> np.ndarray:
    # The device sends the simulator's frame f as block f + 1 (0 is never used).
    return expected_image("Mono8", WIDTH, HEIGHT, block_id - 1, **MONO12_SENSOR)


@pytest.mark.parametrize(
    "dropped_by, resend",
    [("network", True), ("network", False), ("sender", True)],
    ids=["network-resend", "network-no-resend", "sender-resend"],
)
def test_stream_loss_is_recovered_by_resend_or_flagged_incomplete(
    serve, acquirer, lossy, dropped_by, resend
):
    from harvesters.core import Callback, ImageAcquirer

    class Count(Callback):
        calls = 0

        def emit(self, context=None):
            self.calls += 1

    network = dropped_by == "network"
    loss = lossy(2, gev_bench.STREAM_PACKETS) if network else contextlib.nullcontext()
    options = [] if network else ["--loss", "2"]
    camera = serve("mono12", *options, *([] if resend else ["--no-resend"]))
    with loss as dropped:
        ia = acquirer(camera)
        node_map = ia.remote_device.node_map
        node_map.PixelFormat.value = "Mono8"
        node_map.Width.value, node_map.Height.value = WIDTH, HEIGHT
        node_map.AcquisitionFrameRate.value = 200.0
        incomplete = Count()
        ia.add_callback(ImageAcquirer.Events.INCOMPLETE_BUFFER, incomplete)
        ia.num_buffers = 16
        ia.start()
        for _ in range(FRAMES):  # fetch() hands over complete frames only
            with ia.fetch(timeout=5.0) as buffer:
                c = buffer.payload.components[0]
                image = c.data.reshape(c.height, c.width)
                np.testing.assert_array_equal(image, sim_image(buffer.frame_id))
        ia.stop()
    stream = ia.data_streams[0].node_map
    counters = {
        name: node_value(stream, name) for name in (RESEND_REQUESTED, RECOVERED, INCOMPLETE)
    }
    assert dropped is None or dropped[gev_bench.STREAM_PACKETS] > 0
    if resend:
        assert incomplete.calls == 0, counters
        assert counters[RESEND_REQUESTED] > 0 and counters[RECOVERED] > 0, counters
    else:
        assert incomplete.calls > 0 and counters[RESEND_REQUESTED] == 0, counters
        assert counters[INCOMPLETE] >= incomplete.calls, counters


def test_control_loss_is_retried_without_losing_the_camera(serve, gev_camera, lossy):
    # 5 % of the commands and of the acknowledges dropped, from the open (the
    # document read in chunks) through twice the heartbeat time-out of
    # streaming with node writes in between. Discovery is spared: the
    # producer asks once per update, so a lost answer hides the camera.
    loss = lossy(5, *gev_bench.CONTROL_PACKETS)
    camera = serve("mono12")
    heartbeat_ms = int(run_client("get", camera.address, "0x0938")["features"]["0x0938"])
    with loss as dropped:
        cam = gev_camera(camera, pixel_format="Mono8", width=64, height=48)
        deadline, gain = time.monotonic() + 2 * heartbeat_ms / 1000, 0
        while time.monotonic() < deadline:
            assert cam._receive(5.0) is not None
            gain = (gain + 1) % 20
            cam._set_node("Gain", float(gain))
            assert cam._read_node("Gain") == gain
    assert all(dropped.values()), dropped
    assert cam._receive(5.0) is not None  # still ours once the network is whole
