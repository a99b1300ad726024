"""Fixtures of the simulator tests: the real harvesters + genicam stack on
the producer built into the package, and a way to run a scenario that may
crash or hang (loss, unloading) in a child process with a time limit."""

from __future__ import annotations

import os
import subprocess
import sys
import textwrap
from collections.abc import Callable, Iterator

import pytest

from vantix import sim

harvesters_core = pytest.importorskip("harvesters.core")

SERIALS = {
    "mono12": "VXS-M12-001",
    "bayer12": "VXS-B12-002",
    "rgb8": "VXS-RGB-003",
    "legacy": "VXS-L08-004",
}


@pytest.fixture
def harvester(producer, monkeypatch, tmp_path) -> Iterator[Callable[..., object]]:
    """Makes a Harvester on the simulator, optionally with a configuration
    (written to a file that the environment names); resets it at teardown."""
    made = []

    def make(config: str | None = None):
        if config is None:
            monkeypatch.delenv(sim.CONFIG_VARIABLE, raising=False)
        else:
            path = tmp_path / f"config-{len(made)}.json"
            path.write_text(config)
            monkeypatch.setenv(sim.CONFIG_VARIABLE, str(path))
        h = harvesters_core.Harvester()
        h.add_file(producer)
        h.update()
        made.append(h)
        return h

    yield make
    for h in made:
        h.reset()


@pytest.fixture
def acquirer(harvester) -> Callable[..., object]:
    """An ImageAcquirer on the device with the serial number (destroyed by
    the harvester's reset)."""

    def make(serial: str, config: str | None = None):
        return harvester(config).create({"serial_number": serial})

    return make


def run_child(
    code: str, timeout: float = 60, env: dict | None = None
) -> subprocess.CompletedProcess:
    """Runs `code` in a fresh interpreter; fails the test on a crash or a hang."""
    child_env = {**os.environ, **(env or {})}
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
        env=child_env,
    )
    assert done.returncode == 0, f"exit {done.returncode}\n{done.stdout}\n{done.stderr}"
    return done
