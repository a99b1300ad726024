"""A smoke test on a producer nobody here wrote: the simulator that genicam
1.6 and later carry in their package folder (three devices, RGBa8 and Mono8,
no trigger nodes)."""

from __future__ import annotations

from pathlib import Path

import pytest


@pytest.fixture
def viky(gc) -> str:
    genicam = pytest.importorskip("genicam")
    pytest.importorskip("harvesters.core")
    path = Path(genicam.__file__).with_name("viky.cti")
    if not path.is_file():
        pytest.skip("this genicam carries no viky.cti")
    return str(path)


def test_enumerate_open_receive_close_and_open_again(gc, viky):
    listed = gc.enumerate_devices(viky)
    assert listed["available"] and len(listed["devices"]) == 3
    cam = gc.GentlCamera({"cti_path": viky, "serial": listed["devices"][1]["serial_number"]})
    for _ in range(2):
        cam.open()
        ids = []
        for _ in range(3):
            image, info = cam._receive(5.0)
            assert image.dtype.name == "uint8" and image.ndim == 3 and image.shape[2] == 3
            ids.append(info["device_frame_id"])
        assert ids == sorted(ids) and len(set(ids)) == 3
        cam.close()
    assert gc._SHARED_HARVESTERS == {}
