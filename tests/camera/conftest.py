"""Fixtures of the camera tests.

Most tests drive the real harvesters + genicam stack against the simulated
GenTL producer (TLSimu.cti) that the pinned genicam wheel carries: four
devices, TLSimuMono/TLSimuColor on interfaces A and B. The fakes at the end
stand in only for what the simulator cannot do: producers that fail to
register, no producer or device, access refusals, a producer whose
register_event rejects event types, device-info fields that raise, and fetch
outcomes (time-outs by message, lost devices, odd buffers). Pixel
conversion is tested on small stand-ins for buffer components, since the
simulator only ever delivers Mono8 and RGB8.
"""

from __future__ import annotations

import logging
import os
import threading
from collections.abc import Callable, Iterator
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import numpy as np
import pytest

from vantix.io.camera import gentl_camera

SIMULATOR_SERIALS = ("SN_InterfaceA_0", "SN_InterfaceA_1", "SN_InterfaceB_0", "SN_InterfaceB_1")
LOGGER = "vantix.camera.harvester"


@pytest.fixture(scope="session")
def simulator_dir() -> Path:
    """The genicam package folder, which holds TLSimu.cti."""
    genicam = pytest.importorskip("genicam")
    pytest.importorskip("harvesters.core")
    folder = Path(genicam.__file__).parent
    assert (folder / "TLSimu.cti").is_file(), "genicam without TLSimu.cti: install genicam==1.5.0"
    return folder


@pytest.fixture
def gc():
    """The camera module; every test must leave no shared harvester behind."""
    yield gentl_camera
    leaked = dict(gentl_camera._SHARED_HARVESTERS)
    for entry in leaked.values():
        entry["harvester"].reset()
    gentl_camera._SHARED_HARVESTERS.clear()
    assert not leaked, f"harvesters left registered: {list(leaked)}"


class ImageCamera(gentl_camera.GentlCamera):
    """A camera whose conversion only copies the component's samples, so the
    reception tests do not depend on pixel conversion."""

    def _to_bgr(self, component, pixel_format):
        return np.array(component.data, copy=True)


@pytest.fixture
def camera(gc, simulator_dir) -> Iterator[Callable[..., ImageCamera]]:
    """Makes simulator cameras (cti_path set, closed at teardown)."""
    made: list[ImageCamera] = []

    def make(open_: bool = True, cls=ImageCamera, **params) -> ImageCamera:
        cam = cls({"cti_path": str(simulator_dir), **params})
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


def messages(caplog, level: str) -> list[str]:
    return [r.getMessage() for r in caplog.records
            if r.name == LOGGER and r.levelname == level]


# --- fakes -------------------------------------------------------------------

class FakeDeviceInfo:
    """A device-info record; fields named in `raising` raise as a producer's
    missing field does."""

    def __init__(self, vendor="Acme", model="Cam", serial_number="100", raising=()):
        self._fields = {"vendor": vendor, "model": model, "serial_number": serial_number,
                        "tl_type": "GEV", "display_name": f"{model} ({serial_number})"}
        self._raising = set(raising)

    def __getattr__(self, name):
        if name.startswith("_") or name not in self._fields:
            raise AttributeError(name)
        if name in self._raising:
            from genicam.gentl import NotAvailableException
            raise NotAvailableException(f"{name} not available")
        return self._fields[name]


class FakeNode:
    """A GenICam node. `allowed` limits the values it takes (its symbolics);
    writes are recorded in the node map's `writes` as (name, value)."""

    def __init__(self, value=None, access=4, allowed=None):
        self._value, self.access, self.allowed, self.executed = value, access, allowed, 0
        self.name, self.log = "?", []

    @property
    def symbolics(self):
        return list(self.allowed or ())

    @property
    def value(self):
        return self._value

    @value.setter
    def value(self, value):
        if self.allowed is not None and value not in self.allowed:
            raise ValueError(f"{value!r} is not allowed")
        self._value = value
        self.log.append((self.name, value))

    def from_string(self, text):
        self.value = ("parsed", text)

    def get_access_mode(self):
        return self.access

    def execute(self):
        self.executed += 1


def typed(interface: str, *args, **kwargs) -> FakeNode:
    """A FakeNode whose class carries a genapi interface name (IInteger, ...)."""
    return type(interface, (FakeNode,), {})(*args, **kwargs)


class FakeNodeMap:
    def __init__(self, **nodes):
        self.nodes, self.writes = nodes, []
        for name, node in nodes.items():
            node.name, node.log = name, self.writes

    def get_node(self, name):
        try:
            return self.nodes[name]
        except KeyError:
            raise LookupError("Node not existing") from None


