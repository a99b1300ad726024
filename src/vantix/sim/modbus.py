"""An embedded Modbus TCP server (pymodbus's own) standing in for a PLC.

It runs in a thread with its own event loop on 127.0.0.1, answers the given
unit ids with holding registers 0..register_count-1, and records every
register write it accepts, so a caller reads back exactly what reached the
"PLC". stop() and start() may be repeated; the port stays the same.
"""

from __future__ import annotations

import asyncio
import socket
import threading
from typing import Any

REGISTER_COUNT = 300


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Recorder:
    """Every write the server accepted, in arrival order (per register and
    per request), and the latest value of each register (kept across server
    restarts, as a PLC keeps its memory)."""

    def __init__(self, register_count: int = REGISTER_COUNT) -> None:
        self.register_count = register_count
        self._lock = threading.Lock()
        self.writes: list[tuple[int, int, int]] = []  # (unit, address, value)
        self.requests: list[tuple[int, int, int]] = []  # (unit, first address, count)
        self._values: dict[tuple[int, int], int] = {}

    def record(self, unit: int, address: int, values: list[int]) -> None:
        with self._lock:
            self.requests.append((unit, address, len(values)))
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
        return [current.get(a, 0) for a in range(self.register_count)]


def _server_context(recorder: Recorder, units: tuple[int, ...]):
    """The datastore in the form the installed pymodbus serves."""
    try:  # 3.16 on: simulated devices with an access hook
        from pymodbus.simulator import DataType, SimData, SimDevice
    except ImportError:
        return _legacy_context(recorder, units)

    def device(unit: int):
        async def on_access(_fc, _start, address, _count, _registers, set_values):
            if set_values is not None:
                recorder.record(unit, address, list(set_values))

        block = SimData(0, values=recorder.initial(unit), datatype=DataType.REGISTERS)
        return SimDevice(id=unit, simdata=[block], action=on_access)

    return [device(unit) for unit in units]


def _legacy_context(recorder: Recorder, units: tuple[int, ...]):
    from pymodbus.datastore import (
        ModbusDeviceContext,
        ModbusSequentialDataBlock,
        ModbusServerContext,
    )

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

    devices: dict = {u: ModbusDeviceContext(hr=RecordingBlock(u)) for u in units}
    return ModbusServerContext(devices=devices, single=False)


class ModbusServer:
    """pymodbus's TCP server in a thread with its own event loop."""

    def __init__(
        self,
        recorder: Recorder | None = None,
        units: tuple[int, ...] = (1,),
        host: str = "127.0.0.1",
        port: int | None = None,
    ) -> None:
        self.recorder = recorder if recorder is not None else Recorder()
        self.units = units
        self.host, self.port = host, port if port is not None else free_port()
        self._server: Any = None
        self._handlers: list = []
        self._loop = asyncio.new_event_loop()
        self._thread = threading.Thread(
            target=self._loop.run_forever, daemon=True, name="modbus-server"
        )
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
        self._server = Server(
            _server_context(self.recorder, self.units), address=(self.host, self.port)
        )
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
        """The sink parameters that reach this server."""
        return {"host": self.host, "port": self.port}

    def __enter__(self) -> ModbusServer:
        self.start()
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()
