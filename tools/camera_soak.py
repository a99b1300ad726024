"""Soak run of GentlCamera on the simulated GenTL producer.

Phase 1: one camera, N receptions in software-trigger mode. With a handful
of acquisition buffers, a buffer that was not given back would stall the
stream within a few frames, so "no time-outs" means every buffer came back.
Phase 2: M open/close cycles of a camera that receives a few frames each time,
beside the same cycles made with harvesters directly (the producer and the
GenICam libraries keep some memory per device open of their own).

Printed: receptions, time-outs, open/close cycles, and open file descriptors
and resident memory before and after each phase (after a warm-up).

    python tools/camera_soak.py [--receptions 10000] [--cycles 100]
"""

from __future__ import annotations

import argparse
import os
import time

from vantix.demo.simulator import find_simulator
from vantix.io.camera.base import TriggerMode
from vantix.io.camera.gentl_camera import GentlCamera


def open_fds() -> int:
    return len(os.listdir("/proc/self/fd"))


def rss_kib() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def make_camera(cti: str) -> GentlCamera:
    camera = GentlCamera({"cti_path": cti, "serial": "SN_InterfaceA_1", "num_buffers": 5})
    camera.set_trigger_mode(TriggerMode.SOFTWARE)
    return camera


def receptions(cti: str, count: int) -> tuple[int, int]:
    camera = make_camera(cti)
    camera.open()
    timeouts = 0
    try:
        for _ in range(count):
            if camera._receive(2.0) is None:
                timeouts += 1
    finally:
        camera.close()
    return count, timeouts


def cycles(cti: str, count: int, frames: int = 3) -> int:
    for _ in range(count):
        camera = make_camera(cti)
        camera.open()
        try:
            for _ in range(frames):
                assert camera._receive(2.0) is not None, "time-out after re-open"
        finally:
            camera.close()
    return count


def raw_cycles(cti: str, count: int, frames: int = 3) -> int:
    from harvesters.core import Harvester

    for _ in range(count):
        harvester = Harvester()
        harvester.add_file(cti)
        harvester.update()
        acquirer = harvester.create(1)
        acquirer.num_buffers = 5
        nodes = acquirer.remote_device.node_map
        nodes.TriggerMode.value = "On"
        acquirer.start()
        for _ in range(frames):
            nodes.TriggerSoftware.execute()
            with acquirer.fetch(timeout=2.0):
                pass
        acquirer.stop()
        acquirer.destroy()
        harvester.reset()
    return count


def measured(label: str, work) -> None:
    fds, rss, started = open_fds(), rss_kib(), time.perf_counter()
    result = work()
    seconds = time.perf_counter() - started
    print(f"{label}: {result} in {seconds:.1f} s; open fds {fds} -> {open_fds()}, "
          f"RSS {rss / 1024:.1f} -> {rss_kib() / 1024:.1f} MiB ({(rss_kib() - rss) / 1024:+.2f} MiB)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--receptions", type=int, default=10_000)
    parser.add_argument("--cycles", type=int, default=100)
    args = parser.parse_args()
    cti = find_simulator()
    if cti is None:
        raise SystemExit("needs genicam==1.5.0 (its simulated producer)")

    receptions(cti, 1000)  # warm-up: libraries loaded, caches and pools filled
    cycles(cti, 3)
    raw_cycles(cti, 3)
    measured("receptions (done, time-outs)", lambda: receptions(cti, args.receptions))
    measured("open/close cycles", lambda: cycles(cti, args.cycles))
    measured("the same cycles with harvesters directly", lambda: raw_cycles(cti, args.cycles))


if __name__ == "__main__":
    main()
