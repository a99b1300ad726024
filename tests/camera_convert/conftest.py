"""Fixtures of the pixel-conversion tests.

The conversion is exercised on a real ``GentlCamera`` (construction needs no
camera) with a small stand-in for a harvesters buffer component, because the
simulated producer only ever delivers Mono8 and RGB8 buffers. The simulator
is still used, through ``sim_camera``, to convert the components that real
harvesters hands over.
"""

from __future__ import annotations

from collections.abc import Callable, Iterator
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import numpy as np
import pytest

from vantix.io.camera import gentl_camera


@dataclass
class FakeComponent:
    """The attributes of a harvesters image component that conversion reads."""

    data: Any
    width: Any
    height: Any
    data_format: Any = ""


class NoFormatComponent:
    """A component without a ``data_format`` attribute."""

    def __init__(self, data, width, height):
        self.data, self.width, self.height = data, width, height


@pytest.fixture
def component() -> Callable[..., Any]:
    """component(data, width, height[, data_format]); without a format the
    component has no ``data_format`` attribute at all."""

    def make(data, width, height, *data_format):
        if data_format:
            return FakeComponent(data, width, height, *data_format)
        return NoFormatComponent(data, width, height)

    return make


@pytest.fixture
def convert() -> Callable[..., np.ndarray]:
    """convert(data, width, height, fmt, node_format="", **params) -> BGR image."""

    def run(data, width, height, fmt, node_format: str = "", **params) -> np.ndarray:
        cam = gentl_camera.GentlCamera(params)
        return cam._to_bgr(FakeComponent(data, width, height, fmt), node_format)

    return run


# --- independent packers: numpy bit arithmetic, one sample at a time in bits ---


def pack_lsb(samples: np.ndarray, bits: int) -> np.ndarray:
    """The LSB-first bit stream ("p" formats) of 16-bit samples of `bits` bits."""
    little = np.unpackbits(samples.astype("<u2").view(np.uint8), bitorder="little")
    stream = little.reshape(-1, 16)[:, :bits].ravel()
    return np.packbits(stream, bitorder="little")


def pack_grouped(samples: np.ndarray, bits: int) -> np.ndarray:
    """The 3-bytes-per-2-samples layout ("Packed" formats)."""
    s = samples.astype(np.uint16)
    n = s.size
    if n % 2:
        s = np.append(s, np.uint16(0))
    even, odd = s[0::2], s[1::2]
    low, mask = bits - 8, (1 << (bits - 8)) - 1
    out = np.empty((even.size, 3), np.uint8)
    out[:, 0] = even >> low
    out[:, 1] = (even & mask) | (odd & mask) << 4
    out[:, 2] = odd >> low
    return out.ravel()[: (3 * n + 1) // 2]


@pytest.fixture
def pack() -> Callable[[np.ndarray, int, str], np.ndarray]:
    """pack(samples, bits, "p" | "Packed") -> raw packed bytes."""
    return lambda samples, bits, kind: (pack_lsb if kind == "p" else pack_grouped)(samples, bits)


# --- the simulated producer ---------------------------------------------------


class RecordingCamera(gentl_camera.GentlCamera):
    """Keeps a copy of what each conversion was given."""

    def _to_bgr(self, component, pixel_format):
        self.seen = {
            "data": np.array(component.data, copy=True),
            "dtype": component.data.dtype,
            "width": component.width,
            "height": component.height,
            "data_format": str(component.data_format),
            "pixel_format": pixel_format,
        }
        image = super()._to_bgr(component, pixel_format)
        self.seen["shares_memory"] = np.shares_memory(image, component.data)
        return image


@pytest.fixture
def sim_camera() -> Iterator[Callable[..., RecordingCamera]]:
    """Opens simulator cameras by serial; closes them at teardown."""
    genicam = pytest.importorskip("genicam")
    folder = Path(genicam.__file__).parent
    assert (folder / "TLSimu.cti").is_file(), "genicam without TLSimu.cti: install genicam==1.5.0"
    made: list[RecordingCamera] = []

    def make(serial: str, **params) -> RecordingCamera:
        cam = RecordingCamera({"cti_path": str(folder), "serial": serial, **params})
        made.append(cam)
        cam.open()
        return cam

    yield make
    for cam in made:
        cam.close()
