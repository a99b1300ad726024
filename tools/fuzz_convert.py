#!/usr/bin/env python3
"""Seeded randomized fuzzing of the pixel conversion: GentlCamera._to_bgr,
_unpack and _bit_shift with malformed inputs (random format names, sizes,
dtypes, lengths, memory layouts and forced OpenCV codes), mixed with
well-formed ones so that every kernel runs, not only the rejections.

Every call must either return a well-formed result or raise CameraError; any
other exception is a finding, and so is a well-formed mono or Bayer frame
whose image differs from the straightforward route: samples reduced to
8 bits with numpy (packed ones unpacked by _unpack), then OpenCV's
GRAY2BGR or the demosaic the camera's code names. Run it against the sanitizer build so that a
read or write outside a buffer aborts the process:

    python3 -m venv .venv-asan
    .venv-asan/bin/pip install numpy pybind11 scikit-build-core harvesters genicam \\
        opencv-python-headless
    .venv-asan/bin/pip install --no-build-isolation -e . -Cbuild-dir=build/asan \\
        -Ccmake.define.VANTIX_SANITIZE=ON -Ccmake.define.VANTIX_MODULES=gentl_camera
    LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)" \\
        ASAN_OPTIONS=detect_leaks=0 .venv-asan/bin/python tools/fuzz_convert.py

    tools/fuzz_convert.py [--count N] [--seed S] [--report-every N]

Exit status 0 when no finding was made.
"""

from __future__ import annotations

import argparse
import collections
import random
import re
import sys
import time
import traceback

import cv2
import numpy as np

from vantix.io.camera import gentl_camera
from vantix.io.camera.base import CameraError

FORMATS = [
    "Mono8",
    "Mono10",
    "Mono12",
    "Mono14",
    "Mono16",
    "Mono10p",
    "Mono12p",
    "Mono14p",
    "Mono10Packed",
    "Mono12Packed",
    "RGB8",
    "BGR8",
    "RGBa8",
    "BGRa8",
    "RGB8Packed",
    "BGRA8Packed",
    "Mono8Signed",
    "YUV422Packed",
    "RGB10Packed",
    "Coord3D_C16",
] + [
    f"Bayer{p}{d}"
    for p in ("RG", "GR", "GB", "BG")
    for d in ("8", "10", "12", "16", "10p", "12p", "14p", "10Packed", "12Packed")
]
PREFIXES = [
    "Mono",
    "Bayer",
    "BayerRG",
    "BayerXY",
    "RGB",
    "BGR",
    "RGBa",
    "BGRA",
    "",
    "YUV",
    "Coord3D_A",
    "Mono10c3p",
    "Bayer RG",
    "모노",
]
SUFFIXES = ["", "p", "Packed", "packed", "P", "Planar", "s", "p32", "Packedp"]
CODES = [
    None,
    None,
    None,
    "",
    "COLOR_BayerRG2BGR",
    "COLOR_BayerBG2BGR_EA",
    "COLOR_BayerGB2BGR_VNG",
    "COLOR_BayerRGGB2BGR",
    "COLOR_BGR2GRAY",
    "COLOR_BayerRG2GRAY",
    "COLOR_Nope",
    "cv2.COLOR_BayerRG2BGR",
    46,
    3.5,
    b"COLOR_BayerRG2BGR",
]
DTYPES = (
    [np.uint8] * 6
    + [np.uint16] * 4
    + [
        np.dtype(">u2"),
        np.int8,
        np.int16,
        np.uint32,
        np.float32,
        np.float64,
        np.bool_,
        np.dtype("V2"),
        np.dtype([("a", np.uint8), ("b", np.uint8)]),
        object,
    ]
)
# Samples per pixel a payload could have been made for: 8/16-bit mono,
# 10/12/14-bit packed, 3 and 4 channels.
PER_PIXEL = [1, 1, 1.25, 1.5, 1.75, 2, 3, 4]


