"""Pixel conversion to BGR beside straightforward numpy + OpenCV code (frame
reception is benchmarks/bench_receive.py's).

Conversion cases use 2448x2048 frames and print the best wall time of each
contender, the ratio of the two in this run and whether the result is
identical to the baseline's. The contenders take turns in blocks of calls,
round after round; the ratio is the median over the rounds of the ratio of
their best times in that round, measured minutes apart at most, so that
other load on a shared machine weighs on both alike:

- raw Mono12p bytes -> BGR: beside numpy (vectorised unpack, shift,
  cv2 GRAY2BGR) and beside cv2.cvtColor(GRAY2BGR) alone on an 8-bit image
  of the same size (targets: >= 5x faster than numpy, <= 1.5x GRAY2BGR);
- uint16 Mono12 -> BGR beside numpy shift + GRAY2BGR (target >= 3x);
- uint16 BayerRG12 -> BGR beside numpy shift + the same 8-bit demosaic
  (target >= 2x), and, for scale, beside that demosaic alone.

Steady state, the same for every contender: each allocates its outputs and
temporaries anew in every call, as in use, from an allocator told to keep
freed blocks for reuse (glibc mallopt), so that no call pays first-touch
page faults for a frame; each contender runs in blocks of calls after a
warm-up, the contenders taking turns block by block.

Every case runs twice: with vantix's default thread count (the CPUs the
process may run on) and with vantix.set_num_threads(1), OpenCV set to the
same count each time; the last lines give the time one thread takes beside
the default's.

    python benchmarks/bench_pixel_convert.py [--repeats N] [--rounds N]
"""

from __future__ import annotations

import argparse
import ctypes
import ctypes.util
import statistics
import time
from dataclasses import dataclass

import cv2
import numpy as np

import vantix
from vantix.io.camera import gentl_camera

H, W = 2048, 2448


@dataclass
class Component:
    data: np.ndarray
    width: int
    height: int
    data_format: str


def keep_freed_blocks() -> str:
    """Has glibc serve large blocks from its heap and keep them when freed
    (mmap and trim thresholds of 256 MiB), so that a frame allocated after
    another was freed reuses its pages."""
    try:
        libc = ctypes.CDLL(ctypes.util.find_library("c"))
        m_trim_threshold, m_mmap_threshold = -1, -3
        ok = libc.mallopt(m_mmap_threshold, 256 << 20) and libc.mallopt(m_trim_threshold, 256 << 20)
    except (OSError, AttributeError):
        ok = False
    return "freed blocks kept for reuse" if ok else "allocator left as it is (no glibc mallopt)"


def best(contenders: dict, repeats: int, rounds: int) -> dict:
    """Each contender's best wall time in each of `rounds` rounds, measured
    in a block of `repeats` calls after a warm-up, the contenders taking
    turns block by block."""
    times: dict = {name: [] for name in contenders}
    for _ in range(rounds):
        for name, fn in contenders.items():
            for _ in range(3):
                fn()
            block = float("inf")
            for _ in range(repeats):
                start = time.perf_counter()
                fn()
                block = min(block, time.perf_counter() - start)
            times[name].append(block)
    return times


# --- numpy baselines ------------------------------------------------------------


def numpy_mono12p(raw: np.ndarray) -> np.ndarray:
    b = raw.reshape(-1, 3).astype(np.uint16)
    s = np.empty((b.shape[0], 2), np.uint16)
    s[:, 0] = b[:, 0] | (b[:, 1] & 0x0F) << 8
    s[:, 1] = b[:, 1] >> 4 | b[:, 2] << 4
    grey = (s.reshape(H, W) >> 4).astype(np.uint8)
    return cv2.cvtColor(grey, cv2.COLOR_GRAY2BGR)


def numpy_mono12(words: np.ndarray) -> np.ndarray:
    grey = (words.reshape(H, W) >> 4).astype(np.uint8)
    return cv2.cvtColor(grey, cv2.COLOR_GRAY2BGR)


def numpy_bayer12(words: np.ndarray, code: int) -> np.ndarray:
    mosaic = (words.reshape(H, W) >> 4).astype(np.uint8)
    return cv2.cvtColor(mosaic, code)


def pack12p(samples: np.ndarray) -> np.ndarray:
    s = samples.reshape(-1, 2)
    out = np.empty((s.shape[0], 3), np.uint8)
    out[:, 0] = s[:, 0] & 0xFF
    out[:, 1] = (s[:, 0] >> 8) | (s[:, 1] & 0x0F) << 4
    out[:, 2] = s[:, 1] >> 4
    return out.ravel()


