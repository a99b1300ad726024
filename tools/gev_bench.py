"""The GigE Vision test bench: Aravis's fake camera on the loopback, Aravis's
client (tools/aravis_client.py) to check it, the image the fake sends, and
packet loss on the private loopback (nftables). Shared by tests/gev and
benchmarks/bench_gev.py.

Only one fake camera can hold the control port (UDP 3956) of an address, and
other programs on this machine may run their own fake on 127.0.0.1. As root,
`private_loopback()` moves the calling thread (and so every thread and child
it starts afterwards) into a network namespace of its own with just `lo`, so
our fakes neither meet nor disturb anyone else's.
"""

from __future__ import annotations

import contextlib
import ctypes
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from collections.abc import Iterator
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

CLIENT = str(Path(__file__).with_name("aravis_client.py"))
SYSTEM_PYTHON = "/usr/bin/python3"
FAKE = "arv-fake-gv-camera-0.8"
ADDRESS = "127.0.0.1"
PACKAGES = "aravis-tools aravis-tools-cli gir1.2-aravis-0.8 python3-gi nftables"
INSTALL = f"sudo apt-get install -y --no-install-recommends {PACKAGES}"
_CLONE_NEWNET = 0x40000000
_PR_SET_PDEATHSIG = 1


def missing_parts() -> list[str]:
    """What the bench lacks on this machine (empty when complete)."""
    missing = [] if shutil.which(FAKE) else [FAKE]
    probe = "import gi; gi.require_version('Aravis', '0.8'); from gi.repository import Aravis"
    try:
        subprocess.run([SYSTEM_PYTHON, "-c", probe], check=True, capture_output=True, timeout=30)
    except (OSError, subprocess.SubprocessError):
        missing.append("Aravis for /usr/bin/python3 (gi)")
    return missing


@contextlib.contextmanager
def private_loopback() -> Iterator[bool]:
    """As root: a network namespace of our own with `lo` up, left on exit.
    Otherwise the shared loopback. Yields whether the namespace is private."""
    if os.geteuid() != 0:
        yield False
        return
    libc = ctypes.CDLL(None, use_errno=True)
    previous = os.open("/proc/self/ns/net", os.O_RDONLY)
    try:
        if libc.unshare(_CLONE_NEWNET) != 0:
            raise OSError(ctypes.get_errno(), "unshare(CLONE_NEWNET)")
        try:
            subprocess.run(["ip", "link", "set", "lo", "up"], check=True, timeout=10)
            yield True
        finally:
            if libc.setns(previous, _CLONE_NEWNET) != 0:
                raise OSError(ctypes.get_errno(), "setns back to the first namespace")
    finally:
        os.close(previous)


class ClientError(RuntimeError):
    pass


def run_client(*args: str, limit: float = 30.0) -> dict:
    """Runs aravis_client.py with the given arguments; its JSON answer. The
    client gives up after `limit` seconds and is killed a little later."""
    command = [SYSTEM_PYTHON, CLIENT, "--limit", str(limit), *args]
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=limit + 10)
    except subprocess.TimeoutExpired as exc:
        raise ClientError(f"aravis_client {args[0]} hung past {limit + 10} s") from exc
    if done.returncode != 0:
        raise ClientError(done.stderr.strip() or f"aravis_client exited with {done.returncode}")
    return json.loads(done.stdout)


class _OwnProcess:
    """A bench process this module started, known and killed by its PID."""

    process: subprocess.Popen

    @property
    def pid(self) -> int:
        return self.process.pid

    def kill(self) -> None:
        if self.process.poll() is None:
            os.kill(self.process.pid, signal.SIGKILL)
        self.process.wait(timeout=10)


@dataclass
class FakeCamera(_OwnProcess):
    """One running fake camera."""

    serial: str
    process: subprocess.Popen
    address: str = ADDRESS
    heartbeat_ms: int = 0
    log: list[str] = field(default_factory=list)


def _die_with_parent() -> None:
    # A fake outliving a killed test run would hold 127.0.0.1's port.
    ctypes.CDLL(None).prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)


