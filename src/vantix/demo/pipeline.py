"""The road of a frame, end to end: camera -> feature bank -> verdict -> PLC.

The first `train` frames build a FeatureBank of good samples; every later
frame is scored against it and judged, and every result goes through
PlcLinkSink.send. A heartbeat is written every `heartbeat_every` results from
the same thread (the sink is not thread-safe). Every `defect_every`-th judged
frame gets a synthetic blemish, so that NG verdicts appear.
"""

from __future__ import annotations

import contextlib
import select
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from vantix import sim
from vantix.demo import inspection
from vantix.inspection.modules.anomaly.feature_bank import FeatureBank
from vantix.io.camera.base import CameraError, TriggerMode
from vantix.io.camera.gentl_camera import GentlCamera
from vantix.io.sink.plc_link import PlcLinkSink
from vantix.schemas.common import InspectionResult, Verdict
from vantix.sim.modbus import ModbusServer

RESULT_REGISTERS = {"verdict": 100, "score": 101, "sequence": 102, "product": 103}
HEARTBEAT_REGISTER = 110
NETWORK_ADDRESS = "127.0.0.2"  # where --network serves the simulated camera
SERVER_START_S = 20.0


@dataclass
class Options:
    frames: int = 60
    train: int = 16
    threshold: float = 8.0
    defect_every: int = 5
    heartbeat_every: int = 5
    camera: str = "bayer12"  # a simulated camera, unless cti is given
    cti: str | None = None  # a real producer
    network: bool = False  # the simulated camera over GigE Vision (sim-camera)
    serial: str | None = None
    model: str | None = None
    pixel_format: str | None = None  # None: the simulated camera's demo format
    trigger: TriggerMode | None = None  # None: hardware on the simulator, else software
    line_period_ms: float = 40.0  # the simulated line pulses like an encoder
    frame_wait_s: float = 2.0  # longest wait for one frame
    plc: tuple[str, int] | None = None  # a real PLC; None: an embedded server
    simulate: bool = False  # the sink in log-only simulation mode
    out: str = "vantix-demo.png"
    seed: int = 0


@dataclass
class Summary:
    frames: int = 0
    timeouts: int = 0
    seconds: float = 0.0
    verdicts: dict[str, int] = field(default_factory=lambda: {v.value: 0 for v in Verdict})
    last_sequence: int = 0
    registers: dict[str, int | None] | None = None
    plc: str = ""
    camera: dict | None = None
    pixel_format: str = ""
    trigger: str = ""
    picture: str | None = None


class DemoError(Exception):
    """An operator problem with a message to show; `kind` is "camera" or "plc"."""

    def __init__(self, kind: str, message: str) -> None:
        super().__init__(message)
        self.kind = kind


def run(options: Options, progress=None, stop: threading.Event | None = None) -> Summary:
    """Runs the demo; raises DemoError for the usual operator mistakes, and
    KeyboardInterrupt before the next frame once `stop` is set."""
    with contextlib.ExitStack() as stack:
        sink, plc_label = _open_plc(options, stack)
        camera = _open_camera(options, stack)
        summary = _inspect(options, camera, sink, progress, stop or threading.Event())
        summary.plc = plc_label
        summary.camera = dict(camera._device_info)
        summary.pixel_format = camera._node_pixel_format()
        summary.trigger = camera.trigger_mode.value
        if not options.simulate:
            summary.registers = _read_back(sink)
        return summary


def _open_camera(options: Options, stack: contextlib.ExitStack) -> GentlCamera:
    params = _camera_params(options)
    if options.network:
        params["cti_path"] = _serve_on_the_network(options.camera, stack)
    camera = GentlCamera(params)
    simulated = options.cti is None
    camera.set_trigger_mode(
        options.trigger or (TriggerMode.HARDWARE if simulated else TriggerMode.SOFTWARE)
    )
    try:
        camera.open()
    except CameraError as exc:
        raise DemoError("camera", str(exc)) from exc
    stack.callback(camera.close)
    from vantix.commands.camera_choice import check_pixel_format

    try:  # the camera module only warns about a format it could not set
        check_pixel_format(camera, options.pixel_format)
    except CameraError as exc:
        raise DemoError("camera", str(exc)) from exc
    return camera


def _camera_params(options: Options) -> dict[str, Any]:
    """The camera's parameters: a real producer's device as the options
    select it, or a simulated camera whose line pulses like an encoder."""
    params: dict[str, Any] = {
        "timeout_s": options.frame_wait_s,
        "hardware_wait_s": options.frame_wait_s,
    }
    selection: dict[str, Any]
    if options.cti is not None:
        selection = {
            "cti_path": options.cti,
            "serial": options.serial,
            "model": options.model,
            "pixel_format": options.pixel_format,
        }
    else:
        if options.camera not in sim.CAMERAS:
            raise DemoError(
                "camera",
                f"no simulated camera {options.camera!r}: choose one of " + ", ".join(sim.CAMERAS),
            )
        selection = {
            "cti_path": _simulator(),
            "serial": sim.CAMERAS[options.camera],
            "pixel_format": options.pixel_format or sim.PRESETS[options.camera].demo_pixel_format,
            # The same part each time, so good frames look alike; the line
            # pulses like an encoder.
            "features": {
                "SimulationStillScene": True,
                "SimulationLinePulsePeriod": round(options.line_period_ms * 1000),
            },
        }
    params.update((k, v) for k, v in selection.items() if v is not None)
    return params


