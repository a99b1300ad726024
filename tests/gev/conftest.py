"""Fixtures of the GigE Vision tests: Aravis's fake camera on the loopback
(a camera nobody here wrote), Aravis's client to check what it sends, and the
image it sends (tools/gev_bench.py holds the parts, shared with the
benchmark).

As root each test module runs in a network namespace of its own (only `lo`),
so the fakes it starts meet no other fake on 127.0.0.1; the bench's Debian packages
missing is then a failure, since tools/run-tests installs them. Without root
the tests skip when they are missing and use the shared loopback.
"""

from __future__ import annotations

import itertools
import os
import subprocess
import sys
import types
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import Any

import pytest

sys.path.append(str(Path(__file__).parents[2] / "tools"))
import gev_bench  # noqa: E402
from gev_bench import ClientError, FakeCamera, fake_image, run_client  # noqa: E402, F401

_serials = itertools.count(1)


@pytest.fixture(scope="module")
def bench() -> Iterator[bool]:
    """The bench is installed; the loopback is private (as root) for the
    module, so that later tests see the machine's network again. Yields
    whether it is private."""
    missing = gev_bench.missing_parts()
    if missing and os.geteuid() == 0:
        pytest.fail(f"GigE Vision bench incomplete ({', '.join(missing)}): run tools/run-tests")
    if missing:
        pytest.skip(f"GigE Vision bench missing {', '.join(missing)}: {gev_bench.INSTALL}")
    with gev_bench.private_loopback() as private:
        yield private


@pytest.fixture
def start_fake(bench) -> Iterator[Callable[..., FakeCamera]]:
    """start_fake(serial=None, loss_per_mille=0) -> a running fake camera
    (unique serial by default); every fake started is killed at teardown."""
    started: list[FakeCamera] = []

    def start(serial: str | None = None, loss_per_mille: int = 0) -> FakeCamera:
        serial = serial or f"VXT{os.getpid() % 100000:05d}-{next(_serials):03d}"
        camera = gev_bench.start_fake(serial, loss_per_mille)
        started.append(camera)
        return camera

    yield start
    for camera in started:
        camera.kill()


@pytest.fixture
def fake(start_fake) -> FakeCamera:
    """One fake camera, lossless."""
    return start_fake()


# --- our producer ------------------------------------------------------------------


def producer_built() -> bool:
    from vantix import gev

    try:
        gev.producer_path()
    except FileNotFoundError:
        return False
    return True


@pytest.fixture(scope="module")
def producer(bench) -> str:
    """The GigE Vision producer's file (needs harvesters and genicam)."""
    pytest.importorskip("harvesters.core")
    pytest.importorskip("genicam")
    from vantix import gev

    return gev.producer_path()


@pytest.fixture
def harvester(producer, start_fake) -> Iterator[Any]:
    """A harvesters Harvester with our producer added (call update() once
    the fakes run); reset at teardown, which destroys its acquirers while
    the fakes still run."""
    from harvesters.core import Harvester

    h = Harvester()
    h.add_file(producer, check_existence=True, check_validity=True)
    yield h
    h.reset()


@pytest.fixture
def acquirer(harvester) -> Callable[[FakeCamera], Any]:
    """acquirer(fake) -> an ImageAcquirer on that camera, found by a fresh
    discovery."""

    def make(camera: FakeCamera):
        harvester.update()
        return harvester.create({"serial_number": camera.serial})

    return make


@pytest.fixture
def gev_camera(producer, start_fake) -> Iterator[Callable[..., Any]]:
    """gev_camera(fake, **params) -> an opened GentlCamera on that camera;
    closed at teardown (before the fakes stop), with no shared harvester
    left behind."""
    from vantix.io.camera import gentl_camera

    made: list = []

    def make(camera: FakeCamera, **params):
        cam = gentl_camera.GentlCamera({"cti_path": producer, "serial": camera.serial, **params})
        made.append(cam)
        cam.open()
        return cam

    yield make
    for cam in made:
        cam.close()
    leaked = dict(gentl_camera._SHARED_HARVESTERS)
    for entry in leaked.values():
        entry["harvester"].reset()
    gentl_camera._SHARED_HARVESTERS.clear()
    assert not leaked, f"harvesters left registered: {list(leaked)}"


