"""python -m vantix plc serve | read | write: the embedded Modbus TCP
server as a stand-in PLC, and single register reads and writes against any
Modbus TCP server."""

from __future__ import annotations

import argparse
import logging
import signal
import sys
import threading
from typing import Any

from vantix.commands.arguments import int_in, positive_float, tcp_port, unit_id
from vantix.commands.common import EXIT_OK, EXIT_PLC, CommandError, print_json

register = int_in(0, 65535)
register_count = int_in(1, 125)  # the most one read-holding-registers request carries
register_value = int_in(0, 65535)


def add_parser(commands, parents) -> None:
    plc = commands.add_parser("plc", parents=parents, help="a stand-in PLC; register reads, writes")
    actions = plc.add_subparsers(required=True, metavar="ACTION")

    serve = actions.add_parser(
        "serve", parents=parents, help="the embedded Modbus TCP server, printing each write"
    )
    serve.add_argument("--host", default="127.0.0.1", help="address to listen on")
    serve.add_argument("--port", type=tcp_port, default=5020, help="TCP port (default 5020)")
    serve.add_argument("--unit", type=unit_id, default=1, help="unit id answered (default 1)")
    serve.add_argument("--seconds", type=positive_float, help="stop after this long")
    serve.set_defaults(command=serve_command)

    for name, helps in (("read", "read holding registers"), ("write", "write one register")):
        action = actions.add_parser(name, parents=parents, help=helps)
        action.add_argument("--host", required=True)
        action.add_argument("--port", type=tcp_port, default=502)
        action.add_argument("--unit", type=unit_id, default=1, help="Modbus unit id (default 1)")
        action.add_argument("register", type=register, metavar="REGISTER")
        if name == "read":
            action.add_argument("count", type=register_count, nargs="?", default=1, metavar="COUNT")
            action.add_argument("--json", action="store_true", help="one JSON document on stdout")
            action.set_defaults(command=read_command)
        else:
            action.add_argument("value", type=register_value, metavar="VALUE")
            action.set_defaults(command=write_command)


def quiet_pymodbus() -> None:
    """pymodbus logs a refused or malformed request with a traceback and a
    hex dump; the server answers it with an exception response, which is
    all an operator needs."""
    for name in ("pymodbus", "pymodbus.logging"):
        logger = logging.getLogger(name)
        logger.setLevel(logging.CRITICAL)
        logger.propagate = False


def serve_command(args: argparse.Namespace) -> int:
    from vantix.sim.modbus import ModbusServer, Recorder

    quiet_pymodbus()

    class Announcing(Recorder):
        def record(self, unit: int, address: int, values: list[int]) -> None:
            super().record(unit, address, values)
            for offset, value in enumerate(values):
                print(f"unit {unit} register {address + offset} <- {int(value)}", flush=True)

    stop = threading.Event()
    server = ModbusServer(Announcing(), units=(args.unit,), host=args.host, port=args.port)
    try:
        try:
            server.start()
        except Exception as exc:  # OSError mostly: the port is taken
            raise CommandError(
                EXIT_PLC, f"cannot serve on {args.host}:{args.port}: {exc}"
            ) from None
        print(f"serving Modbus TCP on {args.host}:{args.port}, unit {args.unit}", flush=True)
        previous = {
            s: signal.signal(s, lambda *_: stop.set()) for s in (signal.SIGINT, signal.SIGTERM)
        }
        try:
            stop.wait(args.seconds)
        finally:
            for s, handler in previous.items():
                signal.signal(s, handler)
    finally:
        server.close()
    print("stopped", file=sys.stderr)
    return EXIT_OK


def _client(args: argparse.Namespace):
    from pymodbus.client import ModbusTcpClient

    quiet_pymodbus()
    client = ModbusTcpClient(host=args.host, port=args.port, timeout=3.0)
    if not client.connect():
        raise CommandError(EXIT_PLC, f"cannot reach {args.host}:{args.port}")
    return client


def _unit(args: argparse.Namespace) -> dict[str, Any]:
    from vantix.io._pymodbus_compat import unit

    return unit(args.unit)


def read_command(args: argparse.Namespace) -> int:
    client = _client(args)
    try:
        reply = client.read_holding_registers(args.register, count=args.count, **_unit(args))
    except Exception as exc:
        raise CommandError(EXIT_PLC, f"read of register {args.register} failed: {exc}") from None
    finally:
        client.close()
    if reply.isError():
        raise CommandError(EXIT_PLC, f"the PLC refused to read register {args.register}: {reply}")
    values = {args.register + i: int(v) for i, v in enumerate(reply.registers[: args.count])}
    if args.json:
        print_json({"host": args.host, "port": args.port, "unit": args.unit, "registers": values})
    else:
        for address, value in values.items():
            print(f"{address} {value}")
    return EXIT_OK


def write_command(args: argparse.Namespace) -> int:
    client = _client(args)
    try:
        reply = client.write_register(args.register, args.value, **_unit(args))
    except Exception as exc:
        raise CommandError(EXIT_PLC, f"write of register {args.register} failed: {exc}") from None
    finally:
        client.close()
    # A confirmed write echoes the register and the value.
    echoed = (getattr(reply, "address", None), list(getattr(reply, "registers", None) or []))
    if reply.isError() or echoed != (args.register, [args.value]):
        raise CommandError(EXIT_PLC, f"the PLC did not confirm register {args.register}: {reply}")
    print(f"{args.register} {args.value}")
    return EXIT_OK