class Fake:
    """A component: any of its attributes may be missing."""

    def __init__(self, **attrs):
        self.__dict__.update(attrs)


def format_name(rng: random.Random) -> str:
    r = rng.random()
    if r < 0.55:
        return rng.choice(FORMATS)
    if r < 0.9:
        depth = rng.choice(
            [
                "",
                "0",
                "1",
                "4",
                "8",
                "9",
                "10",
                "12",
                "14",
                "16",
                "17",
                "32",
                "008",
                "99999999999999999999",
            ]
        )
        return rng.choice(PREFIXES) + depth + rng.choice(SUFFIXES)
    alphabet = "MonoBayerRGBap0123456789Packed_ \x00é가"
    return "".join(rng.choice(alphabet) for _ in range(rng.randrange(0, 24)))


def dimension(rng: random.Random):
    r = rng.random()
    if r < 0.85:
        return rng.choice([1, 1, 2, 3, 4, 5, 7, 8, 13, 16, 31, 64])
    return rng.choice(
        [
            0,
            -1,
            -7,
            2**31,
            2**62,
            2**64 + 3,
            -(2**70),
            None,
            3.0,
            True,
            "4",
            np.int64(6),
            np.uint8(5),
        ]
    )


def length(rng: random.Random, pixels: int) -> int:
    r = rng.random()
    if r < 0.75 and pixels > 0:
        base = int(np.ceil(pixels * rng.choice(PER_PIXEL)))
        return max(0, base + rng.choice([0, 0, 0, 0, -1, 1, -2, 2, 7, 8, 9, -pixels // 2]))
    return rng.randrange(0, 300)


def payload(rng: random.Random, n: int, np_rng: np.random.Generator):
    dtype = rng.choice(DTYPES)
    if dtype is object:
        return rng.choice(
            [
                None,
                b"\x01" * n,
                bytearray(n),
                memoryview(bytearray(2 * n))[::2],
                "Mono8",
                [1] * n,
                7,
                np.zeros(n, object),
            ]
        )
    raw = np_rng.integers(0, 256, size=n * np.dtype(dtype).itemsize + 2, dtype=np.uint8)
    arr = raw[: n * np.dtype(dtype).itemsize].view(dtype)
    r = rng.random()
    if r < 0.1 and n:
        # Unaligned: the same bytes one byte further on.
        arr = raw[1 : 1 + n * np.dtype(dtype).itemsize].view(dtype)
    elif r < 0.2:
        arr = np.repeat(arr, 2)[::2]  # strided
    elif r < 0.3 and n % 2 == 0 and n:
        arr = arr.reshape(2, -1)
    elif r < 0.35:
        arr = arr.copy()
        arr.flags.writeable = False
    return arr


def check_image(image, width, height) -> str | None:
    if not isinstance(image, np.ndarray) or image.dtype != np.uint8:
        return f"not a uint8 array: {type(image).__name__} {getattr(image, 'dtype', '')}"
    if image.shape != (height, width, 3):
        return f"shape {image.shape} for {width}x{height}"
    return None


# Well-formed payloads: format -> [(dtype, samples per pixel)], the packed
# forms given by their depth and packing.
WELL_FORMED = {
    "Mono8": [(np.uint8, 1)],
    "RGB8": [(np.uint8, 3)],
    "BGR8": [(np.uint8, 3)],
    "RGBa8": [(np.uint8, 4)],
    "BGRa8": [(np.uint8, 4)],
}
for _d in (10, 12, 14, 16):
    WELL_FORMED[f"Mono{_d}"] = [(np.uint16, 1), (np.uint8, 2)]
for _p in ("RG", "GR", "GB", "BG"):
    WELL_FORMED[f"Bayer{_p}8"] = [(np.uint8, 1)]
    for _d in (10, 12, 14, 16):
        WELL_FORMED[f"Bayer{_p}{_d}"] = [(np.uint16, 1), (np.uint8, 2)]
for _prefix in ("Mono", "BayerRG", "BayerGR", "BayerGB", "BayerBG"):
    for _d, _k in ((10, "p"), (12, "p"), (14, "p"), (10, "Packed"), (12, "Packed")):
        WELL_FORMED[f"{_prefix}{_d}{_k}"] = [
            (np.uint16, 1),
            (np.uint8, 12 if _k == "Packed" else _d),
        ]


def well_formed(rng, np_rng):
    fmt = rng.choice(list(WELL_FORMED))
    dtype, per = rng.choice(WELL_FORMED[fmt])
    # Now and then a frame large enough to be shared among threads.
    limit = 700 if rng.random() < 0.003 else 40
    width, height = rng.randrange(1, limit), rng.randrange(1, limit)
    n = width * height
    if fmt[-1] == "p" or fmt.endswith("Packed"):
        length = n if dtype == np.uint16 else (n * per + 7) // 8
    else:
        length = n * per
    if rng.random() < 0.3:
        length = max(0, length + rng.choice([-2, -1, 1, 2, 7, 8]))
    data = np_rng.integers(0, 256 if dtype == np.uint8 else 65536, size=length, dtype=dtype)
    if rng.random() < 0.2:
        data = np.repeat(data, 2)[::2]
    return fmt, width, height, data


SAMPLES = re.compile(r"(Mono|Bayer(RG|GR|GB|BG))(\d+)(p|Packed)?$")


def straightforward(fmt: str, data: np.ndarray, width: int, height: int, code) -> np.ndarray | None:
    """The image of a well-formed mono or Bayer frame by the plain route;
    None for the colour formats."""
    match = SAMPLES.match(fmt)
    if not match:
        return None
    layout, pattern, bits, kind = match[1], match[2], int(match[3]), match[4]
    s = np.ascontiguousarray(data)
    if kind and s.dtype == np.uint8:
        s = gentl_camera._unpack(s, bits, kind, width * height)
    elif bits > 8 and s.dtype == np.uint8:
        s = s.view("<u2")
    grey = (
        np.minimum(s.astype(np.uint32) >> (bits - 8), 255).astype(np.uint8).reshape(height, width)
    )
    if layout == "Mono":
        return cv2.cvtColor(grey, cv2.COLOR_GRAY2BGR)
    name = code or gentl_camera._BAYER_MAP[f"Bayer{pattern}"]
    return cv2.cvtColor(grey, getattr(cv2, name))


def one_to_bgr(rng, np_rng, cam_for):
    if rng.random() < 0.4:
        fmt, width, height, data = well_formed(rng, np_rng)
        code = rng.choice(CODES[:6])
        image = cam_for(code)._to_bgr(
            Fake(data=data, width=width, height=height, data_format=fmt), ""
        )
        problem = check_image(image, width, height)
        want = None if problem else straightforward(fmt, data, width, height, code)
        if want is not None and not np.array_equal(image, want):
            return f"{fmt} {width}x{height} {data.dtype} code {code!r}: image differs"
        return problem
    fmt = format_name(rng)
    width, height = dimension(rng), dimension(rng)
    pixels = (
        width * height
        if isinstance(width, int)
        and isinstance(height, int)
        and 0 <= width < 2**16
        and 0 <= height < 2**16
        else rng.randrange(0, 64)
    )
    attrs = {
        "data": payload(rng, length(rng, pixels), np_rng),
        "width": width,
        "height": height,
        "data_format": fmt,
    }
    if rng.random() < 0.05:
        del attrs[rng.choice(list(attrs))]
    if rng.random() < 0.1:
        attrs["data_format"] = rng.choice([None, "", 12])
    node = rng.choice(["", "", fmt, format_name(rng), None])
    cam = cam_for(rng.choice(CODES))
    image = cam._to_bgr(Fake(**attrs), node)
    return check_image(image, width, height)


def one_unpack(rng, np_rng, _cam_for):
    if rng.random() < 0.5:
        bits, kind = rng.choice([(10, "p"), (12, "p"), (14, "p"), (10, "Packed"), (12, "Packed")])
        count = rng.randrange(0, 300)
        if rng.random() < 0.5:
            n = (count * (12 if kind == "Packed" else bits) + 7) // 8 + rng.choice([0, 0, 3, -1])
            data = np_rng.integers(0, 256, size=max(0, n), dtype=np.uint8)
        else:
            data = np_rng.integers(0, 65536, size=count, dtype=np.uint16)
    else:
        bits = rng.choice([10, 12, 14, 10, 12, 8, 16, 9, 0, -12, 2**40, "12", None])
        kind = rng.choice(["p", "Packed", "p", "Packed", "", "packed", None, 12])
        count = rng.choice([rng.randrange(0, 200), 0, 1, -1, 2**62, 2**80, None, 3.0])
        n = length(rng, count if isinstance(count, int) and 0 <= count < 2**16 else 50)
        data = payload(rng, n, np_rng)
    out = gentl_camera._unpack(data, bits, kind, count)
    if not isinstance(out, np.ndarray) or out.dtype != np.uint16 or out.shape != (count,):
        return f"_unpack gave {type(out).__name__} {getattr(out, 'shape', '')}"
    return None


def one_bit_shift(rng, np_rng, _cam_for):
    bits = rng.choice([8, 10, 12, 14, 16, 7, 17, 0, None, "12", 2**70])
    data = payload(rng, rng.randrange(0, 200), np_rng)
    out = gentl_camera._bit_shift(data, bits)
    shape = data.shape if isinstance(data, np.ndarray) else (memoryview(data).nbytes,)
    if not isinstance(out, np.ndarray) or out.dtype != np.uint8 or out.shape != shape:
        return f"_bit_shift gave {type(out).__name__} {getattr(out, 'shape', '')}"
    return None


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=1_000_000)
    parser.add_argument("--seed", type=int, default=20240611)
    parser.add_argument("--report-every", type=int, default=100_000)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    np_rng = np.random.default_rng(args.seed)
    cameras: dict = {}

    def cam_for(code):
        key = repr(code)
        if key not in cameras:
            cameras[key] = gentl_camera.GentlCamera({} if code is None else {"bayer_cv_code": code})
        return cameras[key]

    cases = [(one_to_bgr, 0.8), (one_unpack, 0.1), (one_bit_shift, 0.1)]
    outcomes: collections.Counter = collections.Counter()
    findings = 0
    start = time.monotonic()
    print(f"module: {gentl_camera.__file__}", flush=True)
    for i in range(1, args.count + 1):
        case = rng.choices([c for c, _ in cases], [w for _, w in cases])[0]
        try:
            problem = case(rng, np_rng, cam_for)
        except CameraError as exc:
            text = str(exc)
            outcomes[f"{case.__name__}: CameraError {text.split(':')[0][:40]}"] += 1
            if not text:
                findings += 1
                print(f"#{i} {case.__name__}: CameraError without a message", flush=True)
            continue
        except Exception:
            findings += 1
            print(f"#{i} {case.__name__}: not a CameraError", flush=True)
            traceback.print_exc()
            if findings >= 20:
                break
            continue
        if problem:
            findings += 1
            print(f"#{i} {case.__name__}: {problem}", flush=True)
        else:
            outcomes[f"{case.__name__}: converted"] += 1
        if i % args.report_every == 0:
            print(f"{i} inputs, {findings} findings, {time.monotonic() - start:.0f} s", flush=True)

    total = sum(outcomes.values()) + findings
    print(
        f"\n{total} inputs (seed {args.seed}) in {time.monotonic() - start:.0f} s, "
        f"{findings} findings"
    )
    for key, n in sorted(outcomes.items()):
        print(f"  {n:8d}  {key}")
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
