"""Frame reception of GentlCamera._receive on the simulated producer
(vantix.sim), beside a bare harvesters fetch loop on the same acquirer that
applies the same conversion (GentlCamera._to_bgr).

Cameras: the mono12 device at 2448x2048 Mono12p, and a bayer12 device
configured (VANTIX_SIM_CONFIG) with a 2448x2048 sensor, at BayerRG12p.
Each runs free with the frame rate disabled and a 10 us exposure, so a
frame is rendered as soon as a buffer is queued and the consumer sets the
pace. The two loops take turns for ROUNDS rounds of FRAMES frames each,
each going first in half the rounds, so that drift of the machine's load
hits both alike. Printed per format: frames per second of each loop (from
its median round), their ratio (target >= 0.95) and the share of the
conversion in the bare loop's time (the rest is harvesters' fetch, which
unpacks the 12p samples to 16 bits in numpy, and the simulator; _receive
reads the raw buffer and leaves the unpacking to the conversion).

    python benchmarks/bench_receive.py [--frames 50] [--rounds 8]
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import tempfile
import time

from vantix import sim
from vantix.io.camera.gentl_camera import GentlCamera

SIZE = {"width": 2448, "height": 2048}
CASES = (("VXS-M12-001", "Mono12p"), ("VXS-BENCH-BAYER", "BayerRG12p"))


# Both loops keep their latest image until the next one replaces it, as a
# pipeline does, and drop harvesters' buffer object once it went back, as
# _receive does: with 10-15 MB blocks, which objects live when decides
# whether glibc hands freed pages back to the system, and a loop that dropped
# each image at once would pay 1,000-2,400 page faults a frame more or less
# than the other for that alone.


def bare_loop(cam: GentlCamera, frames: int) -> tuple[float, float]:
    """Wall time of `frames` fetches with the conversion, and the part spent
    converting."""
    ia, fmt = cam._ia, cam._node_pixel_format()
    converting, image = 0.0, None
    started = time.perf_counter()
    for _ in range(frames):
        with ia.fetch(timeout=5.0) as buffer:
            before = time.perf_counter()
            image = cam._to_bgr(buffer.payload.components[0], fmt)
            converting += time.perf_counter() - before
        del buffer
    del image
    return time.perf_counter() - started, converting


def receive_loop(cam: GentlCamera, frames: int) -> float:
    received = None
    started = time.perf_counter()
    for _ in range(frames):
        received = cam._receive(5.0)
        if received is None:
            raise SystemExit("time-out")
    del received
    return time.perf_counter() - started


def case(serial: str, pixel_format: str, frames: int, rounds: int) -> None:
    cam = GentlCamera(
        {
            "cti_path": sim.producer_path(),
            "serial": serial,
            "pixel_format": pixel_format,
            "exposure_us": 10,
            "num_buffers": 4,
        }
    )
    cam.open()
    try:
        cam._ia.stop()  # the frame rate enable is locked while acquiring
        cam._set_node("AcquisitionFrameRateEnable", False)
        cam._ia.start()
        receive_loop(cam, 5)  # warm-up
        bare, receiving, converting = [], [], 0.0
        for turn in range(rounds):
            if turn % 2:  # each loop goes first in half the rounds
                receiving.append(receive_loop(cam, frames))
            seconds, conversion = bare_loop(cam, frames)
            bare.append(seconds)
            converting += conversion
            if not turn % 2:
                receiving.append(receive_loop(cam, frames))
    finally:
        cam.close()
    bare_s, receiving_s = statistics.median(bare) / frames, statistics.median(receiving) / frames
    ratio = bare_s / receiving_s
    print(
        f"  {pixel_format:<11} _receive {1 / receiving_s:6.1f} frames/s   bare harvesters fetch + "
        f"same conversion {1 / bare_s:6.1f} frames/s   ratio {ratio:.3f} (target >= 0.95: "
        f"{'met' if ratio >= 0.95 else 'MISSED'})   conversion "
        f"{converting / frames / rounds * 1e3:.1f} "
        f"ms a frame, {converting / sum(bare):.0%} of the bare loop"
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--frames", type=int, default=50, help="frames per loop and round")
    parser.add_argument("--rounds", type=int, default=8)
    args = parser.parse_args()
    devices = [{"preset": "mono12"}, {"preset": "bayer12", "serial": CASES[1][0], **SIZE}]
    with tempfile.TemporaryDirectory() as folder:
        config = os.path.join(folder, "bench.json")
        with open(config, "w") as file:
            json.dump({"devices": devices}, file)
        os.environ[sim.CONFIG_VARIABLE] = config
        print(
            f"reception at {SIZE['width']}x{SIZE['height']}, {args.rounds} rounds of "
            f"{args.frames} frames per loop"
        )
        for serial, pixel_format in CASES:
            case(serial, pixel_format, args.frames, args.rounds)


if __name__ == "__main__":
    main()
