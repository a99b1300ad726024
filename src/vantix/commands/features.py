"""python -m vantix features: the camera's remote node map, one value, or
a value set through the camera module's own node access."""

from __future__ import annotations

import argparse
import contextlib
from typing import Any

from vantix.commands import camera_choice
from vantix.commands.common import EXIT_CAMERA, EXIT_OK, CommandError, print_json
from vantix.console import columns
from vantix.io.camera.base import CameraError, TriggerMode

VALUE_TYPES = ("IInteger", "IFloat", "IBoolean", "IString", "IEnumeration", "ICommand")
INVISIBLE = 3  # GenApi's EVisibility: Invisible nodes are the XML's plumbing


def add_parser(commands, parents) -> None:
    parser = commands.add_parser(
        "features",
        parents=parents,
        help="list, read or set the camera's GenICam features",
        description="With no NAME, the remote node map as a table. NAME prints one "
        "value; NAME=VALUE sets it and prints what the camera then holds.",
    )
    camera_choice.add_arguments(parser)
    parser.add_argument("--json", action="store_true", help="one JSON document on stdout")
    parser.add_argument("names", nargs="*", metavar="NAME[=VALUE]")
    parser.set_defaults(command=run)


def run(args: argparse.Namespace) -> int:
    with camera_choice.opened(args, TriggerMode.SOFTWARE) as camera:
        # Image-format nodes are locked while the camera acquires; this
        # command reads and writes settings only.
        with contextlib.suppress(Exception):
            camera._ia.stop()
        if not args.names:
            described = (_describe(node) for node in camera._ia.remote_device.node_map.nodes)
            rows = [row for row in described if row is not None]
            if args.json:
                print_json({"camera": dict(camera._device_info), "features": rows})
            else:
                print(_table(rows))
            return EXIT_OK
        values = {}
        for item in args.names:
            name, is_write, text = item.partition("=")
            if camera._find_node(name) is None:
                raise CommandError(EXIT_CAMERA, f"the camera has no node {name!r}")
            if is_write:
                try:
                    camera._set_node(name, text)
                except CameraError as exc:
                    raise CommandError(EXIT_CAMERA, str(exc)) from None
            values[name] = _shown(camera, name)
            if not args.json:
                print(f"{name} = {values[name]}")
        if args.json:
            print_json({"camera": dict(camera._device_info), "values": values})
    return EXIT_OK


def _shown(camera, name: str) -> Any:
    node = camera._find_node(name)
    if type(node).__name__ == "ICommand":
        return "(command)"
    value = camera._read_node(name)
    if value is None:
        raise CommandError(EXIT_CAMERA, f"{name} cannot be read ({_access(node)})")
    return value


def _describe(node) -> dict[str, Any] | None:
    kind = type(node).__name__
    info = node.node
    if kind not in VALUE_TYPES or info.visibility >= INVISIBLE:
        return None
    access = _access(node)
    value: Any = None
    if kind != "ICommand" and access in ("RO", "RW"):
        with contextlib.suppress(Exception):
            value = node.value
    return {
        "name": info.name,
        "type": kind[1:],
        "access": access,
        "value": value,
        "range": _range(node, kind),
    }


def _access(node) -> str:
    from genicam.genapi import EAccessMode  # type: ignore[import-untyped]

    try:
        return EAccessMode(node.get_access_mode()).name
    except Exception:
        return "?"


def _range(node, kind: str) -> str:
    try:
        if kind == "IEnumeration":
            return ", ".join(node.symbolics)
        if kind == "IInteger":
            step = f" step {node.inc}" if node.inc != 1 else ""
            return f"{node.min}..{node.max}{step}"
        if kind == "IFloat":
            unit = f" {node.unit}" if node.unit else ""
            return f"{node.min:g}..{node.max:g}{unit}"
    except Exception:  # a node whose bounds cannot be read now
        return ""
    return ""


def _table(rows: list[dict[str, Any]]) -> str:
    heads = ("name", "type", "access", "value", "range")
    cells = [[("" if row[h] is None else str(row[h])) for h in heads] for row in rows]
    return columns(heads, cells)
