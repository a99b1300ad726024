"""The picture the simulated cameras deliver, computed in numpy.

For a frame id ``f`` and sensor coordinates ``X = OffsetX + x``,
``Y = OffsetY + y`` (sensor ``W`` x ``H`` pixels), with ``N`` significant
bits per sample:

    ramp = (s * (X + Y + f)) mod 2**N,   s = 1 for N = 8, else 2**(N - 8) + 1

Mono formats deliver ``ramp``. Colour cameras see four saturated quadrants
of the sensor (red top left, green top right, blue bottom left, yellow
bottom right) and a white square of side ``H // 4`` with its top at
``(H - H // 4) // 2`` and its left edge at ``(16 f) mod W``. A lit channel
has the value ``2**N - 1 - t``, an unlit one ``t``, where
``t = ramp >> 2``. Bayer formats keep at ``(x, y)`` the channel their
mosaic names for ``(x mod 2, y mod 2)``; RGB8/BGR8/RGBa8/BGRa8 keep all
channels (alpha 255); YCbCr422_8 is Y0 Cb Y1 Cr with
``Y = (77 R + 150 G + 29 B + 128) >> 8``,
``Cb = ((-43 R - 85 G + 128 B + 128) >> 8) + 128``,
``Cr = ((128 R - 107 G - 21 B + 128) >> 8) + 128``, chroma taken from the
even pixel of each pair.
"""

from __future__ import annotations

import re

import numpy as np

_MOSAICS = {
    "RG": ("R", "G", "G", "B"),
    "GR": ("G", "R", "B", "G"),
    "GB": ("G", "B", "R", "G"),
    "BG": ("B", "G", "G", "R"),
}


def _bits(pixel_format: str) -> int:
    """Significant bits per sample: 8 for the RGB and YCbCr formats."""
    match = re.fullmatch(r"(?:Mono|Bayer[RGB]{2})(\d+)(?:p|Packed)?", pixel_format)
    return int(match.group(1)) if match else 8


def _ramp(x: np.ndarray, y: np.ndarray, frame_id: int, bits: int) -> np.ndarray:
    modulus = 1 << bits
    step = 1 if bits == 8 else (1 << (bits - 8)) + 1
    return (step * ((x + y + frame_id % modulus) % modulus)) % modulus


def _scene(x, y, frame_id, bits, sensor_width, sensor_height) -> dict[str, np.ndarray]:
    right = x >= sensor_width // 2
    bottom = y >= sensor_height // 2
    side = sensor_height // 4
    top = (sensor_height - side) // 2
    left = (16 * (frame_id % sensor_width)) % sensor_width
    square = (x >= left) & (x < left + side) & (y >= top) & (y < top + side)
    lit = {"R": (right == bottom) | square, "G": right | square, "B": (bottom & ~right) | square}
    t = _ramp(x, y, frame_id, bits) >> 2
    full = (1 << bits) - 1
    return {c: np.where(on, full - t, t) for c, on in lit.items()}


def expected_image(
    pixel_format: str,
    width: int,
    height: int,
    frame_id: int,
    *,
    sensor_width: int,
    sensor_height: int,
    offset_x: int = 0,
    offset_y: int = 0,
) -> np.ndarray:
    """The samples of one frame as harvesters presents them after unpacking.

    Mono and Bayer formats give a ``(height, width)`` array (uint8 for 8
    bits, uint16 otherwise); RGB-type formats ``(height, width, 3 or 4)``
    uint8 in the format's channel order; YCbCr422_8 ``(height, width, 2)``.
    """
    y, x = np.mgrid[offset_y : offset_y + height, offset_x : offset_x + width].astype(np.int64)
    bits = _bits(pixel_format)
    dtype = np.uint8 if bits == 8 else np.uint16
    if pixel_format.startswith("Mono"):
        return _ramp(x, y, frame_id, bits).astype(dtype)
    scene = _scene(x, y, frame_id, bits, sensor_width, sensor_height)
    if pixel_format.startswith("Bayer"):
        mosaic = _MOSAICS[pixel_format[5:7]]
        out = np.empty((height, width), dtype)
        for row in (0, 1):
            for col in (0, 1):
                out[row::2, col::2] = scene[mosaic[2 * row + col]][row::2, col::2]
        return out
    if pixel_format == "YCbCr422_8":
        r, g, b = scene["R"], scene["G"], scene["B"]
        luma = (77 * r + 150 * g + 29 * b + 128) >> 8
        even = (slice(None), slice(0, None, 2))
        cb = ((-43 * r[even] - 85 * g[even] + 128 * b[even] + 128) >> 8) + 128
        cr = ((128 * r[even] - 107 * g[even] - 21 * b[even] + 128) >> 8) + 128
        chroma = np.empty((height, width), np.int64)
        chroma[:, 0::2], chroma[:, 1::2] = cb, cr
        return np.stack([luma, chroma], axis=-1).astype(np.uint8)
    order = pixel_format[:3].upper()
    if order not in ("RGB", "BGR"):
        raise ValueError(f"not a simulator pixel format: {pixel_format}")
    channels = [scene[c] for c in order]
    if pixel_format.endswith("a8"):
        channels.append(np.full_like(scene["R"], 255))
    return np.stack(channels, axis=-1).astype(np.uint8)
