"""The simulated GenTL producer is never the bottleneck.

Three measurements through a bare harvesters loop (no conversion):
  - fetch rate at 2448x2048 Mono8, frame rate unlimited, 10 us exposure
    (target: at least 300 frames/s), beside its baseline measured in the
    same run: copying one such frame with numpy, the memory-bound ceiling of
    any producer that writes every pixel;
  - 2448x2048 Mono12p at 30 frames/s for 10 s: the spacing of the host's
    arrival times and of the device timestamps against the 33.3 ms period
    (target: every frame, jitter under 2 ms);
  - resident memory over 100 device open/close cycles (create, start, fetch,
    stop, destroy) after 10 warm-up cycles, and over 100 whole-library cycles
    (GCInitLib ... GCCloseLib) through ctypes (target: under 1 MB in total).

    python benchmarks/bench_sim_producer.py [--seconds 5] [--cycles 100]
"""

from __future__ import annotations

import argparse
import ctypes
import statistics
import time

import numpy as np
from harvesters.core import Harvester

from vantix import sim

SERIAL = "VXS-M12-001"


def rss_mib() -> float:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096 / 2**20


def started(h: Harvester, pixel_format: str, frame_rate: float | None, exposure_us: float):
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
    ia = started(h, "Mono8", None, 10.0)
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
    ia = started(h, "Mono12p", 30.0, 10000.0)
    with ia.fetch(timeout=5):
        pass
    arrivals, stamps, ids = [], [], []
    end = time.perf_counter() + seconds
    while time.perf_counter() < end:
        with ia.fetch(timeout=5) as buffer:
            arrivals.append(time.perf_counter())
            stamps.append(buffer.timestamp_ns)
            ids.append(buffer.frame_id)
    ia.destroy()
    period = 1 / 30
    host = [abs(b - a - period) * 1e3 for a, b in zip(arrivals, arrivals[1:])]
    device = [abs((b - a) / 1e9 - period) * 1e3 for a, b in zip(stamps, stamps[1:])]
    return {"frames": len(ids), "missed": ids[-1] - ids[0] + 1 - len(ids),
            "host_max_ms": max(host), "host_p99_ms": sorted(host)[int(0.99 * (len(host) - 1))],
            "host_mean_ms": statistics.fmean(host), "device_max_ms": max(device)}


def open_close_growth(h: Harvester, cycles: int) -> float:
    def cycle() -> None:
        ia = h.create({"serial_number": SERIAL})
        ia.remote_device.node_map.Width.value = 640
        ia.start()
        with ia.fetch(timeout=5):
            pass
        ia.stop()
        ia.destroy()

    return growth(cycle, cycles)


def library_cycle_growth(cycles: int) -> float:
    lib = ctypes.CDLL(sim.producer_path())
    handle = ctypes.c_void_p

    def cycle() -> None:
        assert lib.GCInitLib() == 0
        tl, iface, dev, ds, buf, evt = (handle() for _ in range(6))
        assert lib.TLOpen(ctypes.byref(tl)) == 0
        assert lib.TLUpdateInterfaceList(tl, None, ctypes.c_uint64(0)) == 0
        assert lib.TLOpenInterface(tl, b"SimGEV0", ctypes.byref(iface)) == 0
        assert lib.IFUpdateDeviceList(iface, None, ctypes.c_uint64(0)) == 0
        assert lib.IFOpenDevice(iface, SERIAL.encode(), 4, ctypes.byref(dev)) == 0
        assert lib.DevOpenDataStream(dev, b"Stream0", ctypes.byref(ds)) == 0
        assert lib.GCRegisterEvent(ds, 1, ctypes.byref(evt)) == 0
        assert lib.DSAllocAndAnnounceBuffer(ds, ctypes.c_size_t(2448 * 2048), None, ctypes.byref(buf)) == 0
        assert lib.DSStartAcquisition(ds, 0, ctypes.c_uint64(2**64 - 1)) == 0
        assert lib.GCCloseLib() == 0

    return growth(cycle, cycles)


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
    print(f"2448x2048 Mono8, unlimited rate: {rate:.0f} frames/s (target 300: {rate / 300:.2f}x); "
          f"baseline numpy copy of one frame: {ceiling:.0f}/s (simulator / copy: {rate / ceiling:.2f})")
    t = timing(h, 10.0)
    print(f"2448x2048 Mono12p at 30 frames/s for 10 s: {t['frames']} frames, {t['missed']} missed; "
          f"arrival spacing off the period by max {t['host_max_ms']:.2f} ms, p99 {t['host_p99_ms']:.2f} ms, "
          f"mean {t['host_mean_ms']:.2f} ms; device timestamps max {t['device_max_ms']:.3f} ms")
    growth = open_close_growth(h, args.cycles)
    print(f"{args.cycles} device open/close cycles (harvesters): resident memory {growth:+.2f} MiB")
    h.reset()
    print(f"{args.cycles} library init/close cycles (ctypes): resident memory {library_cycle_growth(args.cycles):+.2f} MiB")


if __name__ == "__main__":
    main()
