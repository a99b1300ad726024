"""Fixtures of the simulator tests: the real harvesters + genicam stack on
the producer built into the package, and a way to run a scenario that may
crash or hang (loss, unloading) in a child process with a time limit."""

from __future__ import annotations

import signal
import subprocess
import sys
import textwrap
from collections.abc import Callable, Iterator

import pytest

from vantix import sim

from .gentl_client import Producer

harvesters_core = pytest.importorskip("harvesters.core")

SERIALS = sim.CAMERAS  # preset -> serial of the default configuration


@pytest.fixture
def harvester(producer, monkeypatch, sim_config) -> Iterator[Callable[..., object]]:
    """Makes a Harvester on the simulator, optionally with a configuration
    (sim_config's keywords as a dict); resets it at teardown, and puts back
    the Ctrl+C handler that each acquirer made on the main thread replaces."""
    made = []
    sigint = signal.getsignal(signal.SIGINT)

    def make(config: dict | None = None):
        if config is None:
            monkeypatch.delenv(sim.CONFIG_VARIABLE, raising=False)
        else:
            sim_config(**config)
        h = harvesters_core.Harvester()
        h.add_file(producer)
        h.update()
        made.append(h)
        return h

    yield make
    for h in made:
        h.reset()
    signal.signal(signal.SIGINT, sigint)


@pytest.fixture
def acquirer(harvester) -> Callable[..., object]:
    """An ImageAcquirer on the device with the serial number (destroyed by
    the harvester's reset)."""

    def make(serial: str, config: dict | None = None):
        return harvester(config).create({"serial_number": serial})

    return make


@pytest.fixture
def p(producer) -> Iterator[Producer]:
    """The producer's C functions, initialised; closed at teardown."""
    client = Producer(producer)
    client.call("GCInitLib")
    yield client
    client.call("GCCloseLib")


def run_child(code: str, timeout: float = 60) -> subprocess.CompletedProcess:
    """Runs `code` in a fresh interpreter (with this process's environment,
    sim_config's included); fails the test on a crash or a hang."""
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
    )
    assert done.returncode == 0, f"exit {done.returncode}\n{done.stdout}\n{done.stderr}"
    return done
