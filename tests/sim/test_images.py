"""Every pixel format: the buffer harvesters unpacks equals the documented
formula, computed independently in numpy (vantix.sim.expected_image)."""

from __future__ import annotations

import numpy as np
import pytest

from vantix.sim import PRESETS, expected_image

from .conftest import SERIALS

FORMATS = {name: preset.pixel_formats for name, preset in PRESETS.items()}


def _pack_grouped10(samples: np.ndarray) -> np.ndarray:
    """GigE "10Packed": 2 samples in 3 bytes, high bits outside, low bits shared."""
    s = samples.reshape(-1, 2).astype(np.uint16)
    low = (s[:, 0] & 0x3) | ((s[:, 1] & 0x3) << 4)
    return np.stack([s[:, 0] >> 2, low, s[:, 1] >> 2], axis=1).astype(np.uint8).ravel()


def _compare_raw_grouped10(ia, pixel_format: str, sensor: dict) -> None:
    """harvesters 1.4.3 sizes 10Packed buffers as 1.25 bytes a pixel (they
    hold 1.5) and cannot unpack them, so these bytes are checked against
    the PFNC layout directly."""
    nm = ia.remote_device.node_map
    buffer = ia.fetch(timeout=5, is_raw=True)
    try:
        assert buffer.pixel_format == nm.PixelFormat.get_int_value()
        width, height = buffer.width, buffer.height
        want = expected_image(
            pixel_format,
            width,
            height,
            buffer.frame_id,
            offset_x=buffer.offset_x,
            offset_y=buffer.offset_y,
            **sensor,
        )
        got = np.frombuffer(bytes(buffer.raw_buffer), np.uint8, count=width * height * 3 // 2)
        assert np.array_equal(got, _pack_grouped10(want))
    finally:
        buffer.parent.queue_buffer(buffer)


def _fetch_and_compare(ia, pixel_format: str, frames: int = 2) -> None:
    nm = ia.remote_device.node_map
    sensor = {"sensor_width": nm.WidthMax.value, "sensor_height": nm.HeightMax.value}
    ia.start()
    try:
        for _ in range(frames):
            if pixel_format.endswith("10Packed"):
                _compare_raw_grouped10(ia, pixel_format, sensor)
                continue
            with ia.fetch(timeout=5) as buffer:
                c = buffer.payload.components[0]
                assert c.data_format == pixel_format
                want = expected_image(
                    pixel_format,
                    c.width,
                    c.height,
                    buffer.frame_id,
                    offset_x=c.x_offset,
                    offset_y=c.y_offset,
                    **sensor,
                )
                got = np.asarray(c.data).reshape(want.shape)
                assert got.dtype == want.dtype
                mismatch = np.argwhere(got != want)
                assert mismatch.size == 0, (
                    f"{pixel_format} frame {buffer.frame_id}: first differences at "
                    f"{mismatch[:3].tolist()}"
                )
    finally:
        ia.stop()


@pytest.mark.parametrize("preset", FORMATS)
def test_every_pixel_format_matches_the_formula(acquirer, preset):
    ia = acquirer(SERIALS[preset])
    nm = ia.remote_device.node_map
    assert sorted(nm.PixelFormat.symbolics) == sorted(FORMATS[preset])
    # A window across the quadrant borders of the colour scene.
    nm.Width.value, nm.Height.value = 128, 32
    nm.OffsetX.value = nm.WidthMax.value // 2 - 64
    nm.OffsetY.value = nm.HeightMax.value // 2 - 16
    for pixel_format in FORMATS[preset]:
        nm.PixelFormat.value = pixel_format
        _fetch_and_compare(ia, pixel_format)


@pytest.mark.parametrize(
    "preset, pixel_format",
    [
        ("mono12", "Mono12p"),
        ("bayer12", "BayerGB12Packed"),
        ("rgb8", "BGRa8"),
        ("legacy", "Mono12Packed"),
    ],
)
def test_a_full_sensor_frame_matches_the_formula(acquirer, preset, pixel_format):
    ia = acquirer(SERIALS[preset])
    ia.remote_device.node_map.PixelFormat.value = pixel_format
    _fetch_and_compare(ia, pixel_format, frames=1)


def test_the_colour_scene_is_visible_through_the_mosaic(acquirer):
    """Red top left, blue bottom left, and a white square moving 16 pixels a frame."""
    ia = acquirer(SERIALS["bayer12"])
    nm = ia.remote_device.node_map
    nm.PixelFormat.value = "BayerRG8"
    ia.start()
    try:
        seen = []
        for _ in range(2):
            with ia.fetch(timeout=5) as buffer:
                c = buffer.payload.components[0]
                image = np.asarray(c.data).reshape(c.height, c.width)
                red, blue = image[0::2, 0::2], image[1::2, 1::2]
                assert red[:100, :100].min() >= 192 and blue[:100, :100].max() < 64
                assert blue[-100:, :100].min() >= 192 and red[-100:, :100].max() < 64
                middle = c.height // 2 - 1  # an R/G line through the square
                white = np.flatnonzero(image[middle, 1::2] >= 192) * 2 + 1  # green samples lit
                seen.append((buffer.frame_id, white[white < c.width // 2].min()))
        (f0, x0), (f1, x1) = seen
        assert x1 - x0 == 16 * (f1 - f0)
    finally:
        ia.stop()
