"""The simulated GenTL producer is never the bottleneck.

Three measurements through a bare harvesters loop (no conversion):
  - fetch rate at 2448x2048 Mono8, frame rate unlimited, 10 us exposure
    (target: at least 300 frames/s), beside its baseline measured in the
    same run: copying one such frame with numpy, the memory-bound ceiling of
    any producer that writes every pixel;
  - 2448x2048 Mono12p at 30 frames/s for 10 s: the spacing of the host's
    arrival times and of the device timestamps against the 33.3 ms period
    (target: every frame, jitter under 2 ms);
  - resident memory of the producer alone (ctypes) over 100 device
    open/acquire/close cycles and over 100 whole-library sessions, after 10
    warm-up cycles (target: under 1 MB in total); and, for context, the same
    cycles through harvesters + genicam, beside genicam's own TLSimu.cti
    where the installed genicam carries it (harvesters and genicam grow by
    themselves on every create).

    python benchmarks/bench_sim_producer.py [--seconds 5] [--cycles 100]
"""

from __future__ import annotations

import argparse
import ctypes
import statistics
import time
from pathlib import Path

import genicam
import numpy as np
from harvesters.core import Harvester

from vantix import sim

SERIAL = "VXS-M12-001"


def rss_mib() -> float:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096 / 2**20


def acquiring(h: Harvester, pixel_format: str, frame_rate: float | None, exposure_us: float):
    """An acquirer on the full 2448x2048 sensor, acquiring; no frame rate: unlimited."""
    ia = h.create({"serial_number": SERIAL})
    nm = ia.remote_device.node_map
    nm.PixelFormat.value = pixel_format
    nm.AcquisitionFrameRateEnable.value = frame_rate is not None
    if frame_rate is not None:
        nm.AcquisitionFrameRate.value = frame_rate
    nm.ExposureTime.value = exposure_us
    ia.start()
    return ia


def growth(cycle, cycles: int) -> float:
    """Resident memory gained over `cycles` runs of `cycle`, after 10 to warm up."""
    for _ in range(10):
        cycle()
    before = rss_mib()
    for _ in range(cycles):
        cycle()
    return rss_mib() - before


def fetch_rate(h: Harvester, seconds: float) -> float:
    ia = acquiring(h, "Mono8", None, 10.0)
    for _ in range(10):
        with ia.fetch(timeout=5):
            pass
    frames, started = 0, time.perf_counter()
    while time.perf_counter() - started < seconds:
        with ia.fetch(timeout=5):
            frames += 1
    rate = frames / (time.perf_counter() - started)
    ia.destroy()
    return rate


def copy_rate(seconds: float) -> float:
    frame = np.arange(2448 * 2048, dtype=np.uint64).astype(np.uint8)
    out = np.empty_like(frame)
    copies, started = 0, time.perf_counter()
    while time.perf_counter() - started < seconds:
        np.copyto(out, frame)
        copies += 1
    return copies / (time.perf_counter() - started)


def timing(h: Harvester, seconds: float) -> dict:
    ia = acquiring(h, "Mono12p", 30.0, 10000.0)
    arrivals, stamps, ids = [], [], []
    end = time.perf_counter() + seconds + 1 / 30
    while time.perf_counter() < end:
        # raw buffers: harvesters' numpy unpacking of 5 Mpixel Mono12p
        # alone takes longer than a frame period
        buffer = ia.fetch(timeout=5, is_raw=True)
        arrivals.append(time.monotonic_ns() / 1e9)
        stamps.append(buffer.timestamp_ns)
        ids.append(buffer.frame_id)
        buffer.parent.queue_buffer(buffer)
    ia.destroy()
    period = 1 / 30
    host = [abs(b - a - period) * 1e3 for a, b in zip(arrivals, arrivals[1:])]
    device = [abs((b - a) / 1e9 - period) * 1e3 for a, b in zip(stamps, stamps[1:])]
    # Device timestamps count nanoseconds of the same monotonic clock.
    latency = [a * 1e3 - t / 1e6 for a, t in zip(arrivals, stamps)]
    return {
        "frames": len(ids),
        "missed": ids[-1] - ids[0] + 1 - len(ids),
        "late": sum(j > 2 for j in host),
        "latency_max_ms": max(latency),
        "latency_median_ms": statistics.median(latency),
        "host_max_ms": max(host),
        "host_p99_ms": sorted(host)[int(0.99 * (len(host) - 1))],
        "host_mean_ms": statistics.fmean(host),
        "device_max_ms": max(device),
    }


def harvesters_growth(cti: str, cycles: int) -> float:
    """create/start/fetch/stop/destroy through harvesters + genicam."""
    h = Harvester()
    h.add_file(cti)
    h.update()

    def cycle() -> None:
        ia = h.create(0)
        ia.start()
        with ia.fetch(timeout=5):
            pass
        ia.stop()
        ia.destroy()

    try:
        return growth(cycle, cycles)
    finally:
        h.reset()


class Producer:
    """The producer's C functions, every call checked."""

    def __init__(self) -> None:
        self.lib = ctypes.CDLL(sim.producer_path())

    def __getattr__(self, name: str):
        function = getattr(self.lib, name)

        def call(*args) -> None:
            assert function(*args) == 0, name

        return call

    def handle(self, name: str, *args) -> ctypes.c_void_p:
        out = ctypes.c_void_p()
        getattr(self, name)(*args, ctypes.byref(out))
        return out


