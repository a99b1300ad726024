"""Command line: the end-to-end demo and the operator diagnostics.

    python -m vantix demo [--frames N] [--camera NAME [--network]]
                          [--cti PATH [--serial S] [--model M]]
                          [--pixel-format F] [--trigger MODE] [--plc HOST:PORT | --simulate]
                          [--out PNG]
    python -m vantix devices [--cti PATH | --sim | --gev]
    python -m vantix plc-test --host H [--port P] [--unit U]
    python -m vantix sim-camera (--camera PRESET | --config FILE) --address A [--seconds S]
                                [--no-resend] [--loss PERCENT] [--plain-xml] [--link-mbps M]

Exit codes: 0 success; 2 bad command line; 3 camera problem (no producer, no
device, cannot open); 4 PLC problem (unreachable, write failed; for
plc-test: the link test did not pass); 130 interrupted (Ctrl+C); 1 anything
else.
"""

from __future__ import annotations

import argparse
import contextlib
import ipaddress
import logging
import math
import os
import signal
import sys
import threading
from collections.abc import Iterator

from vantix.console import ProgressBar, table
from vantix.io.camera.base import TriggerMode
from vantix.sim import CAMERAS as SIMULATED_CAMERAS

EXIT_OK, EXIT_USAGE, EXIT_CAMERA, EXIT_PLC = 0, 2, 3, 4
EXIT_INTERRUPTED = 130


