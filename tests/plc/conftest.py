"""Fixtures of the PLC sink tests.

The sink talks to pymodbus's own Modbus TCP server on 127.0.0.1, run in a
thread with its own event loop. Every register write the server accepts is
recorded, so a test reads back exactly what reached the "PLC". The few fakes
at the end stand in for what a real server cannot produce.
"""

from __future__ import annotations

import socket
import struct
import sys
import threading
from collections.abc import Callable, Iterator

import pytest

from vantix.io.sink.plc_link import PlcLinkSink
from vantix.sim.modbus import ModbusServer, Recorder, free_port

UNITS = (1, 2)  # the server answers these unit ids, each with its own registers


@pytest.fixture
def recorder() -> Recorder:
    return Recorder()


@pytest.fixture
def server(recorder: Recorder) -> Iterator[ModbusServer]:
    pytest.importorskip("pymodbus.server")
    srv = ModbusServer(recorder, units=UNITS)
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


class MisconfirmingPlc:
    """A Modbus TCP peer that answers every write-single-register (or
    write-multiple-registers) request with a well-formed reply that does not
    confirm it: another function ("function"), another register ("address")
    or another value (count for a block) ("value")."""

    def __init__(self, lie: str) -> None:
        self.lie = lie
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self) -> None:
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:  # closed
                return
            threading.Thread(target=self._answer, args=(conn,), daemon=True).start()

    def _answer(self, conn: socket.socket) -> None:
        with conn:
            while header := conn.recv(7, socket.MSG_WAITALL):
                tid, _, length, unit = struct.unpack(">HHHB", header)
                request = conn.recv(length - 1, socket.MSG_WAITALL)
                # Function 6 carries the value here, function 16 the count.
                function, address, value = struct.unpack(">BHH", request[:5])
                if self.lie == "function":
                    pdu = struct.pack(">BBH", 3, 2, value)  # a read-registers reply
                else:
                    address += self.lie == "address"
                    value ^= self.lie == "value"
                    pdu = struct.pack(">BHH", function, address, value)
                conn.sendall(struct.pack(">HHHB", tid, 0, len(pdu) + 1, unit) + pdu)

    def close(self) -> None:
        self.listener.close()
        self.thread.join(5)


@pytest.fixture(params=["function", "address", "value"])
def misconfirming_plc(request) -> Iterator[MisconfirmingPlc]:
    plc = MisconfirmingPlc(request.param)
    yield plc
    plc.close()


@pytest.fixture
def fakes():
    """The fake classes, for tests (conftest is not importable by name)."""
    from types import SimpleNamespace

    return SimpleNamespace(Client=FakeClient, Response=FakeResponse)