def producer_growth(cycles: int) -> tuple[float, float]:
    """The producer alone (ctypes): resident memory over device open/close
    cycles in one library session, and over whole library sessions."""
    p = Producer()
    u64, size = ctypes.c_uint64, ctypes.c_size_t
    memory = [ctypes.create_string_buffer(640 * 480) for _ in range(3)]
    session = {}

    def open_library() -> None:
        p.GCInitLib()
        session["tl"] = p.handle("TLOpen")
        p.TLUpdateInterfaceList(session["tl"], None, u64(0))
        session["if"] = p.handle("TLOpenInterface", session["tl"], b"SimGEV0")
        p.IFUpdateDeviceList(session["if"], None, u64(0))

    def device_cycle() -> None:
        dev = p.handle("IFOpenDevice", session["if"], SERIAL.encode(), 4)
        remote = p.handle("DevGetPort", dev)
        for port in (session["tl"], session["if"], dev, remote):
            url = ctypes.create_string_buffer(128)
            p.GCGetPortURL(port, url, ctypes.byref(size(128)))
            _, address, length = url.value.decode().split(";")
            xml = ctypes.create_string_buffer(int(length, 16))
            p.GCReadPort(port, u64(int(address, 16)), xml, ctypes.byref(size(len(xml))))

        def address_of(feature: str) -> int:
            return int(
                xml.raw.decode().split(f'Name="{feature}Reg"><Address>')[1].split("<")[0], 16
            )

        one = ctypes.byref(ctypes.c_uint32(1))
        p.GCWritePort(
            remote,
            u64(address_of("Width")),
            ctypes.byref(ctypes.c_uint32(640)),
            ctypes.byref(size(4)),
        )
        p.GCWritePort(
            remote,
            u64(address_of("Height")),
            ctypes.byref(ctypes.c_uint32(480)),
            ctypes.byref(size(4)),
        )
        ds = p.handle("DevOpenDataStream", dev, b"Stream0")
        event = p.handle("GCRegisterEvent", ds, 1)
        for block in memory:
            p.DSQueueBuffer(ds, p.handle("DSAnnounceBuffer", ds, block, size(len(block)), None))
        p.DSStartAcquisition(ds, 0, u64(2**64 - 1))
        p.GCWritePort(remote, u64(address_of("AcquisitionStart")), one, ctypes.byref(size(4)))
        data = ctypes.create_string_buffer(16)
        p.EventGetData(event, data, ctypes.byref(size(16)), u64(1000))
        p.GCWritePort(remote, u64(address_of("AcquisitionStop")), one, ctypes.byref(size(4)))
        p.DSStopAcquisition(ds, 1)
        p.DSFlushQueue(ds, 4)
        p.DSClose(ds)
        p.DevClose(dev)

    open_library()
    devices = growth(device_cycle, cycles)
    p.GCCloseLib()

    def library_cycle() -> None:
        open_library()
        device_cycle()
        p.GCCloseLib()

    return devices, growth(library_cycle, cycles)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seconds", type=float, default=5.0, help="length of the fetch-rate run")
    parser.add_argument("--cycles", type=int, default=100)
    args = parser.parse_args()

    h = Harvester()
    h.add_file(sim.producer_path())
    h.update()
    rate = fetch_rate(h, args.seconds)
    ceiling = copy_rate(2.0)
    print(
        f"2448x2048 Mono8, unlimited rate: {rate:.0f} frames/s (target 300: {rate / 300:.2f}x); "
        f"baseline numpy copy of one frame: {ceiling:.0f}/s (simulator / copy: "
        f"{rate / ceiling:.2f})"
    )
    t = timing(h, 10.0)
    print(
        f"2448x2048 Mono12p at 30 frames/s for 10 s: {t['frames']} frames, {t['missed']} missed; "
        f"arrival spacing off the period by max {t['host_max_ms']:.2f} ms, p99 "
        f"{t['host_p99_ms']:.2f} ms, "
        f"mean {t['host_mean_ms']:.2f} ms ({t['late']} spacings off by more than 2 ms); "
        f"arrival after the "
        f"frame's time: median {t['latency_median_ms']:.2f} ms, max {t['latency_max_ms']:.2f} ms; "
        f"device timestamps off by max {t['device_max_ms']:.3f} ms"
    )
    h.reset()
    devices, libraries = producer_growth(args.cycles)
    print(
        f"producer alone, {args.cycles} device open/acquire/close cycles: resident memory "
        f"{devices:+.2f} MiB; "
        f"{args.cycles} library init/close cycles: {libraries:+.2f} MiB"
    )
    ours = harvesters_growth(sim.producer_path(), args.cycles)
    line = (
        f"through harvesters, {args.cycles} create/start/fetch/stop/destroy cycles: {ours:+.2f} MiB"
    )
    tlsimu = Path(genicam.__file__).parent / "TLSimu.cti"
    if tlsimu.is_file():  # genicam <= 1.5.0: the same cycles on its own simulator
        baseline = harvesters_growth(str(tlsimu), args.cycles)
        line += f" (baseline, genicam's TLSimu.cti: {baseline:+.2f} MiB)"
    print(line)


if __name__ == "__main__":
    main()
