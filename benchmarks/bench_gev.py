"""Receive rate and CPU time a frame of our GigE Vision producer
(vantix.gev, through harvesters' fetch loop as users run it: fetch(), the
buffer queued back at once) beside Aravis's receiver (tools/aravis_client.py
stream) on the same stream, in two cases:

- Aravis's fake camera on the loopback at 2048x2048 Mono8, 25 frames/s (what
  the fake sustains on a 2-core machine; it sends each frame as one burst),
  packets of 1400 bytes (the fake answers no test packet);
- our simulated camera (`python -m vantix sim-camera --camera mono12`,
  2448x2048) in Mono8 and Mono12p with no frame rate limit, a 100 us
  exposure and no pacing, so as fast as it renders and sends; Aravis's packets
  of 9000 bytes, ours what our producer settles on with test packets.

Aravis runs twice: through a UDP socket with a 4 MiB receive buffer (the
kind of receiver ours is without the right to a packet socket; with Linux's
default buffer it loses most of each burst) and, as root, through its packet
socket ring (as ours then does). The receivers take turns for ROUNDS rounds
of FRAMES frames, each going first in half the rounds; figures are medians of
the rounds, measured from a round's first frame to its last so that
connecting weighs on none. CPU time is the whole receiving process's (all its
threads: for ours harvesters' fetch loop and genicam's calls too, shown
apart as "receiver" for our receiving thread alone). Printed: frames per
second, complete and incomplete frames, CPU milliseconds a frame, the packet
size, and our figures over each Aravis receiver's (rate: higher is better;
CPU: lower is better). Our side runs when the producer is built; the
simulated camera's case when its server is built. As root everything runs in
a network namespace of its own.

    python benchmarks/bench_gev.py [--frames 100] [--rounds 3] [--fps 25] [--packet-size 1400]
                                   [--cases fake,sim-mono8,sim-mono12p]
"""

from __future__ import annotations

import os

# numpy's OpenBLAS threads spin beside ours and would be counted as ours.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import argparse  # noqa: E402
import statistics  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402
from dataclasses import dataclass  # noqa: E402
from pathlib import Path  # noqa: E402

sys.path.append(str(Path(__file__).parents[1] / "tools"))
import gev_bench  # noqa: E402

SOCKET_BUFFER = 4 << 20
SIM_ADDRESS = "127.0.0.2"
# Unpaced, with a short exposure: the device is not what limits the rate.
SIM_LINK_MBPS = 0
# No rate limit, and an exposure too short to bound the rate either.
SIM_FEATURES = ["AcquisitionFrameRateEnable=false", "ExposureTime=100"]
SIM_PACKET_SIZE = 9000  # Aravis's; ours settles by test packets
RECEIVER_THREAD = "vantix gev rx"
NAMES = {"udp": "Aravis, UDP socket", "auto": "Aravis, packet socket", "ours": "vantix.gev"}


@dataclass
class Case:
    """One stream to receive: a camera, its settings, the packet size Aravis asks for."""

    name: str
    address: str
    serial: str
    features: list[str]
    packet_size: int
    frame_limit_s: float  # a generous bound on a frame's time, for the client's limit


def aravis_round(case: Case, args, socket: str) -> dict:
    got = gev_bench.run_client(
        "stream", case.address, "--frames", str(args.frames), "--timeout", "5",
        "--packet-size", str(case.packet_size), "--socket", socket,
        "--socket-buffer", str(SOCKET_BUFFER), limit=args.frames * case.frame_limit_s + 30,
    )  # fmt: skip
    return {
        "fps": got["fps"],
        "cpu": got["cpu_s_per_frame"],
        "complete": got["frames"]["complete"],
        "incomplete": got["frames"]["incomplete"] + got["frames"]["failed"],
        "packet_size": got["packet_size"],
    }


def receiver_cpu_s() -> float:
    """CPU seconds of our receiving thread so far (0 without one)."""
    for thread in Path("/proc/self/task").iterdir():
        try:
            if (thread / "comm").read_text().strip() != RECEIVER_THREAD:
                continue
            fields = (thread / "stat").read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    return 0.0


def ours_round(harvester, case: Case, args) -> dict:
    from harvesters.core import Callback, ImageAcquirer

    class Count(Callback):
        calls = 0

        def emit(self, context=None):
            self.calls += 1

    harvester.update()
    ia = harvester.create({"serial_number": case.serial})
    try:
        incomplete = Count()
        ia.add_callback(ImageAcquirer.Events.INCOMPLETE_BUFFER, incomplete)
        ia.num_buffers = 16
        ia.start()
        first = None
        for _ in range(args.frames):
            with ia.fetch(timeout=5.0):
                pass
            first = first or (time.perf_counter(), time.process_time(), receiver_cpu_s())
        last = (time.perf_counter(), time.process_time(), receiver_cpu_s())
        # What our producer settled on (a camera may reset it once released).
        packet_size = ia.data_streams[0].node_map.StreamPacketSize.value
    finally:
        ia.destroy()
    intervals = args.frames - 1
    return {
        "fps": intervals / (last[0] - first[0]),
        "cpu": (last[1] - first[1]) / intervals,
        "receiver": (last[2] - first[2]) / intervals,
        "complete": args.frames,
        "incomplete": incomplete.calls,
        "packet_size": packet_size,
    }


