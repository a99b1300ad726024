"""Fixtures shared by the test folders."""

from __future__ import annotations

import pytest


@pytest.fixture(scope="session")
def producer() -> str:
    """The simulated camera's producer file (needs harvesters and genicam)."""
    pytest.importorskip("harvesters.core")
    pytest.importorskip("genicam")
    from vantix import sim

    return sim.producer_path()
