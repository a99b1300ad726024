"""Two cameras received at once on the simulated producer (vantix.sim).

Two mono12 devices (VXS-TWO-A, VXS-TWO-B, configured through
VANTIX_SIM_CONFIG), each 2448x2048 Mono12p free-running at 30 frames/s
with 16 acquisition buffers, are read with GentlCamera.read() on one thread
each for SECONDS. A frame is lost when the device frame ids of a camera
are not consecutive (the simulator drops a frame when no buffer is free).

Printed per camera: frames, frames lost, time-outs, and the CPU time of
its receiving thread per frame with the share of the conversion to BGR
(GentlCamera._to_bgr; the rest is mostly harvesters' fetch, which unpacks
Mono12p to 16-bit samples in numpy); then the CPU time of the whole process
per frame (the simulator's rendering threads included). Target: no frame
lost.

    python tools/camera_two_streams.py [--seconds 60] [--buffers 16]
"""

from __future__ import annotations

import argparse
import threading
import time
from typing import cast

from sim_camera import camera, sim_config

from vantix.io.camera.base import TriggerMode
from vantix.io.camera.gentl_camera import GentlCamera

SERIALS = ("VXS-TWO-A", "VXS-TWO-B")
RATE = 30.0


class TimedConversion(GentlCamera):
    """Adds up the thread CPU time spent in the conversion to BGR."""

    conversion_s = 0.0

    def _to_bgr(self, component, pixel_format):
        started = time.thread_time()
        try:
            return super()._to_bgr(component, pixel_format)
        finally:
            self.conversion_s += time.thread_time() - started


class Stream:
    """What one receiving thread saw."""

    def __init__(self, cam: TimedConversion) -> None:
        self.cam = cam
        self.ids: list[int] = []
        self.timeouts = 0
        self.cpu_s = 0.0
        self.error: BaseException | None = None

    def run(self, seconds: float) -> None:
        try:
            ends = time.monotonic() + seconds
            started = time.thread_time()
            while time.monotonic() < ends:
                frame = self.cam.read(2.0)
                if frame is None:
                    self.timeouts += 1
                else:
                    self.ids.append(frame.meta["device_frame_id"])
            self.cpu_s = time.thread_time() - started
        except BaseException as exc:  # noqa: BLE001 - reported by the main thread
            self.error = exc

    def lost(self) -> int:
        return sum(b - a - 1 for a, b in zip(self.ids, self.ids[1:]))

    def report(self, serial: str) -> str:
        n = max(len(self.ids), 1)
        conversion = self.cam.conversion_s
        return (
            f"{serial}: {len(self.ids)} frames (ids {self.ids[0]}..{self.ids[-1]}), "
            f"{self.lost()} lost, {self.timeouts} time-outs; thread CPU per frame "
            f"{self.cpu_s / n * 1e3:.1f} ms, of which conversion to BGR "
            f"{conversion / n * 1e3:.1f} ms ({conversion / max(self.cpu_s, 1e-9):.0%})"
        )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--buffers", type=int, default=16)
    args = parser.parse_args()

    devices = [{"preset": "mono12", "serial": serial} for serial in SERIALS]
    with sim_config(devices):
        cams = [
            cast(
                TimedConversion,
                camera(
                    serial,
                    TriggerMode.CONTINUOUS,
                    TimedConversion,
                    fps=RATE,
                    num_buffers=args.buffers,
                ),
            )
            for serial in SERIALS
        ]
        for cam in cams:
            cam.open()
        streams = [Stream(cam) for cam in cams]
        threads = [threading.Thread(target=s.run, args=(args.seconds,)) for s in streams]
        wall, cpu = time.monotonic(), time.process_time()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        wall, cpu = time.monotonic() - wall, time.process_time() - cpu
        for cam in cams:
            cam.close()

    print(
        f"two cameras, 2448x2048 Mono12p at {RATE:.0f} frames/s each, {args.buffers} buffers, "
        f"{wall:.0f} s"
    )
    for serial, stream in zip(SERIALS, streams):
        if stream.error is not None:
            raise SystemExit(f"{serial}: reception failed: {stream.error!r}")
        print("  " + stream.report(serial))
    frames = sum(len(s.ids) for s in streams)
    print(
        f"  process CPU {cpu:.1f} s for {frames} frames: {cpu / max(frames, 1) * 1e3:.1f} ms "
        f"per frame ({cpu / wall:.2f} cores); frames lost in all: {sum(s.lost() for s in streams)}"
    )


if __name__ == "__main__":
    main()
