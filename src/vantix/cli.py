"""Command line: the end-to-end demo and the operator commands.

    python -m vantix [--version] [-v | -q | --log-level LEVEL] COMMAND ...
    python -m vantix demo [--frames N] [--camera NAME [--network]]
                          [--cti PATH | --gev] [--serial S] [--model M]
                          [--pixel-format F] [--trigger MODE] [--plc HOST:PORT | --simulate]
                          [--out PNG] [--json]
    python -m vantix devices [--cti PATH | --sim | --gev] [--json]
    python -m vantix features (--camera P | --cti PATH | --gev) [--serial S] [--json]
                              [NAME[=VALUE] ...]
    python -m vantix grab (--camera P | --cti PATH | --gev) [--serial S] [--frames N]
                          [--pixel-format F] [--trigger MODE] --out DIR [--format png|tiff|npy]
    python -m vantix plc serve [--host H] [--port 5020] [--unit N] [--seconds S]
    python -m vantix plc read --host H [--port P] REGISTER [COUNT]
    python -m vantix plc write --host H [--port P] REGISTER VALUE
    python -m vantix plc-test --host H [--port P] [--unit U] [--json]
    python -m vantix sim-camera (--camera PRESET | --config FILE) --address A [--seconds S]
                                [--no-resend] [--loss PERCENT] [--plain-xml] [--link-mbps M]

Exit codes: 0 success; 2 bad command line; 3 camera problem (no producer, no
device, cannot open, a feature refused); 4 PLC problem (unreachable, write
failed; for plc-test: the link test did not pass); 130 interrupted (Ctrl+C);
1 anything else.
"""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import logging
import os
import signal
import sys
import threading
from collections.abc import Iterator
from importlib import metadata

from vantix.commands import arguments, camera_choice, features, grab
from vantix.commands import plc as plc_commands
from vantix.commands.common import (
    EXIT_CAMERA,
    EXIT_INTERRUPTED,
    EXIT_OK,
    EXIT_PLC,
    EXIT_USAGE,
    CommandError,
    print_json,
    set_up_logging,
    verbosity_options,
)
from vantix.console import ProgressBar, columns, table
from vantix.io.camera.base import TriggerMode
from vantix.sim import CAMERAS as SIMULATED_CAMERAS
from vantix.sim import PRESETS

__all__ = ["EXIT_CAMERA", "EXIT_INTERRUPTED", "EXIT_OK", "EXIT_PLC", "EXIT_USAGE", "main"]