class FakeBuffer:
    def __init__(self, data=np.zeros((2, 3), np.uint8), data_format="Mono8", **info):
        component = type("Component", (), {})()
        component.data = data
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
        self.calls: list[str] = []
        self.num_buffers, self.min_num_buffers = 0, 1
        self.failing: set[str] = set()

    def try_fetch(self, *, timeout):
        self.calls.append(f"fetch({timeout})")
        outcome = self.outcomes.pop(0)
        if isinstance(outcome, BaseException):
            raise outcome
        return outcome

    def _step(self, name):
        self.calls.append(name)
        if name in self.failing:
            raise RuntimeError(f"{name} broke")

    def start(self):
        self._step("start")

    def stop(self):
        self._step("stop")

    def destroy(self):
        self._step("destroy")


class FakeHarvester:
    """Stands in for harvesters.core.Harvester. Class-level knobs, set by the
    `fake_stack` fixture, decide what each instance does."""

    devices: list = []
    bad_files: set = set()
    refuse: dict = {}  # privilege -> exception raised by create()
    update_error: Exception | None = None
    instances: list = []

    def __init__(self):
        self.files, self.resets, self.created = [], 0, []
        self.device_info_list = []
        type(self).instances.append(self)

    def add_file(self, path, check_existence=False, check_validity=False):
        assert check_existence and check_validity
        if path in self.bad_files:
            raise OSError(f"cannot load {path}")
        self.files.append(path)

    def update(self):
        if self.update_error:
            raise self.update_error
        self.device_info_list = list(self.devices) if self.files else []

    def create(self, search_key, *, config):
        from harvesters.core import ParameterKey
        assert type(search_key) is int
        privilege = config.parameters[ParameterKey.DEVICE_OWNERSHIP_PRIVILEGE]
        self.created.append(privilege)
        if privilege in self.refuse:
            raise self.refuse[privilege]
        return FakeAcquirer(PixelFormat=FakeNode("Mono8"), TriggerMode=FakeNode("Off"),
                            TriggerSource=FakeNode("Software"), TriggerSoftware=FakeNode())

    def reset(self):
        self.resets += 1


@pytest.fixture
def fake_stack(gc, monkeypatch):
    """Replaces the Harvester class and producer discovery; returns the
    FakeHarvester class whose knobs a test sets."""
    import harvesters.core

    class Harvester(FakeHarvester):
        devices = [FakeDeviceInfo(serial_number="100"), FakeDeviceInfo(serial_number="200")]
        bad_files, refuse, instances = set(), {}, []

    monkeypatch.setattr(harvesters.core, "Harvester", Harvester)
    monkeypatch.setattr(gc, "discover_producers",
                        lambda path: [{"path": "/opt/a.cti"}, {"path": "/opt/b.cti"}])
    monkeypatch.setattr(gc, "_check_producer", lambda path: None)
    return Harvester


_fake_opened: list = []


def with_fake_acquirer(cam, acquirer):
    """Gives `cam` a fake acquirer; the camera is closed after the test, as
    an open camera dropped without close() warns and releases it."""
    cam._ia = acquirer
    _fake_opened.append(cam)
    return cam


@pytest.fixture(autouse=True)
def _close_fake_cameras():
    yield
    while _fake_opened:
        _fake_opened.pop().close()


@pytest.fixture
def fake_camera(gc):
    """An opened camera whose acquirer is a FakeAcquirer (for reception)."""

    def make(outcomes, trigger_mode=None, device_info=None, **nodes):
        cam = ImageCamera()
        nodes.setdefault("PixelFormat", FakeNode("Mono8"))
        nodes.setdefault("TriggerSoftware", FakeNode())
        with_fake_acquirer(cam, FakeAcquirer(outcomes, **nodes))
        cam._opened = True
        cam._device_info = {"serial_number": "100"} if device_info is None else device_info
        if trigger_mode is not None:
            cam._trigger_mode = trigger_mode
        return cam

    return make


@pytest.fixture
def no_gentl_env(monkeypatch):
    monkeypatch.delenv("GENICAM_GENTL64_PATH", raising=False)
    return os.environ


# --- pixel conversion ------------------------------------------------------------
# The conversion is exercised on a real GentlCamera (construction needs no
# camera) with a small stand-in for a harvesters buffer component, because the
# simulated producer only ever delivers Mono8 and RGB8 buffers.


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


# --- conversion of what the simulated producer delivers ------------------------


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
def sim_camera(camera) -> Callable[..., RecordingCamera]:
    """Opens simulator cameras by serial that keep what they converted."""

    def make(serial: str, **params) -> RecordingCamera:
        return camera(cls=RecordingCamera, serial=serial, **params)

    return make
