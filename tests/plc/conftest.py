"""Fixtures of the PLC sink tests.

The sink talks to pymodbus's own Modbus TCP server on 127.0.0.1, run in a
thread with its own event loop. Every register write the server accepts is
recorded, so a test reads back exactly what reached the "PLC". The few fakes
at the end stand in for what a real server cannot produce.
"""

from __future__ import annotations

import asyncio
import socket
import sys
import threading
from collections.abc import Callable, Iterator

import pytest

from vantix.io.sink.plc_link import PlcLinkSink

UNITS = (1, 2)          # the server answers these unit ids, each with its own registers
REGISTER_COUNT = 300    # holding registers 0..299; any higher address is illegal


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Recorder:
    """Every write the server accepted, in arrival order, and the latest
    value of each register (kept across server restarts, as a PLC keeps its
    memory)."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self.writes: list[tuple[int, int, int]] = []  # (unit, address, value)
        self._values: dict[tuple[int, int], int] = {}

    def record(self, unit: int, address: int, values: list[int]) -> None:
        with self._lock:
            for offset, value in enumerate(values):
                self.writes.append((unit, address + offset, int(value)))
                self._values[(unit, address + offset)] = int(value)

    def value(self, address: int, unit: int = 1) -> int | None:
        with self._lock:
            return self._values.get((unit, address))

    def registers(self, unit: int = 1) -> dict[int, int]:
        with self._lock:
            return {a: v for (u, a), v in self._values.items() if u == unit}

    def initial(self, unit: int) -> list[int]:
        current = self.registers(unit)
        return [current.get(a, 0) for a in range(REGISTER_COUNT)]


def _server_context(recorder: Recorder):
    """The datastore in the form the installed pymodbus serves."""
    try:  # 3.16 on: simulated devices with an access hook
        from pymodbus.simulator import DataType, SimData, SimDevice
    except ImportError:
        return _legacy_context(recorder)

    def device(unit: int):
        async def on_access(_fc, _start, address, _count, _registers, set_values):
            if set_values is not None:
                recorder.record(unit, address, list(set_values))

        block = SimData(0, values=recorder.initial(unit), datatype=DataType.REGISTERS)
        return SimDevice(id=unit, simdata=[block], action=on_access)

    return [device(unit) for unit in UNITS]


def _legacy_context(recorder: Recorder):
    from pymodbus.datastore import (ModbusDeviceContext, ModbusSequentialDataBlock,
                                    ModbusServerContext)

    class RecordingBlock(ModbusSequentialDataBlock):
        # The device context has added 1 to the request address.
        def __init__(self, unit: int) -> None:
            super().__init__(1, recorder.initial(unit))
            self.unit = unit

        def setValues(self, address, values):  # noqa: N802 (pymodbus's name)
            refused = super().setValues(address, values)
            if not refused:
                recorder.record(self.unit, address - 1, list(values))
            return refused

    devices = {u: ModbusDeviceContext(hr=RecordingBlock(u)) for u in UNITS}
    return ModbusServerContext(devices=devices, single=False)


class ModbusServer:
    """pymodbus's TCP server in a thread with its own event loop. stop() and
    start() may be repeated; the port stays the same."""

    def __init__(self, recorder: Recorder) -> None:
        self.recorder = recorder
        self.host, self.port = "127.0.0.1", free_port()
        self._server = None
        self._loop = asyncio.new_event_loop()
        self._thread = threading.Thread(target=self._loop.run_forever, daemon=True)
        self._thread.start()

    def _call(self, coro, timeout: float = 10.0):
        return asyncio.run_coroutine_threadsafe(coro, self._loop).result(timeout)

    async def _start(self) -> None:
        from pymodbus.server import ModbusTcpServer

        handlers = self._handlers = []

        class Server(ModbusTcpServer):
            def callback_new_connection(self):
                handlers.append(super().callback_new_connection())
                return handlers[-1]

        # The server must be built inside its running loop.
        self._server = Server(_server_context(self.recorder), address=(self.host, self.port))
        await self._server.serve_forever(background=True)

    async def _stop(self) -> None:
        # A connection the kernel accepted just before shutdown() is handed
        # to the server a loop turn later and would outlive it: let pending
        # accepts through first, then close whatever is left.
        await asyncio.sleep(0.02)
        await self._server.shutdown()
        await asyncio.sleep(0.02)
        for handler in self._handlers:
            if handler.transport is not None:
                handler.transport.close()
        await asyncio.sleep(0)

    def start(self) -> None:
        if self._server is None:
            self._call(self._start())

    def stop(self) -> None:
        if self._server is not None:
            self._call(self._stop())
            self._server = None

    def close(self) -> None:
        self.stop()
        self._loop.call_soon_threadsafe(self._loop.stop)
        self._thread.join(10)
        self._loop.close()

    @property
    def params(self) -> dict:
        return {"host": self.host, "port": self.port}


@pytest.fixture
def recorder() -> Recorder:
    return Recorder()


@pytest.fixture
def server(recorder: Recorder) -> Iterator[ModbusServer]:
    pytest.importorskip("pymodbus.server")
    srv = ModbusServer(recorder)
    srv.start()
    yield srv
    srv.close()


@pytest.fixture
def refused_port() -> int:
    """A port on 127.0.0.1 where nothing listens."""
    return free_port()


@pytest.fixture
def silent_port() -> Iterator[int]:
    """A peer that accepts connections and never answers."""
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(8)
        yield listener.getsockname()[1]


@pytest.fixture
def make_sink() -> Iterator[Callable[..., PlcLinkSink]]:
    """PlcLinkSink(params) factory; every sink is closed after the test."""
    sinks: list[PlcLinkSink] = []

    def make(params: dict | None = None) -> PlcLinkSink:
        sinks.append(PlcLinkSink(params))
        return sinks[-1]

    yield make
    for sink in sinks:
        sink.close()


class _RefuseImport:
    """A meta-path finder for which pymodbus does not exist."""

    def find_spec(self, name, path=None, target=None):
        if name == "pymodbus" or name.startswith("pymodbus."):
            raise ModuleNotFoundError(f"No module named {name!r}")
        return None


@pytest.fixture(params=["sys.modules", "meta_path"])
def no_pymodbus(request, monkeypatch) -> None:
    """Makes pymodbus unimportable: through a None entry in sys.modules, or
    through an import hook after dropping the imported modules."""
    if request.param == "sys.modules":
        monkeypatch.setitem(sys.modules, "pymodbus.client", None)
        return
    for name in [n for n in sys.modules if n == "pymodbus" or n.startswith("pymodbus.")]:
        monkeypatch.delitem(sys.modules, name)
    monkeypatch.setattr(sys, "meta_path", [_RefuseImport(), *sys.meta_path])


# --- fakes: what no real server produces --------------------------------------

class FakeClient:
    """A client whose connect() and read are scripted: each is a value to
    return or an exception to raise."""

    def __init__(self, connect=True, read=None) -> None:
        self._connect, self._read = connect, read
        self.closed = False

    @staticmethod
    def _play(outcome):
        if isinstance(outcome, BaseException):
            raise outcome
        return outcome

    def connect(self):
        return self._play(self._connect)

    def read_holding_registers(self, address, count=1, **unit):
        return self._play(self._read)

    def close(self) -> None:
        self.closed = True


class FakeResponse:
    """A read response without an error flag and with the given registers
    (no attribute at all when None)."""

    def __init__(self, registers=None) -> None:
        if registers is not None:
            self.registers = registers

    def isError(self) -> bool:  # noqa: N802 (pymodbus's name)
        return False


@pytest.fixture
def fakes():
    """The fake classes, for tests (conftest is not importable by name)."""
    from types import SimpleNamespace

    return SimpleNamespace(Client=FakeClient, Response=FakeResponse)