def _serve_on_the_network(preset: str, stack: contextlib.ExitStack) -> str:
    """Starts the simulated camera as a GigE Vision device (stopped with the
    demo); returns the GigE Vision producer that receives it."""
    from vantix import gev

    errors = stack.enter_context(tempfile.TemporaryFile(mode="w+"))
    server = subprocess.Popen(
        [sys.executable, "-m", "vantix", "sim-camera"]
        + ["--camera", preset, "--address", NETWORK_ADDRESS],
        stdout=subprocess.PIPE,
        stderr=errors,
        text=True,
    )
    stack.callback(_stop, server)
    assert server.stdout is not None
    ready, _, _ = select.select([server.stdout], [], [], SERVER_START_S)
    if not ready or not server.stdout.readline().startswith("serving "):
        server.kill()
        server.wait()
        errors.seek(0)
        reason = errors.read().strip() or f"no answer within {SERVER_START_S:g} s"
        raise DemoError("camera", f"the simulated GigE Vision camera did not start: {reason}")
    try:
        return gev.producer_path()
    except FileNotFoundError as exc:
        raise DemoError("camera", str(exc)) from exc


def _stop(server: subprocess.Popen) -> None:
    server.terminate()
    try:
        server.wait(timeout=5)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()
    if server.stdout:
        server.stdout.close()


def _simulator() -> str:
    try:
        return sim.producer_path()
    except FileNotFoundError as exc:
        raise DemoError("camera", f"{exc} (or point --cti at a real producer)") from exc


def _open_plc(options: Options, stack: contextlib.ExitStack):
    server = None
    if options.plc is not None:
        host, port = options.plc
    elif options.simulate:
        host, port = "127.0.0.1", 502
    else:
        server = stack.enter_context(ModbusServer())
        host, port = server.host, server.port
    sink = PlcLinkSink(
        {
            "host": host,
            "port": port,
            "heartbeat_register": HEARTBEAT_REGISTER,
            "strict_open": True,
            "simulate": options.simulate,
        }
    )
    try:
        sink.open()
    except Exception as exc:  # SinkError: the PLC cannot be reached
        raise DemoError("plc", str(exc)) from exc
    stack.callback(sink.close)
    if options.simulate:
        label = "simulation (log only)"
    elif server is not None:
        label = f"embedded Modbus TCP server {host}:{port}"
    else:
        label = f"{host}:{port}"
    return sink, label


def _inspect(
    options: Options, camera: GentlCamera, sink: PlcLinkSink, progress, stop: threading.Event
) -> Summary:
    rng = np.random.default_rng(options.seed)
    summary = Summary()
    training: list[np.ndarray] = []
    bank: FeatureBank | None = None
    worst: tuple[float, np.ndarray, np.ndarray] | None = None
    judged = 0
    started = time.perf_counter()
    for index in range(options.frames):
        if stop.is_set():
            raise KeyboardInterrupt
        frame = camera.read()
        if progress is not None:
            progress.advance()
        if frame is None:
            summary.timeouts += 1
            continue
        summary.frames += 1
        image = frame.image
        if bank is None:
            training.append(inspection.contrast_features(image))
            if len(training) == options.train:
                bank = FeatureBank.build(training)
            continue
        judged += 1
        if options.defect_every and judged % options.defect_every == 0:
            image = inspection.add_blemish(image, rng)
        zmap = inspection.z_map(bank, inspection.contrast_features(image))
        score = float(zmap.max())
        verdict = Verdict.NG if score > options.threshold else Verdict.OK
        summary.verdicts[verdict.value] += 1
        # The register holds score x 1000: 1000 means "at the threshold".
        result = InspectionResult(verdict=verdict, score=score / options.threshold)
        sink.send(result, {"product_id": f"demo-{index:05d}"})
        summary.last_sequence = judged & 0xFFFF  # the sink numbers results from 1
        if judged % options.heartbeat_every == 0:
            sink.write_heartbeat(judged // options.heartbeat_every)
        if worst is None or score >= worst[0]:
            worst = (score, image, zmap)
    summary.seconds = time.perf_counter() - started
    if worst is not None and options.out:
        from vantix.demo.report import side_by_side, write_png

        write_png(options.out, side_by_side(worst[1], worst[2], options.threshold))
        summary.picture = options.out
    return summary


def _read_back(sink: PlcLinkSink) -> dict[str, int | None]:
    """The registers as the PLC holds them, read over a connection of its own."""
    from pymodbus.client import ModbusTcpClient

    from vantix.io._pymodbus_compat import unit

    client = ModbusTcpClient(host=sink.host, port=sink.port, timeout=2.0)
    values: dict[str, int | None] = {}
    try:
        client.connect()
        for name, address in {**RESULT_REGISTERS, "heartbeat": HEARTBEAT_REGISTER}.items():
            unit_keywords: dict[str, Any] = unit(sink.unit_id)
            reply = client.read_holding_registers(address, count=1, **unit_keywords)
            values[f"{name} [{address}]"] = None if reply.isError() else int(reply.registers[0])
    finally:
        client.close()
    return values
