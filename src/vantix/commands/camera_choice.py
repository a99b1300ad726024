"""Which camera a command opens: a simulated preset, a producer's device
(``--cti``) or a GigE Vision camera through vantix's own producer
(``--gev``), and the checks that refuse what it cannot honour."""

from __future__ import annotations

import argparse
import contextlib
from collections.abc import Iterator
from typing import Any

from vantix.commands.common import EXIT_CAMERA, EXIT_USAGE, CommandError
from vantix.io.camera.base import CameraError, TriggerMode
from vantix.sim import CAMERAS as SIMULATED_CAMERAS

# The simulated line pulses like an encoder when a preset runs under
# hardware trigger, so such a run has frames without any wiring.
LINE_PERIOD_US = 40_000


def add_arguments(parser: argparse.ArgumentParser) -> None:
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument(
        "--camera", choices=list(SIMULATED_CAMERAS), help="a simulated camera (vantix.sim)"
    )
    which.add_argument("--cti", help="a GenTL producer file or folder (a real camera)")
    which.add_argument(
        "--gev", action="store_true", help="a GigE Vision camera, through vantix's own producer"
    )
    parser.add_argument("--serial", help="camera serial number (with --cti or --gev)")
    parser.add_argument("--model", help="camera model, partial match (with --cti or --gev)")


def check_selection(args: argparse.Namespace) -> None:
    """--serial and --model choose among a producer's cameras; a preset is
    one camera already."""
    if not (getattr(args, "cti", None) or getattr(args, "gev", False)):
        given = [f"--{name}" for name in ("serial", "model") if getattr(args, name, None)]
        if given:
            raise CommandError(
                EXIT_USAGE,
                f"{' and '.join(given)} pick a camera among a producer's (--cti or --gev); "
                "a simulated camera is chosen by --camera alone",
            )


def params(args: argparse.Namespace, trigger: TriggerMode) -> dict[str, Any]:
    """The GentlCamera parameters for the selected camera."""
    check_selection(args)
    chosen: dict[str, Any]
    if args.camera:
        from vantix import sim

        chosen = {"cti_path": producer(sim.producer_path), "serial": SIMULATED_CAMERAS[args.camera]}
        if trigger is TriggerMode.HARDWARE:
            chosen["features"] = {"SimulationLinePulsePeriod": LINE_PERIOD_US}
    else:
        if args.gev:
            from vantix import gev

            cti = producer(gev.producer_path)
        else:
            cti = args.cti
        chosen = {"cti_path": cti, "serial": args.serial, "model": args.model}
    if getattr(args, "pixel_format", None):
        chosen["pixel_format"] = args.pixel_format
    return {k: v for k, v in chosen.items() if v is not None}


def producer(locate) -> str:
    """A shipped producer's path, or the command's camera error."""
    try:
        return locate()
    except FileNotFoundError as exc:
        raise CommandError(EXIT_CAMERA, str(exc)) from None


@contextlib.contextmanager
def opened(args: argparse.Namespace, trigger: TriggerMode, **extra: Any) -> Iterator[Any]:
    """The selected camera, open, with the asked pixel format in force."""
    from vantix.io.camera.gentl_camera import GentlCamera

    camera = GentlCamera({**params(args, trigger), **extra})
    camera.set_trigger_mode(trigger)
    try:
        camera.open()
    except CameraError as exc:
        raise CommandError(EXIT_CAMERA, str(exc)) from None
    try:
        try:
            check_pixel_format(camera, getattr(args, "pixel_format", None))
        except CameraError as exc:
            raise CommandError(EXIT_CAMERA, str(exc)) from None
        yield camera
    finally:
        camera.close()


def offered_pixel_formats(camera) -> list[str]:
    node = camera._find_node("PixelFormat")
    try:
        return list(node.symbolics) if node is not None else []
    except Exception:  # a producer whose enumeration cannot be listed
        return []


def check_pixel_format(camera, wanted: str | None) -> None:
    """The camera module logs a pixel format it could not set and goes on;
    a command refuses instead, naming those the camera offers."""
    if not wanted or camera._node_pixel_format() == wanted:
        return
    offered = offered_pixel_formats(camera)
    raise CameraError(
        f"the camera does not offer pixel format {wanted}; it offers: "
        + (", ".join(offered) or "(none listed)"),
    )
