"""The network layer against Aravis's simulated GigE Vision camera on the
loopback, through the developer's probe (tools/gev_probe.cpp) run in a
subprocess with a time limit: discovery, control, the XML, and a stream of
frames across the 16-bit block-id wrap."""

from __future__ import annotations

import os
import re
import shutil
import socket
import struct
import subprocess
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "kernel-tests"
FAKE = shutil.which("arv-fake-gv-camera-0.8")
SERIAL = "NETPROBE"

pytestmark = [
    pytest.mark.skipif(FAKE is None, reason="needs Aravis's arv-fake-gv-camera-0.8"),
    pytest.mark.skipif(shutil.which("cmake") is None, reason="needs CMake"),
]


@pytest.fixture(scope="module")
def probe() -> Path:
    # The kernel tests' configuration, which builds the probe.
    configure = [
        "cmake",
        "-S",
        str(ROOT),
        "-B",
        str(BUILD),
        "-DCMAKE_BUILD_TYPE=Debug",
        "-DVANTIX_KERNEL_TESTS=ON",
        "-DVANTIX_SANITIZE=ON",
        "-DVANTIX_WERROR=ON",
        "-DCMAKE_CXX_FLAGS=-O1",
    ]
    if shutil.which("ninja") and not (BUILD / "CMakeCache.txt").exists():
        configure += ["-G", "Ninja"]
    for step in (configure, ["cmake", "--build", str(BUILD), "-j", "2", "--target", "gev_probe"]):
        done = subprocess.run(step, capture_output=True, text=True)
        assert done.returncode == 0, done.stdout[-4000:] + done.stderr[-4000:]
    return next(BUILD.rglob("gev_probe"))


def loopback_camera_answers() -> bool:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        s.settimeout(0.3)
        s.sendto(struct.pack(">BBHHH", 0x42, 0x01, 0x0002, 0, 1), ("127.0.0.1", 3956))
        try:
            return bool(s.recv(1500))
        except OSError:
            return False


@pytest.fixture(scope="module")
def camera():
    # Two cameras sharing 127.0.0.1:3956 would split our commands between them.
    if loopback_camera_answers():
        pytest.skip("another camera already serves 127.0.0.1:3956")
    fake = subprocess.Popen(
        [FAKE, "-i", "127.0.0.1", "-s", SERIAL],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    time.sleep(0.5)  # its sockets are bound by then
    try:
        yield fake
    finally:
        fake.kill()
        fake.wait(timeout=10)


def run_probe(probe: Path, *args: str, env: dict | None = None, timeout: float = 60) -> list[str]:
    done = subprocess.run(
        [str(probe), "--interface", "lo", "--serial", SERIAL, *args],
        capture_output=True,
        text=True,
        timeout=timeout,
        env={**os.environ, "VANTIX_GEV_DEVICES": "", **(env or {})},
    )
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout.splitlines()


@pytest.mark.parametrize(
    "how",
    [
        pytest.param(("--broadcast", "1"), id="broadcast"),
        # Unicast only, to the addresses listed in the environment.
        pytest.param(("--broadcast", "0"), id="listed"),
    ],
)
def test_discovery_control_and_the_xml(probe, camera, how):
    listed = {"VANTIX_GEV_DEVICES": " 300.1.1.1, 127.0.0.1 ,bad"} if how[1] == "0" else {}
    lines = run_probe(probe, *how, "--frames", "0", env=listed)
    found = [line for line in lines if line.startswith("camera ")]
    assert any(f"serial {SERIAL} " in line and "ip 127.0.0.1 " in line for line in found)
    assert "register heartbeat_timeout 3000" in lines
    assert "xml name arv-fake-camera.xml address 0x10000 size 15975" in lines
    assert any(line.startswith("xml head <?xml") for line in lines)


def test_frames_follow_the_image_formula_across_the_block_id_wrap(probe, camera):
    # The simulated camera starts its block ids just below 65535; the run
    # outlasts its heartbeat time-out, and the probe checks its closing write.
    lines = run_probe(probe, "--frames", "140", "--wait-ms", "30000")
    frames = [
        {k: int(v, 0) for k, v in re.findall(r"(\w+) (\S+)", line[len("frame ") :])}
        for line in lines
        if line.startswith("frame ")
    ]
    assert len(frames) >= 140
    blocks = [f["block"] for f in frames]
    assert 65535 in blocks and 1 in blocks  # the wrap skips 0
    assert 0 not in blocks
    for previous, block in zip(blocks, blocks[1:]):
        assert block == previous % 65535 + 1
    for f in frames:
        assert f["complete"] == 1 and f["bytes"] == f["width"] * f["height"]
        # (x + y + frame id) mod 255, the frame id being the block id.
        assert f["formula_mismatches"] == 0 and f["formula_k"] == f["block"] % 255
