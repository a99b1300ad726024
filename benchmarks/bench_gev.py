"""Receive rate and CPU time a frame of our GigE Vision producer
(vantix.gev, through harvesters' fetch loop as users run it: fetch(), the
buffer queued back at once) beside Aravis's receiver (tools/aravis_client.py
stream) on the same stream: Aravis's fake camera on the loopback at
2048x2048 Mono8, 25 frames/s (what the fake sustains on a 2-core machine;
it sends each frame as one burst), packets of 1400 bytes.

Aravis runs twice: through a UDP socket with a 4 MiB receive buffer (the
kind of receiver ours is; with Linux's default buffer it loses most of each
burst) and, as root, through its packet socket ring. The receivers take
turns for ROUNDS rounds of FRAMES frames, each going first in half the
rounds; figures are medians of the rounds, measured from a round's first
frame to its last so that connecting weighs on none. CPU time is the whole
receiving process's (all its threads). Printed: frames per second, complete
and incomplete frames, CPU milliseconds a frame, and our figures over each
Aravis receiver's (rate: higher is better; CPU: lower is better). Our side
runs when the producer is built. As root everything runs in a network
namespace of its own.

    python benchmarks/bench_gev.py [--frames 100] [--rounds 3] [--fps 25] [--packet-size 1400]
"""

from __future__ import annotations

import os

# numpy's OpenBLAS threads spin beside ours and would be counted as ours.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import argparse  # noqa: E402
import statistics  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402
from pathlib import Path  # noqa: E402

sys.path.append(str(Path(__file__).parents[1] / "tools"))
import gev_bench  # noqa: E402

SIZE = (2048, 2048)
SOCKET_BUFFER = 4 << 20


def aravis_round(camera: gev_bench.FakeCamera, args, socket: str) -> dict:
    got = gev_bench.run_client(
        "stream", camera.address, "--frames", str(args.frames), "--timeout", "5",
        "--packet-size", str(args.packet_size), "--socket", socket,
        "--socket-buffer", str(SOCKET_BUFFER), limit=args.frames / args.fps * 4 + 30,
    )  # fmt: skip
    return {
        "fps": got["fps"],
        "cpu": got["cpu_s_per_frame"],
        "complete": got["frames"]["complete"],
        "incomplete": got["frames"]["incomplete"] + got["frames"]["failed"],
    }


def ours_round(harvester, camera: gev_bench.FakeCamera, args) -> dict:
    from harvesters.core import Callback, ImageAcquirer

    class Count(Callback):
        calls = 0

        def emit(self, context=None):
            self.calls += 1

    harvester.update()
    ia = harvester.create({"serial_number": camera.serial})
    try:
        incomplete = Count()
        ia.add_callback(ImageAcquirer.Events.INCOMPLETE_BUFFER, incomplete)
        ia.num_buffers = 16
        ia.start()
        first = last = None
        for _ in range(args.frames):
            with ia.fetch(timeout=5.0):
                pass
            last = (time.perf_counter(), time.process_time())
            first = first or last
    finally:
        ia.destroy()
    wall, cpu, intervals = last[0] - first[0], last[1] - first[1], args.frames - 1
    # What our producer wrote into the stream channel's packet size register.
    register = gev_bench.run_client("get", camera.address, "0x0D04")["features"]["0x0D04"]
    return {
        "fps": intervals / wall,
        "cpu": cpu / intervals,
        "complete": args.frames,
        "incomplete": incomplete.calls,
        "packet_size": register & 0xFFFF,
    }


def summary(rounds: list[dict]) -> dict:
    return {
        "fps": statistics.median(r["fps"] for r in rounds),
        "cpu": statistics.median(r["cpu"] for r in rounds),
        "complete": sum(r["complete"] for r in rounds),
        "incomplete": sum(r["incomplete"] for r in rounds),
    }


def producer_or_reason() -> tuple[str | None, str]:
    from vantix import gev

    try:
        return gev.producer_path(), ""
    except FileNotFoundError as exc:
        return None, str(exc)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--frames", type=int, default=100, help="frames per receiver and round")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--fps", type=float, default=25.0, help="the fake's frame rate")
    parser.add_argument("--packet-size", type=int, default=1400)
    args = parser.parse_args()
    if missing := gev_bench.missing_parts():
        raise SystemExit(f"bench incomplete ({', '.join(missing)}): {gev_bench.INSTALL}")
    producer, reason = producer_or_reason()
    receivers = ["udp"] + (["auto"] if os.geteuid() == 0 else [])
    names = {"udp": "Aravis, UDP socket", "auto": "Aravis, packet socket", "ours": "vantix.gev"}
    results: dict[str, list[dict]] = {name: [] for name in receivers + ["ours"] * bool(producer)}
    with gev_bench.private_loopback():
        camera = gev_bench.start_fake(f"VXB{os.getpid() % 100000:05d}")
        harvester = None
        try:
            width, height = SIZE
            gev_bench.run_client(
                "set", camera.address, f"Width={width}", f"Height={height}",
                "PixelFormat=Mono8", f"AcquisitionFrameRate={args.fps}",
            )  # fmt: skip
            if producer:
                from harvesters.core import Harvester

                harvester = Harvester()
                harvester.add_file(producer)
            order = list(results)
            for turn in range(args.rounds):
                for name in order if turn % 2 == 0 else order[::-1]:
                    if name == "ours":
                        results[name].append(ours_round(harvester, camera, args))
                    else:
                        results[name].append(aravis_round(camera, args, name))
        finally:
            if harvester is not None:
                harvester.reset()
            camera.kill()
    print(
        f"receive at {width}x{height} Mono8, {args.fps:g} frames/s from the fake, packets of "
        f"{args.packet_size} bytes, {args.rounds} rounds of {args.frames} frames per receiver"
    )
    figures = {name: summary(rounds) for name, rounds in results.items()}
    for name, f in figures.items():
        print(
            f"  {names[name]:<22} {f['fps']:6.1f} frames/s  {f['cpu'] * 1e3:6.2f} ms CPU a frame  "
            f"{f['complete']} complete, {f['incomplete']} incomplete"
        )
    if "ours" not in figures:
        print(f"  {names['ours']:<22} not measured: {reason}")
        return
    sizes = sorted({r["packet_size"] for r in results["ours"]})
    print(f"  (vantix.gev received packets of {', '.join(map(str, sizes))} bytes)")
    for name in receivers:
        ours, theirs = figures["ours"], figures[name]
        print(
            f"  vantix.gev / {names[name]:<22} rate {ours['fps'] / theirs['fps']:.3f}   "
            f"CPU a frame {ours['cpu'] / theirs['cpu']:.3f}"
        )


if __name__ == "__main__":
    main()
