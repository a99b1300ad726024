"""Frames per second of GentlCamera._receive on the simulated GenTL producer,
beside a plain harvesters fetch loop doing the same conversion.

Both loops run on the same opened camera in continuous mode, in alternating
rounds; the best round of each is reported with the ratio (target >= 0.95).

    python benchmarks/bench_receive.py [--frames 500] [--rounds 5]
"""

from __future__ import annotations

import argparse
import time

from vantix.demo.simulator import find_simulator
from vantix.io.camera.gentl_camera import GentlCamera

DEVICES = {"SN_InterfaceA_0": "Mono8 512x512", "SN_InterfaceA_1": "RGB8 768x572"}


def receive_round(camera: GentlCamera, frames: int) -> float:
    started = time.perf_counter()
    for _ in range(frames):
        camera._receive(5.0)
    return frames / (time.perf_counter() - started)


def raw_round(camera: GentlCamera, frames: int) -> float:
    acquirer, fmt = camera._ia, camera._node_pixel_format()
    started = time.perf_counter()
    for _ in range(frames):
        with acquirer.fetch(timeout=5.0) as buffer:
            camera._to_bgr(buffer.payload.components[0], fmt)
    return frames / (time.perf_counter() - started)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--frames", type=int, default=500)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    cti = find_simulator()
    if cti is None:
        raise SystemExit("needs genicam==1.5.0 (its simulated producer)")
    for serial, label in DEVICES.items():
        camera = GentlCamera({"cti_path": cti, "serial": serial})
        camera.open()
        try:
            receive_round(camera, 50)
            best_raw = best_receive = 0.0
            for _ in range(args.rounds):
                best_raw = max(best_raw, raw_round(camera, args.frames))
                best_receive = max(best_receive, receive_round(camera, args.frames))
        finally:
            camera.close()
        print(f"{label}: _receive {best_receive:7.1f} frames/s, raw fetch + same conversion "
              f"{best_raw:7.1f} frames/s, ratio {best_receive / best_raw:.3f} "
              f"(best of {args.rounds} rounds of {args.frames})")


if __name__ == "__main__":
    main()