def main(argv: list[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    set_up_logging(args)
    try:
        return args.command(args)
    except CommandError as exc:
        print(f"error: {exc}", file=sys.stderr)
        return exc.code
    except KeyboardInterrupt:  # the camera and the PLC link were closed on the way out
        print("\ninterrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except BrokenPipeError:  # the reader left (| head): nothing more to say to it
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_OK


def _version() -> str:
    try:
        return metadata.version("vantix")
    except metadata.PackageNotFoundError:
        return "unknown"


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python -m vantix",
        description=__doc__.split("\n")[0],
        parents=[verbosity_options(suppress=False)],
    )
    parser.add_argument("--version", action="version", version=f"vantix {_version()}")
    commands = parser.add_subparsers(required=True, metavar="COMMAND")
    parents = [verbosity_options(suppress=True)]

    demo = commands.add_parser(
        "demo", parents=parents, help="run frames from a camera through inspection to a PLC"
    )
    demo.add_argument(
        "--frames", type=arguments.positive, default=60, help="frames to read (default 60)"
    )
    demo.add_argument(
        "--train",
        type=arguments.positive,
        default=16,
        help="first frames that build the feature bank (default 16)",
    )
    demo.add_argument(
        "--threshold",
        type=arguments.positive_float,
        default=8.0,
        help="largest |z| still judged OK (default 8)",
    )
    demo.add_argument(
        "--defect-every",
        type=arguments.non_negative,
        default=5,
        help="paint a synthetic blemish on every N-th judged frame (0: never)",
    )
    camera = demo.add_mutually_exclusive_group()
    default = "bayer12"
    camera.add_argument(
        "--camera",
        choices=list(SIMULATED_CAMERAS),
        default=default,
        help=f"the simulated camera (default {default}: {PRESETS[default].summary})",
    )
    camera.add_argument("--cti", help="a real camera's GenTL producer file or folder")
    camera.add_argument(
        "--gev", action="store_true", help="a GigE Vision camera, through vantix's own producer"
    )
    demo.add_argument(
        "--network",
        action="store_true",
        help="serve the simulated camera as a GigE Vision device on 127.0.0.2 "
        "(sim-camera) and receive it through vantix's GigE Vision producer",
    )
    demo.add_argument("--serial", help="camera serial number (with --cti or --gev)")
    demo.add_argument("--model", help="camera model, partial match (with --cti or --gev)")
    demo.add_argument(
        "--pixel-format",
        help="camera PixelFormat (default for the simulated "
        "cameras: Mono12p, BayerRG12p, RGB8, Mono12Packed)",
    )
    demo.add_argument(
        "--trigger",
        choices=["hardware", "software", "continuous"],
        help="trigger mode (default: hardware on the simulated camera, whose "
        "line pulses like an encoder; software with --cti)",
    )
    demo.add_argument(
        "--line-period-ms",
        type=arguments.positive_float,
        default=40.0,
        help="period of the simulated line's pulses (default 40 ms)",
    )
    plc = demo.add_mutually_exclusive_group()
    plc.add_argument(
        "--plc",
        type=arguments.host_port,
        metavar="HOST:PORT",
        help="a real PLC (default: an embedded Modbus TCP server on 127.0.0.1)",
    )
    plc.add_argument("--simulate", action="store_true", help="log the PLC writes instead")
    demo.add_argument(
        "--out",
        type=arguments.picture_path,
        default="vantix-demo.png",
        help="picture to write (PNG, or another image type by its extension)",
    )
    demo.add_argument("--json", action="store_true", help="the summary as one JSON document")
    demo.set_defaults(command=_demo)

    devices = commands.add_parser(
        "devices", parents=parents, help="list the cameras the GenTL producers see"
    )
    source = devices.add_mutually_exclusive_group()
    source.add_argument(
        "--cti", help="GenTL producer file or folder (default: GENICAM_GENTL64_PATH)"
    )
    source.add_argument(
        "--sim", action="store_true", help="the simulated cameras shipped with vantix (vantix.sim)"
    )
    source.add_argument(
        "--gev",
        action="store_true",
        help="GigE Vision cameras on the network, through vantix's own producer (vantix.gev)",
    )
    devices.add_argument("--json", action="store_true", help="one JSON document on stdout")
    devices.set_defaults(command=_devices)

    features.add_parser(commands, parents)
    grab.add_parser(commands, parents)
    plc_commands.add_parser(commands, parents)

    test = commands.add_parser(
        "plc-test", parents=parents, help="check the Modbus TCP link to a PLC"
    )
    test.add_argument("--host", required=True)
    test.add_argument("--port", type=arguments.tcp_port, default=502)
    test.add_argument(
        "--unit", type=arguments.unit_id, default=1, help="Modbus unit id (default 1)"
    )
    test.add_argument("--json", action="store_true", help="one JSON document on stdout")
    test.set_defaults(command=_plc_test)

    serve = commands.add_parser(
        "sim-camera",
        parents=parents,
        help="serve the simulated cameras as GigE Vision devices on the network",
    )
    which = serve.add_mutually_exclusive_group(required=True)
    which.add_argument(
        "--camera", choices=sorted(SIMULATED_CAMERAS), help="one preset's default camera"
    )
    which.add_argument(
        "--config",
        type=arguments.config_file,
        help="the simulator's JSON configuration (its cameras)",
    )
    serve.add_argument(
        "--address",
        type=arguments.ipv4,
        required=True,
        help="IPv4 address of the first camera; the next ones take the following addresses",
    )
    serve.add_argument("--seconds", type=arguments.positive_float, help="stop after this long")
    serve.add_argument(
        "--no-resend", action="store_true", help="do not offer packet resend (PACKETRESEND)"
    )
    serve.add_argument(
        "--loss",
        type=arguments.percent,
        default=0.0,
        help="drop this percentage of stream packets (and reorder and duplicate some)",
    )
    serve.add_argument(
        "--plain-xml", action="store_true", help="serve the GenICam document unzipped"
    )
    serve.add_argument(
        "--link-mbps",
        type=arguments.int_in(0),
        default=1000,
        help="pace the stream as a link of this many Mbit/s would carry it "
        "(default 1000, a gigabit link; 0: as fast as the host sends)",
    )
    serve.set_defaults(command=_sim_camera)
    return parser


def _demo(args: argparse.Namespace) -> int:
    from vantix.demo import pipeline

    if args.gev:
        from vantix import gev

        args.cti = camera_choice.producer(gev.producer_path)
    options = pipeline.Options(
        frames=args.frames,
        train=args.train,
        threshold=args.threshold,
        defect_every=args.defect_every,
        camera=args.camera,
        cti=args.cti,
        network=args.network,
        serial=args.serial,
        model=args.model,
        pixel_format=args.pixel_format,
        trigger=TriggerMode(args.trigger) if args.trigger else None,
        line_period_ms=args.line_period_ms,
        plc=args.plc,
        simulate=args.simulate,
        out=args.out,
    )
    if options.network and options.cti:
        print(
            "error: --network serves the simulated camera; it takes no --cti or --gev",
            file=sys.stderr,
        )
        return EXIT_USAGE
    camera_choice.check_selection(args)
    if options.train >= options.frames:
        print(
            f"error: --frames ({options.frames}) must be larger than --train "
            f"({options.train}): the first --train frames build the feature bank, "
            "only the frames after them are judged",
            file=sys.stderr,
        )
        return EXIT_USAGE
    progress = ProgressBar(options.frames, "frames") if not args.quiet else None
    try:
        with _stop_at_the_next_frame() as stop, _simulated_writes(args):
            summary = pipeline.run(options, progress, stop)
    except pipeline.DemoError as exc:
        print(f"error ({exc.kind}): {exc}", file=sys.stderr)
        return EXIT_CAMERA if exc.kind == "camera" else EXIT_PLC
    except _sink_error() as exc:
        print(f"error (plc): {exc}", file=sys.stderr)
        return EXIT_PLC
    except _camera_error() as exc:
        print(f"error (camera): {exc}", file=sys.stderr)
        return EXIT_CAMERA
    if progress is not None:
        progress.finish()
    if args.json:
        print_json(dataclasses.asdict(summary))
    else:
        print(_summary_table(summary))
    return EXIT_OK


SIMULATED_WRITE = "[modbus-sim] "


@contextlib.contextmanager
def _simulated_writes(args: argparse.Namespace) -> Iterator[None]:
    """Under --simulate the sink logs each write it would make (at info
    level); they are the run's output, so they are printed whatever the
    log level: on stdout, or on stderr when stdout holds the JSON summary."""
    if not args.simulate:
        yield
        return
    logger = logging.getLogger("vantix.sink.modbus")
    stream = sys.stderr if args.json else sys.stdout
    threshold = logging.getLogger().getEffectiveLevel()

    def show(record: logging.LogRecord) -> bool:
        message = record.getMessage()
        if message.startswith(SIMULATED_WRITE):
            print("PLC write (simulated): " + message[len(SIMULATED_WRITE) :], file=stream)
            return False
        return record.levelno >= threshold

    level = logger.level
    logger.setLevel(min(logger.getEffectiveLevel(), logging.INFO))
    logger.addFilter(show)
    try:
        yield
    finally:
        logger.removeFilter(show)
        logger.setLevel(level)


@contextlib.contextmanager
def _stop_at_the_next_frame() -> Iterator[threading.Event]:
    """Ctrl+C sets the event, which the run answers before its next frame;
    a second Ctrl+C interrupts at once. A KeyboardInterrupt raised wherever
    the interpreter happens to be can be lost (in a finalizer that garbage
    collection runs) or turn the exit into a kill by SIGINT (inside an
    eval() of an import), so the first one is taken where it is safe."""
    stop = threading.Event()
    if threading.current_thread() is not threading.main_thread():
        yield stop
        return

    def ask_to_stop(signum, frame):
        if stop.is_set():
            raise KeyboardInterrupt
        stop.set()

    previous = signal.signal(signal.SIGINT, ask_to_stop)
    try:
        yield stop
    finally:
        if previous is not None:  # None: a handler not installed from Python
            signal.signal(signal.SIGINT, previous)


def _sink_error():
    from vantix.io.sink.base import SinkError

    return SinkError


def _camera_error():
    from vantix.io.camera.base import CameraError

    return CameraError


def _summary_table(summary) -> str:
    fps = summary.frames / summary.seconds if summary.seconds else 0.0
    camera = summary.camera or {}
    rows = [
        (
            "camera",
            f"{camera.get('vendor')} {camera.get('model')} (sn={camera.get('serial_number')})",
        ),
        ("pixel format, trigger", f"{summary.pixel_format}, {summary.trigger}"),
        ("PLC", summary.plc),
        ("frames", f"{summary.frames} ({summary.timeouts} timed out)"),
        ("frames per second", f"{fps:.1f}"),
        *((f"verdict {name}", count) for name, count in summary.verdicts.items()),
        ("last sequence number", summary.last_sequence),
    ]
    if summary.registers is not None:
        rows += [(f"register {name}", value) for name, value in summary.registers.items()]
    if summary.picture:
        rows.append(("picture", summary.picture))
    return table(rows, "vantix demo summary")


def _devices(args: argparse.Namespace) -> int:
    from vantix.io.camera.gentl_camera import enumerate_devices

    title = None
    if args.sim:
        from vantix import sim

        args.cti = sim.producer_path()
        title = f"simulated cameras (vantix GenTL simulator {args.cti})"
    elif args.gev:
        from vantix import gev

        args.cti = gev.producer_path()
        title = f"GigE Vision cameras (vantix GigE Vision producer {args.cti})"
    elif args.cti and not (os.path.isfile(args.cti) or os.path.isdir(args.cti)):
        what = "does not exist" if not os.path.exists(args.cti) else "is not a file or a folder"
        raise CommandError(EXIT_CAMERA, f"--cti {args.cti} {what}")
    result = enumerate_devices(args.cti) if args.cti else enumerate_devices()
    devices = [dict(d) for d in result["devices"]]
    heads: tuple[str, ...] = (
        "index",
        "vendor",
        "model",
        "serial_number",
        "tl_type",
        "display_name",
    )
    if args.sim:
        _add_presets(args.cti, devices)
        heads = ("index", "preset", "model", "serial_number", "pixel_formats")
    if args.json:
        print_json({"producer": args.cti, "devices": devices, "reason": result["reason"]})
    else:
        if title:
            print(title)
        if devices:
            print(columns(heads, ([_cell(d.get(h)) for h in heads] for d in devices)))
    if result["reason"]:
        print(result["reason"], file=sys.stderr)
    if not devices and args.gev:
        print(
            "a camera behind a router answers only when asked by address: "
            "VANTIX_GEV_DEVICES=192.0.2.10[,...]",
            file=sys.stderr,
        )
    elif not devices and not args.sim:
        print(
            "to try the simulated cameras shipped with vantix: python -m vantix devices --sim",
            file=sys.stderr,
        )
    return EXIT_OK if devices else EXIT_CAMERA


def _cell(value) -> str:
    if isinstance(value, list):
        return ", ".join(value) if value else "?"
    return "-" if value is None else str(value)


def _add_presets(cti: str, devices: list[dict]) -> None:
    """Each simulated camera's preset (by its serial; None for one a
    configuration renamed) and the pixel formats it offers, read from the
    camera itself, since a configuration may narrow them."""
    from vantix.io.camera.base import CameraError
    from vantix.io.camera.gentl_camera import GentlCamera

    presets = {serial: preset for preset, serial in SIMULATED_CAMERAS.items()}
    for device in devices:
        device["preset"] = presets.get(str(device.get("serial_number")))
        camera = GentlCamera({"cti_path": cti, "serial": device.get("serial_number")})
        camera.set_trigger_mode(TriggerMode.SOFTWARE)
        try:
            camera.open()
            device["pixel_formats"] = camera_choice.offered_pixel_formats(camera)
        except CameraError:
            device["pixel_formats"] = []
        finally:
            camera.close()


def _plc_test(args: argparse.Namespace) -> int:
    from vantix.io.sink.plc_link import PlcLinkSink

    report = PlcLinkSink(
        {"host": args.host, "port": args.port, "unit_id": args.unit}
    ).test_connection()
    rows = [
        (key, report[key])
        for key in (
            "host",
            "port",
            "unit_id",
            "connected",
            "responding",
            "ok",
            "simulated",
            "read_value",
        )
    ]
    if args.json:
        print_json(report)
    else:
        print(table(rows, "PLC link test"))
        print(report["message"])
    return EXIT_OK if report["ok"] else EXIT_PLC


def _sim_camera(args: argparse.Namespace) -> int:
    from vantix import sim

    try:
        server = sim.camera_server_path()
    except FileNotFoundError as exc:
        print(exc, file=sys.stderr)
        return EXIT_CAMERA
    command = [server, "--address", args.address, "--loss", repr(args.loss)]
    command += ["--link-mbps", str(args.link_mbps)]
    environment = dict(os.environ)
    if args.config:
        environment[sim.CONFIG_VARIABLE] = args.config
    else:  # the preset's default camera, whatever the environment configures
        environment.pop(sim.CONFIG_VARIABLE, None)
        command += ["--preset", args.camera]
    if args.seconds:
        command += ["--seconds", repr(args.seconds)]
    if args.no_resend:
        command.append("--no-resend")
    if args.plain_xml:
        command.append("--plain-xml")
    sys.stdout.flush()
    # The server takes this process's place: its PID is the one to signal.
    os.execve(server, command, environment)


def main_entry() -> None:
    """Console-script entry point."""
    raise SystemExit(main())
