"""Stops a camera while another thread reads from it, as a child process of
the tests, so that a crash or a hang fails a test instead of the run.

    python reading_child.py PRODUCER ACTION MODE [CYCLES]

PRODUCER is the simulated camera's producer file; under hardware trigger its
line pulses every 20 ms, like an encoder.

ACTION "close": each cycle opens the camera in MODE, lets a reader thread
read, and closes it from the main thread. ACTION "retrigger": the camera
stays open and the main thread switches the trigger mode, away from MODE and
back in turn, while the reader reads. ACTION "nested": the reader's own
conversion closes the camera (as a signal handler on that thread would).
Exits 0 when every cycle ended with the reader done, nothing left open, and
no error but "call open() first"; prints what went wrong otherwise.
"""

from __future__ import annotations

import sys
import threading
import time

from vantix import sim
from vantix.io.camera import gentl_camera
from vantix.io.camera.base import CameraError, TriggerMode


class ClosingCamera(gentl_camera.GentlCamera):
    """Closes itself from inside its own reception."""

    def _to_bgr(self, component, pixel_format):
        self.close()
        return super()._to_bgr(component, pixel_format)


def read_until(cam, stop: threading.Event, errors: list[str]) -> None:
    while not stop.is_set():
        try:
            cam.read(0.5)
        except CameraError as exc:
            if "call open() first" not in str(exc):
                errors.append(repr(exc))
            time.sleep(0.001)  # closed: wait for the main thread to end the cycle
        except Exception as exc:  # noqa: BLE001 - reported by the parent
            errors.append(repr(exc))


def main(cti: str, action: str, mode: TriggerMode, cycles: int) -> int:
    cls = ClosingCamera if action == "nested" else gentl_camera.GentlCamera
    cam = cls(
        {
            "cti_path": cti,
            "serial": sim.CAMERAS["mono12"],
            "timeout_s": 0.5,
            "width": 256,
            "height": 64,
            "features": {"SimulationLinePulsePeriod": 20_000},
        }
    )
    other = next(m for m in TriggerMode if m is not mode)
    errors: list[str] = []
    for cycle in range(cycles):
        if action != "retrigger" or cycle == 0:
            cam.set_trigger_mode(mode)
            cam.open()
        stop = threading.Event()
        reader = threading.Thread(target=read_until, args=(cam, stop, errors))
        reader.start()
        time.sleep(0.05)
        if action == "close":
            cam.close()
        elif action == "retrigger":
            cam.set_trigger_mode(other if cycle % 2 == 0 else mode)
        else:  # a frame, and with it the close, comes within a few periods
            closes_by = time.monotonic() + 5
            while cam._opened and time.monotonic() < closes_by:
                time.sleep(0.005)
        stop.set()
        ends = time.monotonic() + 10
        while reader.is_alive() and time.monotonic() < ends:
            cam.cancel_wait()  # an open camera under hardware trigger waits on
            reader.join(0.1)
        if reader.is_alive():
            print(f"cycle {cycle}: the reader is still inside read()")
            return 1
        if action != "retrigger" and (cam._ia is not None or gentl_camera._SHARED_HARVESTERS):
            print(f"cycle {cycle}: the camera was not released")
            return 1
    cam.close()
    if errors:
        print("\n".join(errors))
        return 1
    return 0


if __name__ == "__main__":
    cycles = int(sys.argv[4]) if len(sys.argv) > 4 else 20
    sys.exit(main(sys.argv[1], sys.argv[2], TriggerMode(sys.argv[3]), cycles))
