"""Soak run of GentlCamera on the simulated producer (vantix.sim), camera
VXS-M12-001 at 2448x2048 Mono12p, software trigger, 5 acquisition buffers.

Phase 1: one camera, N receptions (_receive with a 2 s time-out). With a
handful of buffers, one that was not given back would stall the stream
within a few frames, so "no time-outs" means every buffer came back.
Phase 2: M open/close cycles of a camera that receives 3 frames each time.
Phase 3, for comparison: the same cycles made with harvesters directly, as
its documentation shows (create, start, fetch, stop, destroy, reset).
harvesters' ImageAcquirer.destroy() leaves the acquirer, and genicam's
chunk adapter with the remote node map, in the weakref.finalize registry for
the life of the process; the camera runs those finalizers when it closes.

Printed for each phase, after a warm-up (libraries loaded; glibc's heap
settles within about 50 open/close cycles, growing by some 2.5 MiB of free
memory once, then stays flat): its count (and time-outs), open file
descriptors, resident memory (RSS) and the bytes native code holds from
malloc, before and after; after phase 2, RSS once malloc_trim has given
the allocator's free pages back, beside RSS before phase 1.
Targets: no time-out, fds unchanged, RSS growth under 2 MB in each phase.

    python tools/camera_soak.py [--receptions 10000] [--cycles 100]
"""

from __future__ import annotations

import argparse
import time

from sim_camera import MONO12_SERIAL, camera, change, settled, sim_config, trimmed_rss_mib

from vantix import sim


def receptions(count: int) -> str:
    cam = camera()
    cam.open()
    timeouts = 0
    try:
        for _ in range(count):
            if cam._receive(2.0) is None:
                timeouts += 1
    finally:
        cam.close()
    return f"{count} receptions, {timeouts} time-outs"


def cycles(count: int, frames: int = 3) -> str:
    for _ in range(count):
        cam = camera()
        cam.open()
        try:
            for _ in range(frames):
                if cam._receive(2.0) is None:
                    raise SystemExit("time-out after re-open")
        finally:
            cam.close()
    return f"{count} open/close cycles"


def harvesters_cycles(count: int, frames: int = 3) -> str:
    from harvesters.core import Harvester

    for _ in range(count):
        harvester = Harvester()
        harvester.add_file(sim.producer_path())
        harvester.update()
        acquirer = harvester.create({"serial_number": MONO12_SERIAL})
        acquirer.num_buffers = 5
        nodes = acquirer.remote_device.node_map
        nodes.PixelFormat.value = "Mono12p"
        nodes.TriggerMode.value = "On"
        acquirer.start()
        for _ in range(frames):
            nodes.TriggerSoftware.execute()
            with acquirer.fetch(timeout=2.0):
                pass
        acquirer.stop()
        acquirer.destroy()
        harvester.reset()
    return f"{count} harvesters create...destroy cycles"


def measured(work) -> None:
    before, started = settled(), time.perf_counter()
    result = work()
    seconds = time.perf_counter() - started
    print(f"{result} in {seconds:.1f} s; {change(before, settled())}", flush=True)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--receptions", type=int, default=10_000)
    parser.add_argument("--cycles", type=int, default=100)
    args = parser.parse_args()

    with sim_config([{"preset": "mono12"}]):
        receptions(300)  # warm-up
        cycles(60)
        harvesters_cycles(3)
        start = settled()["rss"]
        measured(lambda: receptions(args.receptions))
        measured(lambda: cycles(args.cycles))
        print(
            f"after both phases, RSS with the allocator's free pages given back: "
            f"{trimmed_rss_mib():.1f} MiB (before them: {start:.1f} MiB)"
        )
        measured(lambda: harvesters_cycles(args.cycles))


if __name__ == "__main__":
    main()
