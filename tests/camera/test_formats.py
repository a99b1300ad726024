"""Every pixel format of the simulated cameras, from the buffer to the BGR
image, against the documented image formula (vantix.sim.expected_image)
converted here independently with numpy and OpenCV."""

from __future__ import annotations

import cv2
import numpy as np
import pytest

from vantix import sim
from vantix.io.camera.base import CameraError

from .conftest import BAYER12, LEGACY, MONO12, RGB8

SENSORS = {p.serial: (p.width, p.height) for p in sim.PRESETS.values()}
# OpenCV names a Bayer code after the mosaic's second row.
OPENCV_BAYER = {
    "RG": cv2.COLOR_BayerBG2BGR,
    "GR": cv2.COLOR_BayerGB2BGR,
    "GB": cv2.COLOR_BayerGR2BGR,
    "BG": cv2.COLOR_BayerRG2BGR,
}
MONO = ["Mono8", "Mono10", "Mono12", "Mono16", "Mono10p", "Mono12p", "Mono10Packed", "Mono12Packed"]
BAYER = [
    f"Bayer{p}{d}"
    for p in OPENCV_BAYER
    for d in ("8", "10", "12", "10p", "12p", "10Packed", "12Packed")
]
CASES = (
    [(MONO12, f) for f in MONO]
    + [(BAYER12, f) for f in BAYER]
    + [(RGB8, f) for f in ("RGB8", "BGR8", "RGBa8", "BGRa8")]
    + [(LEGACY, "Mono8"), (LEGACY, "Mono12Packed")]
)


def reference_bgr(fmt: str, samples: np.ndarray) -> np.ndarray:
    """The BGR image of the formula's samples: the top 8 bits of each sample,
    then OpenCV's grey, demosaic or channel conversion."""
    if fmt[:3] in ("RGB", "BGR"):
        rgb = samples[..., :3] if fmt.startswith("RGB") else samples[..., 2::-1]
        return np.ascontiguousarray(rgb[..., ::-1])
    bits = int("".join(ch for ch in fmt.split("Packed")[0].rstrip("p") if ch.isdigit()))
    eight = (samples >> (bits - 8)).astype(np.uint8)
    if fmt.startswith("Mono"):
        return cv2.cvtColor(eight, cv2.COLOR_GRAY2BGR)
    return cv2.cvtColor(eight, OPENCV_BAYER[fmt[5:7]])


@pytest.mark.parametrize("serial, fmt", CASES, ids=[f for _, f in CASES])
def test_buffer_to_bgr_follows_the_formula(camera, serial, fmt):
    cam = camera(serial=serial, pixel_format=fmt, width=96, height=40, offset_x=32, offset_y=6)
    image, info = cam._receive(2.0)
    width, height = SENSORS[serial]
    samples = sim.expected_image(
        fmt,
        96,
        40,
        info["device_frame_id"],
        sensor_width=width,
        sensor_height=height,
        offset_x=32,
        offset_y=6,
    )
    assert info["pixel_format"] == fmt and "buffer_pixel_format" not in info
    np.testing.assert_array_equal(image, reference_bgr(fmt, samples))


def test_bayer_quadrants_keep_their_colours(camera):
    # The scene is red top left, green top right, blue bottom left: a mix-up
    # of the mosaic's channels shows here whatever the code table says.
    cam = camera(serial=BAYER12, pixel_format="BayerGR12p")
    image, _ = cam._receive(2.0)
    b, g, r = (image[100:140, 100:140, c].mean() for c in range(3))
    assert r > 200 and g < 60 and b < 60
    b, g, r = (image[-140:-100, 100:140, c].mean() for c in range(3))
    assert b > 200 and r < 60 and g < 60


def test_a_format_the_conversion_does_not_know_is_named(camera):
    cam = camera(serial=RGB8, pixel_format="YCbCr422_8", width=96, height=40)
    with pytest.raises(CameraError, match="^지원하지 않는 PixelFormat: YCbCr422_8"):
        cam._receive(2.0)


@pytest.mark.parametrize("fmt", ["Mono12p", "Mono10Packed", "Mono16"])
def test_the_component_gives_the_samples_as_harvesters_does(camera, gc, fmt):
    # A _to_bgr of a host's own sees unpacked samples in `data`.
    seen = []

    class Keeping(gc.GentlCamera):
        def _to_bgr(self, component, pixel_format):
            seen.append(np.array(component.data, copy=True))
            return super()._to_bgr(component, pixel_format)

    cam = camera(cls=Keeping, serial=MONO12, pixel_format=fmt, width=96, height=40)
    info = cam._receive(2.0)[1]
    width, height = SENSORS[MONO12]
    want = sim.expected_image(
        fmt, 96, 40, info["device_frame_id"], sensor_width=width, sensor_height=height
    )
    np.testing.assert_array_equal(seen[0], want.ravel())
