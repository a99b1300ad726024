"""Conversion of the components that real harvesters hands over, from the
simulated producer: Mono8 (TLSimuMono, 512x512) and RGB8 (TLSimuColor,
768x572) buffers, 1-D uint8 views into the acquisition buffer, whatever
format the camera's PixelFormat node is set to."""

from __future__ import annotations

import cv2
import numpy as np
import pytest

MONO, COLOUR = "SN_InterfaceA_0", "SN_InterfaceB_1"


@pytest.mark.parametrize("serial,fmt,channels,code", [
    (MONO, "Mono8", 1, cv2.COLOR_GRAY2BGR),
    (COLOUR, "RGB8", 3, cv2.COLOR_RGB2BGR),
])
def test_real_components(sim_camera, serial, fmt, channels, code):
    cam = sim_camera(serial)
    for _ in range(3):
        image, info = cam._receive(5.0)
        seen = cam.seen
        h, w = seen["height"], seen["width"]
        assert seen["data_format"] == fmt and seen["dtype"] == np.uint8
        assert seen["data"].shape == (h * w * channels,)
        pixels = seen["data"].reshape((h, w) if channels == 1 else (h, w, channels))
        np.testing.assert_array_equal(image, cv2.cvtColor(pixels, code))
        assert not seen["shares_memory"]
        assert info["pixel_format"] == fmt


@pytest.mark.parametrize("node_format", ["BayerRG12", "Mono12Packed", "RGB8"])
def test_the_buffer_format_decides_not_the_node(sim_camera, node_format):
    # The simulator keeps delivering Mono8 whatever the node says.
    cam = sim_camera(MONO, pixel_format=node_format)
    image, info = cam._receive(5.0)
    assert cam.seen["pixel_format"] == node_format
    assert info.get("buffer_pixel_format") == "Mono8"
    grey = cam.seen["data"].reshape(cam.seen["height"], cam.seen["width"])
    np.testing.assert_array_equal(image, cv2.cvtColor(grey, cv2.COLOR_GRAY2BGR))
