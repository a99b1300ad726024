"""Faults that the reliability runs (tools/camera_*.py) found, on the
simulated producer that vantix ships."""

from __future__ import annotations

import gc as collector
import weakref

import pytest

from vantix import sim

pytest.importorskip("harvesters.core")


@pytest.mark.parametrize("beside", [None, "VXS-RGB-003"])
def test_close_lets_the_acquirer_and_its_node_map_be_freed(gc, monkeypatch, beside):
    # Beside another open camera the shared harvester is not reset, so it
    # must not keep the closed camera's acquirer in its list either.
    monkeypatch.delenv(sim.CONFIG_VARIABLE, raising=False)
    cameras = [gc.GentlCamera({"cti_path": sim.producer_path(), "serial": serial})
               for serial in ("VXS-L08-004", beside) if serial]
    try:
        for cam in cameras:
            cam.open()
        held = [weakref.ref(cameras[0]._ia), weakref.ref(cameras[0]._ia.remote_device.node_map)]
        cameras[0].close()
        collector.collect()
        assert [ref() for ref in held] == [None, None]
    finally:
        for cam in cameras:
            cam.close()
