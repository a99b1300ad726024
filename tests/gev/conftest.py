"""Fixtures of the GigE Vision tests: Aravis's fake camera on the loopback
(a camera nobody here wrote), Aravis's client to check what it sends, and the
image it sends (tools/gev_bench.py holds the parts, shared with the
benchmark).

As root the tests run in a network namespace of their own (only `lo`), so the
fakes they start meet no other fake on 127.0.0.1; the bench's Debian packages
missing is then a failure, since tools/run-tests installs them. Without root
the tests skip when they are missing and use the shared loopback.
"""

from __future__ import annotations

import itertools
import os
import subprocess
import sys
from collections.abc import Callable, Iterator
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parents[2] / "tools"))
import gev_bench  # noqa: E402
from gev_bench import FakeCamera, fake_image, run_client  # noqa: E402, F401

CHILD_LIMIT_S = 60.0
_serials = itertools.count(1)


@pytest.fixture(scope="session")
def bench() -> Iterator[bool]:
    """The bench is installed; the loopback is private (as root) for the
    session. Yields whether it is private."""
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


def run_child(code: str, limit: float = CHILD_LIMIT_S) -> subprocess.CompletedProcess:
    """Runs Python code in a child of this interpreter (same network namespace),
    killed after `limit` seconds: for cases that may hang or crash."""
    return subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=limit
    )