def node_value(node_map, name: str) -> Any:
    """A node's value, or None when the node map has no such node."""
    try:
        return getattr(node_map, name).value
    except (AttributeError, LookupError):
        return None


class Child:
    """A Python child of this interpreter driven line by line: it prints a
    line per step and reads one from stdin to go on. The code should start
    with signal.alarm(limit) so that it dies on its own in a hang; it is
    killed at teardown at the latest."""

    def __init__(self, code: str):
        self.process = subprocess.Popen(
            [sys.executable, "-c", code],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
        )

    def read(self) -> str:
        line = self.process.stdout.readline()
        if not line:
            self.process.wait(timeout=10)
            raise AssertionError(
                f"child ended ({self.process.returncode}): {self.process.stderr.read()}"
            )
        return line.strip()

    def go_on(self) -> None:
        self.process.stdin.write("\n")
        self.process.stdin.flush()

    def kill(self) -> None:
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=10)
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            stream.close()


LIMIT_S = 60  # a child script's alarm, and the wait for it

# A child script's reception after its camera is lost, `cam` a GentlCamera:
# frames queued before the loss may come first; prints how reception ended.
RECEIVE_UNTIL_LOST = """\
outcome = "frames"
for _ in range(30):  # what was queued before the loss may still come
    try:
        if cam._receive(2.0) is None:
            outcome = "None"
            break
    except CameraError:
        outcome = "CameraError"
        break
print(outcome, flush=True)"""


@pytest.fixture
def child() -> Iterator[Callable[[str], Child]]:
    started: list[Child] = []

    def start(code: str) -> Child:
        started.append(Child(code))
        return started[-1]

    yield start
    for c in started:
        c.kill()


# --- the simulated cameras as GigE Vision devices -------------------------------


@pytest.fixture
def sim_camera(bench) -> Iterator[Callable[..., gev_bench.SimCameraServer]]:
    """sim_camera(*args) -> a running `python -m vantix sim-camera ARGS`
    (in the module's namespace as root), ready; killed by PID at teardown."""
    from vantix import sim

    try:
        sim.camera_server_path()
    except FileNotFoundError as exc:
        pytest.skip(str(exc))
    started: list[gev_bench.SimCameraServer] = []

    def start(*args: str) -> gev_bench.SimCameraServer:
        started.append(gev_bench.SimCameraServer(list(args)))
        return started[-1]

    yield start
    for server in started:
        server.kill()


# --- the producer over lossy networks and the camera module over the network -------
# Ask for `serve` before the harvester or camera fixtures, so that those are
# torn down while the served camera still answers.

ROOT_ONLY = "packet loss on the loopback needs root: sudo tools/run-tests"


@pytest.fixture
def serve(sim_camera) -> Callable[..., Any]:
    """serve(preset, *options) -> the camera (serial, address, pid) that
    `sim-camera --camera PRESET --address 127.0.0.1 OPTIONS` serves."""

    def start(preset: str, *options: str) -> Any:
        server = sim_camera("--camera", preset, "--address", gev_bench.ADDRESS, *options)
        ((serial, (_, address)),) = server.cameras.items()
        return types.SimpleNamespace(serial=serial, address=address, pid=server.pid)

    return start


@pytest.fixture
def lossy(bench) -> Callable[..., Any]:
    """lossy(percent, *matches): gev_bench.lossy_loopback in the module's
    private namespace; skips the test where there is none (without root)."""

    def make(percent: int, *matches: str):
        if not bench:
            pytest.skip(ROOT_ONLY)
        return gev_bench.lossy_loopback(percent, *matches)

    return make