def main(argv: list[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    logging.basicConfig(
        level=logging.WARNING if not args.verbose else logging.INFO,
        format="%(levelname)s %(name)s: %(message)s",
    )
    try:
        return args.command(args)
    except KeyboardInterrupt:  # the camera and the PLC link were closed on the way out
        print("\ninterrupted", file=sys.stderr)
        return EXIT_INTERRUPTED


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python -m vantix", description=__doc__.split("\n")[0])
    parser.add_argument("-v", "--verbose", action="store_true", help="log at info level")
    commands = parser.add_subparsers(required=True, metavar="COMMAND")

    demo = commands.add_parser("demo", help="run frames from a camera through inspection to a PLC")
    demo.add_argument("--frames", type=_positive, default=60, help="frames to read (default 60)")
    demo.add_argument(
        "--train",
        type=_positive,
        default=16,
        help="first frames that build the feature bank (default 16)",
    )
    demo.add_argument(
        "--threshold",
        type=_positive_float,
        default=8.0,
        help="largest |z| still judged OK (default 8)",
    )
    demo.add_argument(
        "--defect-every",
        type=_non_negative,
        default=5,
        help="paint a synthetic blemish on every N-th judged frame (0: never)",
    )
    camera = demo.add_mutually_exclusive_group()
    camera.add_argument(
        "--camera",
        choices=list(SIMULATED_CAMERAS),
        default="bayer12",
        help="the simulated camera (default bayer12: 12-bit Bayer colour)",
    )
    camera.add_argument("--cti", help="a real camera's GenTL producer file or folder")
    demo.add_argument(
        "--network",
        action="store_true",
        help="serve the simulated camera as a GigE Vision device on 127.0.0.2 "
        "(sim-camera) and receive it through vantix's GigE Vision producer",
    )
    demo.add_argument("--serial", help="camera serial number (with --cti)")
    demo.add_argument("--model", help="camera model, partial match (with --cti)")
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
        type=_positive_float,
        default=40.0,
        help="period of the simulated line's pulses (default 40 ms)",
    )
    plc = demo.add_mutually_exclusive_group()
    plc.add_argument(
        "--plc",
        type=_host_port,
        metavar="HOST:PORT",
        help="a real PLC (default: an embedded Modbus TCP server on 127.0.0.1)",
    )
    plc.add_argument("--simulate", action="store_true", help="log the PLC writes instead")
    demo.add_argument(
        "--out",
        type=_picture_path,
        default="vantix-demo.png",
        help="picture to write (PNG, or another image type by its extension)",
    )
    demo.set_defaults(command=_demo)

    devices = commands.add_parser("devices", help="list the cameras the GenTL producers see")
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
    devices.set_defaults(command=_devices)

    test = commands.add_parser("plc-test", help="check the Modbus TCP link to a PLC")
    test.add_argument("--host", required=True)
    test.add_argument("--port", type=_tcp_port, default=502)
    test.add_argument("--unit", type=_unit_id, default=1, help="Modbus unit id (default 1)")
    test.set_defaults(command=_plc_test)

    serve = commands.add_parser(
        "sim-camera", help="serve the simulated cameras as GigE Vision devices on the network"
    )
    which = serve.add_mutually_exclusive_group(required=True)
    which.add_argument(
        "--camera", choices=sorted(SIMULATED_CAMERAS), help="one preset's default camera"
    )
    which.add_argument(
        "--config", type=_config_file, help="the simulator's JSON configuration (its cameras)"
    )
    serve.add_argument(
        "--address",
        type=_ipv4,
        required=True,
        help="IPv4 address of the first camera; the next ones take the following addresses",
    )
    serve.add_argument("--seconds", type=_positive_float, help="stop after this long")
    serve.add_argument(
        "--no-resend", action="store_true", help="do not offer packet resend (PACKETRESEND)"
    )
    serve.add_argument(
        "--loss",
        type=_percent,
        default=0.0,
        help="drop this percentage of stream packets (and reorder and duplicate some)",
    )
    serve.add_argument(
        "--plain-xml", action="store_true", help="serve the GenICam document unzipped"
    )
    serve.add_argument(
        "--link-mbps",
        type=_int_in(0),
        default=1000,
        help="pace the stream as a link of this many Mbit/s would carry it "
        "(default 1000, a gigabit link; 0: as fast as the host sends)",
    )
    serve.set_defaults(command=_sim_camera)
    return parser


# Everything is checked while parsing, so a mistake costs no demo run.


def _int_in(low: int, high: int | None = None):
    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
        if value < low or (high is not None and value > high):
            raise argparse.ArgumentTypeError(
                f"must be at least {low}" if high is None else f"must be {low}..{high}"
            )
        return value

    return parse


_positive = _int_in(1)
_non_negative = _int_in(0)
_tcp_port = _int_in(1, 65535)
_unit_id = _int_in(0, 255)


def _positive_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None
    if not (math.isfinite(value) and value > 0):
        raise argparse.ArgumentTypeError("must be a number above 0")
    return value


def _percent(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None
    if not (math.isfinite(value) and 0 <= value <= 100):
        raise argparse.ArgumentTypeError("must be 0..100")
    return value


def _ipv4(text: str) -> str:
    try:
        address = ipaddress.IPv4Address(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected an IPv4 address, got {text!r}") from None
    if address.is_multicast or address.is_unspecified or str(address).endswith(".255"):
        raise argparse.ArgumentTypeError(f"{text} cannot be a camera's address")
    return str(address)


def _config_file(text: str) -> str:
    if not os.path.isfile(text):
        raise argparse.ArgumentTypeError(f"{text} is not a file")
    return os.path.abspath(text)


def _host_port(text: str) -> tuple[str, int]:
    host, sep, port = text.rpartition(":")
    if not sep or not host or not port.isdigit():
        raise argparse.ArgumentTypeError("expected HOST:PORT, e.g. 192.0.2.10:502")
    return host, _tcp_port(port)


IMAGE_EXTENSIONS = (".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff")


def _picture_path(text: str) -> str:
    folder = os.path.dirname(text) or "."
    if os.path.isdir(text):
        raise argparse.ArgumentTypeError(f"{text} is a folder, not a picture file")
    if not os.path.isdir(folder):
        raise argparse.ArgumentTypeError(f"folder {folder} does not exist")
    if os.path.splitext(text)[1].lower() not in IMAGE_EXTENSIONS:
        raise argparse.ArgumentTypeError(
            f"{text} needs an image extension: " + ", ".join(IMAGE_EXTENSIONS)
        )
    return text


def _demo(args: argparse.Namespace) -> int:
    from vantix.demo import pipeline

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
        print("error: --network serves the simulated camera; it takes no --cti", file=sys.stderr)
        return EXIT_USAGE
    if options.train >= options.frames:
        print("error: --frames must be larger than --train", file=sys.stderr)
        return EXIT_USAGE
    progress = ProgressBar(options.frames, "frames")
    try:
        with _stop_at_the_next_frame() as stop:
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
    progress.finish()
    print(_summary_table(summary))
    return EXIT_OK


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

    if args.sim:
        from vantix import sim

        args.cti = sim.producer_path()
        print(f"simulated cameras (vantix GenTL simulator {args.cti})")
    elif args.gev:
        from vantix import gev

        args.cti = gev.producer_path()
        print(f"GigE Vision cameras (vantix GigE Vision producer {args.cti})")
    result = enumerate_devices(args.cti) if args.cti else enumerate_devices()
    devices = result["devices"]
    if devices:
        columns = ("index", "vendor", "model", "serial_number", "tl_type", "display_name")
        rows = [columns] + [tuple(str(d.get(c)) for c in columns) for d in devices]
        widths = [max(len(r[i]) for r in rows) for i in range(len(columns))]
        for n, row in enumerate(rows):
            print("  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip())
            if n == 0:
                print("  ".join("-" * w for w in widths))
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
