"""The simulated cameras served as GigE Vision devices (`python -m vantix
sim-camera`), checked with Aravis's client (a client nobody here wrote) and
with our own producer through harvesters: discovery, features, frames equal
to the simulator's formula, resends under loss, several cameras, and control
lapsing with the heartbeat.

A frame's block id is the simulator's frame id + 1 (block id 0 is never
used), so the formula is evaluated at block id - 1.
"""

from __future__ import annotations

import json
import socket
import struct
import subprocess
import sys
import time

import numpy as np
import pytest

from vantix import sim

from .conftest import ClientError, run_client

ADDRESS = "127.0.0.2"
SENSORS = {name: (p.width, p.height) for name, p in sim.PRESETS.items()}
DTYPES = {"Mono12": np.uint16, "BayerGB12": np.uint16}


def dumped_frames(folder, pixel_format, width, height, preset):
    """(block id, array as the formula gives it, bytes received) per frame."""
    index = json.loads((folder / "index.json").read_text())["frames"]
    sensor_width, sensor_height = SENSORS[preset]
    for entry in index:
        assert entry["status"] == "complete", entry
        want = sim.expected_image(
            pixel_format,
            width,
            height,
            entry["block_id"] - 1,
            sensor_width=sensor_width,
            sensor_height=sensor_height,
        )
        yield entry["block_id"], want, (folder / entry["file"]).read_bytes()


@pytest.mark.parametrize(
    "preset, pixel_format, width, height",
    [
        ("mono12", "Mono12", 640, 480),
        ("bayer12", "BayerGB12", 320, 240),
        ("rgb8", "RGB8", 256, 200),
        ("legacy", "Mono8", 640, 480),
    ],
)
def test_aravis_finds_sets_and_streams_each_preset(
    sim_camera, tmp_path, preset, pixel_format, width, height
):
    server = sim_camera("--camera", preset, "--address", ADDRESS)
    serial = sim.CAMERAS[preset]
    assert server.cameras == {serial: (preset, ADDRESS)}
    found = {d["serial"]: d for d in run_client("discover")["devices"]}
    assert found[serial]["address"] == ADDRESS and found[serial]["vendor"] == "vantix"

    settings = {"Width": width, "Height": height, "PixelFormat": pixel_format}
    run_client("set", ADDRESS, *(f"{k}={v}" for k, v in settings.items()))
    got = run_client("get", ADDRESS, *settings, "0x0934")["features"]
    assert {k: got[k] for k in settings} == {k: str(v) for k, v in settings.items()}
    assert got["0x0934"] & 0x4, "resend offered by default"

    result = run_client(
        "stream", ADDRESS, "--frames", "3", "--socket", "udp", "--dump", str(tmp_path)
    )
    assert result["frames"]["complete"] == 3
    for block_id, want, received in dumped_frames(tmp_path, pixel_format, width, height, preset):
        assert block_id != 0
        assert received == want.tobytes(), f"block {block_id}"


@pytest.mark.parametrize("resend", [True, False])
def test_loss_is_recovered_by_resends_only_when_offered(sim_camera, resend):
    args = ["--camera", "bayer12", "--address", ADDRESS, "--loss", "2"]
    sim_camera(*args, *([] if resend else ["--no-resend"]))
    capability = run_client("get", ADDRESS, "0x0934")["features"]["0x0934"]
    assert bool(capability & 0x4) == resend
    # Frames small enough for the receive buffer even when the receiver
    # stalls on a busy machine: what is missing is the injected loss.
    run_client("set", ADDRESS, "Width=320", "Height=240")
    result = run_client("stream", ADDRESS, "--frames", "30", "--socket", "udp", "--timeout", "3")
    stream = result["stream"]
    if resend:
        assert result["frames"]["complete"] == 30, result
        assert stream["n_resent_packets"] > 0, stream
    else:
        assert stream["n_resend_requests"] == 0, stream
        assert result["frames"]["complete"] < 30, result


def test_one_configuration_serves_each_camera_on_its_own_address(sim_camera, tmp_path):
    devices = [
        {"preset": "mono12", "serial": "LINE-A"},
        {"preset": "legacy", "serial": "LINE-B"},
        {"preset": "rgb8", "serial": "LINE-C"},
    ]
    config = tmp_path / "cameras.json"
    config.write_text(json.dumps({"devices": devices}))
    server = sim_camera("--config", str(config), "--address", ADDRESS, "--plain-xml")
    assert server.cameras == {
        "LINE-A": ("mono12", "127.0.0.2"),
        "LINE-B": ("legacy", "127.0.0.3"),
        "LINE-C": ("rgb8", "127.0.0.4"),
    }
    found = {d["serial"]: d["address"] for d in run_client("discover")["devices"]}
    for serial, (_, address) in server.cameras.items():
        assert found[serial] == address
        assert run_client("get", address, "DeviceSerialNumber")["features"] == {
            "DeviceSerialNumber": serial
        }


