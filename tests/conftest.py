"""Fixtures shared by the test folders."""

from __future__ import annotations

import json
from collections.abc import Callable

import pytest


@pytest.fixture(scope="session")
def producer() -> str:
    """The simulated camera's producer file (needs harvesters and genicam)."""
    pytest.importorskip("harvesters.core")
    pytest.importorskip("genicam")
    from vantix import sim

    return sim.producer_path()


@pytest.fixture
def sim_config(monkeypatch, tmp_path) -> Callable[..., str]:
    """sim_config(devices=[...], **system) writes a simulator configuration
    and names it in the environment; the producer reads it when it is next
    initialised (the next harvester made on it, or a child process)."""
    from vantix import sim

    def write(**config) -> str:
        path = tmp_path / "vantix-sim.json"
        path.write_text(json.dumps(config))
        monkeypatch.setenv(sim.CONFIG_VARIABLE, str(path))
        return str(path)

    monkeypatch.delenv(sim.CONFIG_VARIABLE, raising=False)
    return write
