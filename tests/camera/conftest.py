"""Fixtures of the camera tests.

The tests drive the real harvesters + genicam stack against the simulated
camera shipped with the package (``vantix.sim``): four cameras by default,
or those that a test describes in a configuration (access limits, faults,
refused module events). The fakes below stand in only for what no producer
can create: harvesters missing, a registration or enumeration that fails
inside harvesters, device-info fields that raise, buffers whose component
format differs from the camera's or whose fields raise, and malformed
payloads for the conversion.
"""

from __future__ import annotations

import logging
import threading
from collections.abc import Callable, Iterator
from dataclasses import dataclass
from typing import Any

import numpy as np
import pytest

from vantix import sim
from vantix.io.camera import gentl_camera

SERIALS = tuple(sim.CAMERAS.values())  # of the default configuration, in its order
MONO12, BAYER12, RGB8, LEGACY = (sim.CAMERAS[p] for p in ("mono12", "bayer12", "rgb8", "legacy"))
LOGGER = "vantix.camera.harvester"


@pytest.fixture
def gc():
    """The camera module; every test must leave no shared harvester behind."""
    yield gentl_camera
    leaked = dict(gentl_camera._SHARED_HARVESTERS)
    for entry in leaked.values():
        entry["harvester"].reset()
    gentl_camera._SHARED_HARVESTERS.clear()
    assert not leaked, f"harvesters left registered: {list(leaked)}"


@pytest.fixture
def camera(gc, producer, sim_config) -> Iterator[Callable[..., gentl_camera.GentlCamera]]:
    """camera(open_=True, cls=GentlCamera, **params): cameras on the
    simulator (cti_path set), closed at teardown."""
    made: list[gentl_camera.GentlCamera] = []

    def make(open_: bool = True, cls=gentl_camera.GentlCamera, **params):
        cam = cls({"cti_path": producer, **params})
        made.append(cam)
        if open_:
            cam.open()
        return cam

    yield make
    for cam in made:
        cam.close()


@pytest.fixture
def camlog(caplog):
    caplog.set_level(logging.DEBUG, logger=LOGGER)
    return caplog


def messages(caplog, level: str) -> list[str]:
    return [r.getMessage() for r in caplog.records if r.name == LOGGER and r.levelname == level]


def run_in_threads(work: Callable[[], None], count: int = 4) -> list[BaseException]:
    """Runs `work` on `count` threads at once; the exceptions they raised."""
    errors: list[BaseException] = []

    def guarded() -> None:
        try:
            work()
        except Exception as exc:  # pragma: no cover - reported to the test
            errors.append(exc)

    threads = [threading.Thread(target=guarded) for _ in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return errors


# --- fakes: what no producer can create -----------------------------------------


class FakeDeviceInfo:
    """A device-info record; fields named in `raising` raise as a producer's
    missing field does."""

    def __init__(self, vendor="Acme", model="Cam", serial_number="100", raising=()):
        self._fields = {
            "vendor": vendor,
            "model": model,
            "serial_number": serial_number,
            "tl_type": "GEV",
            "display_name": f"{model} ({serial_number})",
        }
        self._raising = set(raising)

    def __getattr__(self, name):
        if name.startswith("_") or name not in self._fields:
            raise AttributeError(name)
        if name in self._raising:
            from genicam.gentl import NotAvailableException

            raise NotAvailableException(f"{name} not available")
        return self._fields[name]


class FakeNode:
    """A GenICam node with the given access mode (4: RW)."""

    def __init__(self, value=None, access=4):
        self.value, self.access = value, access

    def get_access_mode(self):
        return self.access

    def from_string(self, text):
        self.value = text

    def execute(self):
        pass


class FakeNodeMap:
    def __init__(self, **nodes):
        self.nodes = nodes

    def get_node(self, name):
        try:
            return self.nodes[name]
        except KeyError:
            raise LookupError("Node not existing") from None


class FakeBuffer:
    def __init__(self, data=None, data_format="Mono8", **info):
        data = np.zeros((2, 3), np.uint8) if data is None else data
        component = type("Component", (), {})()
        component.data, component.width, component.height = data, data.shape[1], data.shape[0]
        if data_format is not None:
            component.data_format = data_format
        self.payload = type("Payload", (), {"components": [component]})()
        for name, value in info.items():
            setattr(self, name, value)
        self.returned = 0

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.returned += 1
        return False


class FakeAcquirer:
    """try_fetch() hands out the queued outcomes: a FakeBuffer or an exception."""

    def __init__(self, outcomes=(), **nodes):
        self.outcomes = list(outcomes)
        self.remote_device = type("Remote", (), {"node_map": FakeNodeMap(**nodes)})()
        self.num_buffers, self.min_num_buffers = 0, 1

    def try_fetch(self, *, timeout, is_raw=False):
        outcome = self.outcomes.pop(0)
        if isinstance(outcome, BaseException):
            raise outcome
        return outcome

    def start(self):
        pass

    stop = destroy = start


class FakeHarvester:
    """Stands in for harvesters.core.Harvester. Class-level knobs, set by the
    `fake_stack` fixture, decide what each instance does."""

    devices: list = []
    update_error: Exception | None = None
    instances: list = []

    def __init__(self):
        self.files, self.resets, self.device_info_list = [], 0, []
        type(self).instances.append(self)

    def add_file(self, path, check_existence=False, check_validity=False):
        self.files.append(path)

    def update(self):
        if self.update_error:
            raise self.update_error
        self.device_info_list = list(self.devices)

    def create(self, search_key, *, config):
        return FakeAcquirer(PixelFormat=FakeNode("Mono8"))

    def reset(self):
        self.resets += 1


@pytest.fixture
def fake_stack(gc, monkeypatch):
    """Replaces the Harvester class and producer discovery; returns the
    FakeHarvester class whose knobs a test sets."""
    import harvesters.core

    class Harvester(FakeHarvester):
        devices = [FakeDeviceInfo(serial_number="100"), FakeDeviceInfo(serial_number="200")]
        instances = []

    monkeypatch.setattr(harvesters.core, "Harvester", Harvester)
    monkeypatch.setattr(gc, "discover_producers", lambda path: [{"path": "/opt/a.cti"}])
    monkeypatch.setattr(gc, "_check_producer", lambda path: None)
    return Harvester


@pytest.fixture
def fake_camera(gc) -> Iterator[Callable[..., gentl_camera.GentlCamera]]:
    """An opened camera whose acquirer is a FakeAcquirer handing out the
    given outcomes; closed after the test."""
    made: list[gentl_camera.GentlCamera] = []

    def make(outcomes, device_info=None, **nodes):
        cam = gentl_camera.GentlCamera()
        nodes.setdefault("PixelFormat", FakeNode("Mono8"))
        cam._ia = FakeAcquirer(outcomes, **nodes)
        cam._opened = True
        cam._device_info = {"serial_number": "100"} if device_info is None else device_info
        made.append(cam)
        return cam

    yield make
    for cam in made:
        cam.close()


# --- pixel conversion ------------------------------------------------------------
# Conversion edge cases (odd sizes, padding, malformed payloads) are exercised
# on a real GentlCamera (construction needs no camera) with a small stand-in
# for a harvesters buffer component: no producer delivers such buffers.


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


def random_samples(n: int, bits: int, seed: int = 0) -> np.ndarray:
    """n random samples of `bits` significant bits, as uint16."""
    return np.random.default_rng(seed).integers(0, 1 << bits, size=n, dtype=np.uint16)


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