def start_fake(serial: str, loss_per_mille: int = 0, ready_s: float = 20.0) -> FakeCamera:
    """Starts a fake camera with this serial on 127.0.0.1 and waits until it
    answers at that address with that serial (so not somebody else's fake
    holding the port); killed again when it does not within `ready_s`."""
    command = [FAKE, "-i", ADDRESS, "-s", serial]
    if loss_per_mille:
        command += ["-r", str(loss_per_mille)]
    process = subprocess.Popen(
        command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent
    )
    camera = FakeCamera(serial, process)
    deadline = time.monotonic() + ready_s
    try:
        while True:
            if process.poll() is not None:
                raise RuntimeError(f"{FAKE} -s {serial} exited with {process.returncode}")
            try:
                features = run_client("get", ADDRESS, "DeviceID", "0x0938", limit=3)["features"]
                if features["DeviceID"] == serial:
                    camera.heartbeat_ms = int(features["0x0938"])
                    return camera
                camera.log.append(f"{ADDRESS} answered as {features['DeviceID']}")
            except ClientError as exc:
                camera.log.append(str(exc))
            if time.monotonic() > deadline:
                raise RuntimeError(
                    f"fake camera {serial} not answering at {ADDRESS} within {ready_s} s: "
                    + "; ".join(camera.log[-3:])
                )
            time.sleep(0.2)
    except BaseException:
        camera.kill()
        raise


def fake_image(width: int, height: int, frame_id: int) -> np.ndarray:
    """The fake's Mono8 image: (x + y + block id) mod 255, where the block id
    is the frame's GVSP block id (16 bit, first frame 65401, 65535 -> 1)."""
    y, x = np.indices((height, width), dtype=np.int64)
    return ((x + y + frame_id) % 255).astype(np.uint8)


# --- packet loss on the private loopback -------------------------------------------

STREAM_PACKETS = "udp sport != 3956 udp dport != 3956"
# Commands and acknowledges on the control port, discovery's aside (the
# command or acknowledge code is the UDP payload's second 16-bit word).
CONTROL_PACKETS = ("udp dport 3956 @th,80,16 != 0x0002", "udp sport 3956 @th,80,16 != 0x0003")
LOSS_TABLE = "vantix_loss"


@contextlib.contextmanager
def lossy_loopback(percent: int, *matches: str) -> Iterator[dict[str, int]]:
    """Drops `percent` % of the packets that each nftables match selects on
    the egress of `lo` (where every loopback packet passes once, and a
    sender's sendto() still succeeds), in the calling process's network
    namespace, which must be a private one. Yields a dict filled, on exit,
    with the packets each match dropped; the table is removed on exit."""

    def nft(*args: str) -> str:
        done = subprocess.run(["nft", *args], capture_output=True, text=True, timeout=10)
        if done.returncode != 0:
            raise RuntimeError(f"nft {' '.join(args)}: {done.stderr.strip()}")
        return done.stdout

    chain = '{ type filter hook egress device "lo" priority 0; policy accept; }'
    nft("add", "table", "netdev", LOSS_TABLE)
    dropped: dict[str, int] = {}
    try:
        nft("add", "chain", "netdev", LOSS_TABLE, "eg", chain)
        for match in matches:
            rule = f"{match} numgen random mod 100 < {percent} counter drop"
            nft("add", "rule", "netdev", LOSS_TABLE, "eg", *rule.split())
        yield dropped
        rules = json.loads(nft("-j", "list", "table", "netdev", LOSS_TABLE))["nftables"]
        counters = [
            next(e["counter"]["packets"] for e in r["rule"]["expr"] if "counter" in e)
            for r in rules
            if "rule" in r
        ]
        dropped.update(zip(matches, counters))
    finally:
        nft("delete", "table", "netdev", LOSS_TABLE)


class SimCameraServer(_OwnProcess):
    """A running `python -m vantix sim-camera`: the cameras it serves, as
    {serial: (preset, address)}, from its "serving" lines."""

    def __init__(self, args: list[str], ready_s: float = 30.0):
        self.process = subprocess.Popen(
            [sys.executable, "-m", "vantix", "sim-camera", *args],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            preexec_fn=_die_with_parent,
        )
        self.cameras: dict[str, tuple[str, str]] = {}
        expected = 1 if "--camera" in args else None
        deadline = time.monotonic() + ready_s
        # One line per camera; the last is followed by silence, so the
        # count comes from the configuration when there is one.
        if expected is None:
            config = json.loads(Path(args[args.index("--config") + 1]).read_text())
            expected = len(config["devices"])
        while len(self.cameras) < expected:
            line = self.process.stdout.readline()
            if not line or time.monotonic() > deadline:
                self.kill()
                raise RuntimeError(f"sim-camera did not start: {self.process.stderr.read()}")
            _, preset, serial, _, address = line.split()
            self.cameras[serial] = (preset, address)

    def kill(self) -> None:
        super().kill()
        self.process.stdout.close()
        self.process.stderr.close()