def summary(rounds: list[dict]) -> dict:
    out = {
        "fps": statistics.median(r["fps"] for r in rounds),
        "cpu": statistics.median(r["cpu"] for r in rounds),
        "complete": sum(r["complete"] for r in rounds),
        "incomplete": sum(r["incomplete"] for r in rounds),
        "packet_size": ", ".join(map(str, sorted({r["packet_size"] for r in rounds}))),
    }
    if "receiver" in rounds[0]:
        out["receiver"] = statistics.median(r["receiver"] for r in rounds)
    return out


def producer_or_reason() -> tuple[str | None, str]:
    from vantix import gev

    try:
        return gev.producer_path(), ""
    except FileNotFoundError as exc:
        return None, str(exc)


def run_case(case: Case, harvester, receivers: list[str], args) -> dict[str, dict]:
    results: dict[str, list[dict]] = {name: [] for name in receivers}
    gev_bench.run_client("set", case.address, *case.features)
    for turn in range(args.rounds):
        for name in receivers if turn % 2 == 0 else receivers[::-1]:
            if name == "ours":
                results[name].append(ours_round(harvester, case, args))
            else:
                results[name].append(aravis_round(case, args, name))
    return {name: summary(rounds) for name, rounds in results.items()}


def report(title: str, figures: dict[str, dict], reason: str) -> None:
    print(title)
    for name, f in figures.items():
        receiver = f" (receiver {f['receiver'] * 1e3:.2f})" if "receiver" in f else ""
        print(
            f"  {NAMES[name]:<22} {f['fps']:6.1f} frames/s  {f['cpu'] * 1e3:6.2f} ms CPU a frame"
            f"{receiver:<18}  {f['complete']} complete, {f['incomplete']} incomplete, "
            f"packets of {f['packet_size']} bytes"
        )
    if "ours" not in figures:
        print(f"  {NAMES['ours']:<22} not measured: {reason}")
        return
    ours = figures["ours"]
    for name in figures:
        if name != "ours":
            theirs = figures[name]
            print(
                f"  vantix.gev / {NAMES[name]:<22} rate {ours['fps'] / theirs['fps']:.3f}   "
                f"CPU a frame {ours['cpu'] / theirs['cpu']:.3f}   "
                f"receiver alone {ours['receiver'] / theirs['cpu']:.3f}"
            )


def sim_or_reason() -> str:
    from vantix import sim

    try:
        sim.camera_server_path()
        return ""
    except FileNotFoundError as exc:
        return str(exc)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--frames", type=int, default=100, help="frames per receiver and round")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--fps", type=float, default=25.0, help="the fake's frame rate")
    parser.add_argument("--packet-size", type=int, default=1400, help="the fake's packets")
    parser.add_argument("--cases", default="fake,sim-mono8,sim-mono12p")
    args = parser.parse_args()
    cases = args.cases.split(",")
    if missing := gev_bench.missing_parts():
        raise SystemExit(f"bench incomplete ({', '.join(missing)}): {gev_bench.INSTALL}")
    producer, reason = producer_or_reason()
    receivers = ["udp"] + (["auto"] if os.geteuid() == 0 else []) + ["ours"] * bool(producer)
    sim_reason = sim_or_reason() if any(c.startswith("sim") for c in cases) else ""
    with gev_bench.private_loopback():
        harvester = None
        fake = sim = None
        try:
            if producer:
                from harvesters.core import Harvester

                harvester = Harvester()
                harvester.add_file(producer)
            if "fake" in cases:
                fake = gev_bench.start_fake(f"VXB{os.getpid() % 100000:05d}")
                case = Case(
                    "fake", fake.address, fake.serial,
                    ["Width=2048", "Height=2048", "PixelFormat=Mono8",
                     f"AcquisitionFrameRate={args.fps}", f"0x0D04={args.packet_size}"],
                    args.packet_size, 4 / args.fps,
                )  # fmt: skip
                figures = run_case(case, harvester, receivers, args)
                report(
                    f"Aravis's fake camera, 2048x2048 Mono8 at {args.fps:g} frames/s, "
                    f"{args.rounds} rounds of {args.frames} frames per receiver",
                    figures,
                    reason,
                )
                fake.kill()
                fake = None
            for name in (c for c in cases if c.startswith("sim-")):
                if sim_reason:
                    print(f"{name}: not measured: {sim_reason}")
                    continue
                pixel_format = {"sim-mono8": "Mono8", "sim-mono12p": "Mono12p"}[name]
                sim = sim or gev_bench.SimCameraServer(
                    ["--camera", "mono12", "--address", SIM_ADDRESS]
                    + ["--link-mbps", str(SIM_LINK_MBPS)]
                )
                case = Case(
                    name, SIM_ADDRESS, next(iter(sim.cameras)),
                    [f"PixelFormat={pixel_format}", *SIM_FEATURES],
                    SIM_PACKET_SIZE, 1.0,
                )  # fmt: skip
                figures = run_case(case, harvester, receivers, args)
                report(
                    f"our simulated camera, 2448x2048 {pixel_format} as fast as it sends, "
                    f"{args.rounds} rounds of {args.frames} frames per receiver",
                    figures,
                    reason,
                )
        finally:
            if harvester is not None:
                harvester.reset()
            for camera in (fake, sim):
                if camera is not None:
                    camera.kill()


if __name__ == "__main__":
    main()