def report(
    label: str,
    times: dict,
    base: str,
    base_label: str,
    target: str | None = None,
    ok=None,
    same: bool | None = None,
) -> None:
    """One line: best times, the median speed-up of ours over `base` and
    whether ok(speed-up) holds."""
    speedup = statistics.median(b / o for o, b in zip(times["ours"], times[base]))
    ratio = f"{speedup:5.2f}x faster" if speedup >= 1 else f"{1 / speedup:5.2f}x the time"
    line = (
        f"  {label:<28} {min(times['ours']) * 1e3:7.2f} ms   {base_label:<30} "
        f"{min(times[base]) * 1e3:7.2f} ms   ratio {ratio}"
    )
    if target:
        line += f"   target {target}: {'met' if ok(speedup) else 'MISSED'}"
    if same is not None:
        line += f"   identical: {same}"
    print(line)


def case_mono12p(cam, samples, repeats: int, rounds: int) -> float:
    raw = pack12p(samples)
    grey8 = (samples >> 4).astype(np.uint8).reshape(H, W)
    packed = Component(raw, W, H, "Mono12p")
    t = best(
        {
            "ours": lambda: cam._to_bgr(packed, ""),
            "numpy": lambda: numpy_mono12p(raw),
            "grey": lambda: cv2.cvtColor(grey8, cv2.COLOR_GRAY2BGR),
        },
        repeats,
        rounds,
    )
    same = np.array_equal(cam._to_bgr(packed, ""), numpy_mono12p(raw))
    report(
        "Mono12p raw bytes -> BGR",
        t,
        "numpy",
        "numpy unpack+shift+GRAY2BGR",
        ">= 5x",
        lambda x: x >= 5,
        same,
    )
    report(
        "Mono12p raw bytes -> BGR",
        t,
        "grey",
        "cv2 GRAY2BGR alone (8-bit)",
        "<= 1.5x",
        lambda x: 1 / x <= 1.5,
    )
    return min(t["ours"])


def case_mono12(cam, samples, repeats: int, rounds: int) -> float:
    words = Component(samples, W, H, "Mono12")
    t = best(
        {"ours": lambda: cam._to_bgr(words, ""), "numpy": lambda: numpy_mono12(samples)},
        repeats,
        rounds,
    )
    same = np.array_equal(cam._to_bgr(words, ""), numpy_mono12(samples))
    report(
        "Mono12 uint16 -> BGR", t, "numpy", "numpy shift+GRAY2BGR", ">= 3x", lambda x: x >= 3, same
    )
    return min(t["ours"])


def case_bayer12(cam, samples, repeats: int, rounds: int) -> float:
    bayer = Component(samples, W, H, "BayerRG12")
    code = getattr(cv2, gentl_camera._BAYER_MAP["BayerRG"])
    mosaic8 = (samples >> 4).astype(np.uint8).reshape(H, W)
    t = best(
        {
            "ours": lambda: cam._to_bgr(bayer, ""),
            "numpy": lambda: numpy_bayer12(samples, code),
            "demosaic": lambda: cv2.cvtColor(mosaic8, code),
        },
        repeats,
        rounds,
    )
    same = np.array_equal(cam._to_bgr(bayer, ""), numpy_bayer12(samples, code))
    report(
        "BayerRG12 uint16 -> BGR",
        t,
        "numpy",
        "numpy shift + 8-bit demosaic",
        ">= 2x",
        lambda x: x >= 2,
        same,
    )
    report("BayerRG12 uint16 -> BGR", t, "demosaic", "the 8-bit demosaic alone (for scale)")
    return min(t["ours"])


def conversions(repeats: int, rounds: int) -> None:
    allocator = keep_freed_blocks()
    default = vantix.get_num_threads()
    opencv_default = cv2.getNumThreads()
    print(
        f"conversion, {W}x{H} frames ({H * W / 1e6:.1f} Mpixel), {rounds} rounds of {repeats}, "
        f"{allocator}; OpenCV {cv2.__version__} (its default: {opencv_default} threads)"
    )
    samples = np.random.default_rng(0).integers(0, 4096, size=H * W, dtype=np.uint16)
    cam = gentl_camera.GentlCamera()
    cases = {"Mono12p": case_mono12p, "Mono12": case_mono12, "BayerRG12": case_bayer12}
    ours: dict = {}
    for threads in (default, 1):
        vantix.set_num_threads(threads)
        cv2.setNumThreads(threads)
        label = "the default" if threads == default else "set_num_threads(1)"
        print(f"{threads} thread(s) for the conversion and for OpenCV ({label}):")
        for name, case in cases.items():
            ours.setdefault(name, []).append(case(cam, samples, repeats, rounds))
    vantix.set_num_threads(default)
    cv2.setNumThreads(opencv_default)
    print("one thread beside the default:")
    for name, (many, one) in ours.items():
        print(f"  {name:<10} {one * 1e3:7.2f} ms against {many * 1e3:7.2f} ms: {one / many:5.2f}x")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=15)
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    conversions(args.repeats, args.rounds)


if __name__ == "__main__":
    main()