class Gvcp:
    """A bare control client: the fewest bytes that take and hold control."""

    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.settimeout(1)
        self.request = 0

    def send(self, command: int, payload: bytes, length: int | None = None) -> int | None:
        """One command (its length field may lie); the acknowledge's
        status, or None when nothing answers."""
        self.request += 1
        size = len(payload) if length is None else length
        header = struct.pack(">BBHHH", 0x42, 1, command, size, self.request)
        self.socket.sendto(header + payload, (ADDRESS, 3956))
        try:
            while True:
                status, code, _, request = struct.unpack(">HHHH", self.socket.recv(1500)[:8])
                if code == command + 1 and request == self.request:
                    return status
        except TimeoutError:
            return None

    def write(self, address: int, value: int) -> int | None:
        return self.send(0x82, struct.pack(">II", address, value))

    def close(self):
        self.socket.close()


def test_control_lapses_after_the_heartbeat_timeout(sim_camera):
    sim_camera("--camera", "legacy", "--address", ADDRESS)
    owner, other = Gvcp(), Gvcp()
    try:
        assert owner.write(0x0A00, 2) == 0  # control
        assert owner.write(0x0938, 1000) == 0  # heartbeat time-out, ms
        # Another application is answered, and refused.
        assert other.write(0x0A00, 2) == 0x8006
        with pytest.raises(ClientError):
            run_client("set", ADDRESS, "Width=320", limit=10)
        time.sleep(1.5)  # the owner falls silent
        assert run_client("set", ADDRESS, "Width=320")["features"] == {"Width": "320"}
    finally:
        owner.close()
        other.close()


def test_our_producer_streams_the_formula(sim_camera, harvester):
    sim_camera("--camera", "mono12", "--address", ADDRESS)
    harvester.update()
    ia = harvester.create({"serial_number": sim.CAMERAS["mono12"]})
    node_map = ia.remote_device.node_map
    node_map.Width.value, node_map.Height.value = 400, 300
    node_map.PixelFormat.value = "Mono12"
    sensor_width, sensor_height = SENSORS["mono12"]
    ia.start()
    for _ in range(3):
        with ia.fetch(timeout=5) as buffer:
            component = buffer.payload.components[0]
            got = component.data.reshape(component.height, component.width)
            want = sim.expected_image(
                "Mono12",
                400,
                300,
                buffer.frame_id - 1,
                sensor_width=sensor_width,
                sensor_height=sensor_height,
            )
            np.testing.assert_array_equal(got, want)
    ia.stop()


def test_malformed_commands_are_refused_and_the_device_goes_on(sim_camera):
    sim_camera("--camera", "legacy", "--address", ADDRESS)
    client = Gvcp()
    try:
        cases = [
            (0x0080, struct.pack(">I", 0x0002), None, 0x8005),  # READREG unaligned
            (0x0080, b"\x00\x00", None, 0x8002),  # READREG of half an address
            (0x0084, struct.pack(">IHH", 0x0000, 0, 516), None, 0x8002),  # READMEM > 512
            (0x0084, struct.pack(">IHH", 0x0000, 0, 0), None, 0x8002),
            (0x0084, struct.pack(">IHH", 0x0FFC, 0, 8), None, 0x8003),  # past the bootstrap
            (0x0082, struct.pack(">II", 0x0934, 0), None, 0x8006),  # a write without control
            (0x0123, b"", None, 0x8001),  # unknown command
            (0x0080, struct.pack(">I", 0), 200, None),  # length past the datagram: dropped
        ]
        for command, payload, length, status in cases:
            assert client.send(command, payload, length) == status, hex(command)
        for junk in (b"", b"\x42", b"\x00" * 8, bytes(range(256)) * 2):
            client.socket.sendto(junk, (ADDRESS, 3956))
        assert client.send(0x0080, struct.pack(">I", 0x0934)) == 0
    finally:
        client.close()


def test_the_demo_runs_over_the_network(bench, tmp_path):
    # Line trigger -> packets -> BGR -> feature bank -> PLC registers, the
    # device started and stopped by the demo itself.
    run = subprocess.run(
        [sys.executable, "-m", "vantix", "demo", "--network", "--frames", "12", "--train", "6"]
        + ["--out", str(tmp_path / "demo.png")],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert run.returncode == 0, run.stderr[-2000:]
    assert "BayerRG12p, hardware" in run.stdout and "12 (0 timed out)" in run.stdout
    assert "register sequence [102]   6" in run.stdout


@pytest.mark.parametrize(
    "command, says",
    [
        (["features", "Width=320", "Width"], "Width = 320"),
        (["grab", "--frames", "2", "--format", "npy", "--trigger", "software"], "2 frames in"),
        (["demo", "--frames", "8", "--train", "4", "--simulate"], "8 (0 timed out)"),
    ],
    ids=["features", "grab", "demo"],
)
def test_operator_commands_reach_a_gige_vision_camera(sim_camera, tmp_path, command, says):
    sim_camera("--camera", "mono12", "--address", ADDRESS)
    where = ["--out", str(tmp_path / ("out.png" if command[0] == "demo" else "frames"))]
    run = subprocess.run(
        [sys.executable, "-m", "vantix", *command, "--gev", "--serial", sim.CAMERAS["mono12"]]
        + (where if command[0] != "features" else []),
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert run.returncode == 0, run.stderr[-2000:]
    assert says in run.stdout
