"""GentlCamera._to_bgr against an independent computation: numpy bit
arithmetic for unpacking and depth reduction, cv2 for the colour conversions."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import time

import cv2
import numpy as np
import pytest

from vantix.io.camera import gentl_camera
from vantix.io.camera.base import CameraError

from .conftest import random_samples

SIZES = [(1, 1), (1, 7), (3, 5), (5, 3), (7, 13), (32, 48)]  # (height, width)
PATTERNS = ["BayerRG", "BayerGR", "BayerGB", "BayerBG"]
PACKED = [(10, "p"), (12, "p"), (14, "p"), (10, "Packed"), (12, "Packed")]

UNSUPPORTED_FORMAT = (
    "지원하지 않는 PixelFormat: {}. 카메라 PixelFormat 을 Mono8/BayerXX8 또는 Mono12p 계열로 "
    "바꾸세요 (params.pixel_format 으로 지정 가능)."
)
UNSUPPORTED_PACKING = (
    "지원하지 않는 팩 포맷: {} (p: 10/12/14, Packed: 10/12). 알려지지 않은 팩 포맷일 수 "
    "있습니다 — 카메라 PixelFormat 을 Mono8/BayerXX8 로 바꾸거나 params.pixel_format 으로 "
    "지정하세요."
)
TOO_LARGE = (
    "페이로드가 예상보다 큽니다: {}. 카메라에서 Mono8/BayerXX8/RGB8/BGR8 중 하나로 "
    "설정하거나 params.pixel_format 를 지정하세요."
)


def grey8(s: np.ndarray, bits: int, h: int, w: int) -> np.ndarray:
    return (s >> (bits - 8)).astype(np.uint8).reshape(h, w)


def payload(s: np.ndarray, bits: int, form: str, pack) -> np.ndarray:
    """The samples as a component can carry them."""
    if form == "uint16":
        return s.copy()
    if form == "le-bytes":
        return s.astype("<u2").view(np.uint8).copy()
    return pack(s, bits, form)


# --- every supported format ----------------------------------------------------


@pytest.mark.parametrize("h,w", SIZES)
@pytest.mark.parametrize("bits", [8, 10, 12, 14, 16])
@pytest.mark.parametrize("form", ["uint16", "le-bytes"])
def test_mono_unpacked(convert, pack, h, w, bits, form):
    s = random_samples(h * w, bits, seed=bits)
    data = s.astype(np.uint8) if bits == 8 else payload(s, bits, form, pack)
    image = convert(data, w, h, f"Mono{bits}")
    want = cv2.cvtColor(grey8(s, bits, h, w), cv2.COLOR_GRAY2BGR)
    assert image.dtype == np.uint8 and image.shape == (h, w, 3)
    np.testing.assert_array_equal(image, want)


@pytest.mark.parametrize("h,w", SIZES)
@pytest.mark.parametrize("bits,kind", PACKED)
@pytest.mark.parametrize("expanded", [True, False], ids=["uint16", "raw"])
def test_mono_packed(convert, pack, h, w, bits, kind, expanded):
    s = random_samples(h * w, bits, seed=h * w)
    data = s if expanded else pack(s, bits, kind)
    image = convert(data, w, h, f"Mono{bits}{kind}")
    np.testing.assert_array_equal(image, cv2.cvtColor(grey8(s, bits, h, w), cv2.COLOR_GRAY2BGR))


BAYER_FORMS = [
    (8, "", "uint8"),
    (10, "", "uint16"),
    (12, "", "uint16"),
    (14, "", "uint16"),
    (16, "", "uint16"),
    (12, "", "le-bytes"),
    (10, "p", "p"),
    (12, "p", "p"),
    (14, "p", "p"),
    (10, "Packed", "Packed"),
    (12, "Packed", "Packed"),
    (12, "p", "uint16"),
]


@pytest.mark.parametrize("h,w", [(1, 1), (3, 5), (7, 13), (32, 48)])
@pytest.mark.parametrize("pattern", PATTERNS)
@pytest.mark.parametrize("bits,kind,form", BAYER_FORMS)
def test_bayer(convert, pack, h, w, pattern, bits, kind, form):
    s = random_samples(h * w, bits, seed=bits + w)
    data = s.astype(np.uint8) if form == "uint8" else payload(s, bits, form, pack)
    image = convert(data, w, h, f"{pattern}{bits}{kind}")
    code = getattr(cv2, gentl_camera._BAYER_MAP[pattern])
    np.testing.assert_array_equal(image, cv2.cvtColor(grey8(s, bits, h, w), code))


@pytest.mark.parametrize("h,w", SIZES)
@pytest.mark.parametrize(
    "fmt,channels,code",
    [
        ("RGB8", 3, cv2.COLOR_RGB2BGR),
        ("BGR8", 3, None),
        ("RGBa8", 4, cv2.COLOR_RGBA2BGR),
        ("BGRa8", 4, cv2.COLOR_BGRA2BGR),
        ("RGB8Packed", 3, cv2.COLOR_RGB2BGR),
        ("BGRA8Packed", 4, cv2.COLOR_BGRA2BGR),
    ],
)
def test_eight_bit_colour(convert, h, w, fmt, channels, code):
    data = random_samples(h * w * channels, 8, seed=channels).astype(np.uint8)
    image = convert(data, w, h, fmt)
    pixels = data.reshape(h, w, channels)
    want = pixels if code is None else cv2.cvtColor(pixels, code)
    np.testing.assert_array_equal(image, want)


# Tiny, odd and vector-width-straddling sizes; the largest is shared among threads.
BAYER_SIZES = [(h, w) for h in range(1, 6) for w in range(1, 6)] + [
    (3, 33),
    (6, 34),
    (5, 66),
    (4, 67),
    (97, 131),
    (523, 1031),
]


@pytest.mark.parametrize("h,w", BAYER_SIZES)
@pytest.mark.parametrize("pattern", PATTERNS)
def test_bayer_is_opencv_at_every_size(convert, h, w, pattern):
    s = random_samples(h * w, 12, seed=1000 * h + w)
    code = getattr(cv2, gentl_camera._BAYER_MAP[pattern])
    mosaic8 = grey8(s, 12, h, w)
    np.testing.assert_array_equal(convert(s, w, h, f"{pattern}12"), cv2.cvtColor(mosaic8, code))
    np.testing.assert_array_equal(
        convert(mosaic8.ravel(), w, h, f"{pattern}8"), cv2.cvtColor(mosaic8, code)
    )


@pytest.mark.parametrize(
    "code",
    ["COLOR_BayerRGGB2BGR", "COLOR_BayerGRBG2BGR", "COLOR_BayerGBRG2BGR", "COLOR_BayerBGGR2BGR"],
)
def test_forced_codes_under_any_name(convert, code):
    if not hasattr(cv2, code):
        pytest.skip(f"this OpenCV has no {code}")
    mosaic = random_samples(7 * 9, 12)
    image = convert(mosaic, 9, 7, "BayerRG12", bayer_cv_code=code)
    np.testing.assert_array_equal(image, cv2.cvtColor(grey8(mosaic, 12, 7, 9), getattr(cv2, code)))


# --- the Bayer orientation ------------------------------------------------------

# Where the red sites of each PFNC pattern are: the name reads the first row.
RED_SITE = {"BayerRG": (0, 0), "BayerGR": (0, 1), "BayerGB": (1, 0), "BayerBG": (1, 1)}


@pytest.mark.parametrize("pattern", PATTERNS)
@pytest.mark.parametrize(
    "bits,kind,form",
    [(8, "", "uint8"), (12, "", "uint16"), (12, "p", "p"), (10, "Packed", "Packed")],
)
def test_red_sites_alone_come_out_red(convert, pack, pattern, bits, kind, form):
    h, w = 10, 12
    mosaic = np.zeros((h, w), np.uint16)
    y, x = RED_SITE[pattern]
    mosaic[y::2, x::2] = 200 << (bits - 8)
    s = mosaic.ravel()
    data = s.astype(np.uint8) if form == "uint8" else payload(s, bits, form, pack)
    image = convert(data, w, h, f"{pattern}{bits}{kind}")
    inner = image[2:-2, 2:-2]
    assert (inner[..., 2] == 200).all(), "red channel"
    assert (inner[..., :2] == 0).all(), "blue and green channels"


def test_forced_code_replaces_the_table(convert):
    mosaic = np.zeros((6, 8), np.uint8)
    mosaic[0::2, 0::2] = 200  # red sites of BayerRG
    # The code for a mosaic whose blue sites are at the top-left: red turns blue.
    image = convert(mosaic.ravel(), 8, 6, "BayerRG8", bayer_cv_code="COLOR_BayerRG2BGR")
    assert (image[2:-2, 2:-2, 0] == 200).all() and (image[2:-2, 2:-2, 1:] == 0).all()
    # Any pattern name is accepted when the code is forced.
    convert(mosaic.ravel(), 8, 6, "BayerXY8", bayer_cv_code="COLOR_BayerGB2BGR")


@pytest.mark.parametrize("code", ["COLOR_BayerBG2BGR_EA", "COLOR_BayerRGGB2BGR_VNG"])
def test_forced_demosaic_variants(convert, code):
    if not hasattr(cv2, code):
        pytest.skip(f"this OpenCV has no {code}")
    mosaic = random_samples(6 * 8, 8).astype(np.uint8)
    image = convert(mosaic, 8, 6, "BayerRG8", bayer_cv_code=code)
    np.testing.assert_array_equal(image, cv2.cvtColor(mosaic.reshape(6, 8), getattr(cv2, code)))


def test_table_is_read_at_call_time(convert, monkeypatch):
    mosaic = np.zeros((6, 8), np.uint8)
    mosaic[0::2, 0::2] = 200
    monkeypatch.setattr(gentl_camera, "_BAYER_MAP", {"BayerRG": "COLOR_BayerRG2BGR"})
    image = convert(mosaic.ravel(), 8, 6, "BayerRG8")
    assert (image[2:-2, 2:-2, 0] == 200).all()
    with pytest.raises(CameraError, match="^unsupported Bayer format: BayerGR8$"):
        convert(mosaic.ravel(), 8, 6, "BayerGR8")


# --- what the result is -----------------------------------------------------------


@pytest.mark.parametrize(
    "fmt,dtype,per_pixel",
    [
        ("Mono8", np.uint8, 1),
        ("Mono12", np.uint16, 1),
        ("BayerRG8", np.uint8, 1),
        ("BayerGB12", np.uint16, 1),
        ("BGR8", np.uint8, 3),
        ("RGB8", np.uint8, 3),
        ("Mono12p", np.uint8, 1.5),
    ],
)
def test_image_owns_its_memory(convert, fmt, dtype, per_pixel):
    h, w = 4, 6
    data = np.arange(int(h * w * per_pixel), dtype=dtype) % 250
    image = convert(data, w, h, fmt)
    assert not np.shares_memory(image, data)
    before = image.copy()
    data[...] = 0  # the producer reuses the buffer
    np.testing.assert_array_equal(image, before)
    assert image.flags.c_contiguous and image.flags.writeable


def test_samples_above_the_depth_saturate(convert):
    data = np.array([0xFFFF, 0x1000, 0x0FFF, 0x0010], np.uint16)
    image = convert(data, 2, 2, "Mono12")
    assert image[..., 0].ravel().tolist() == [255, 255, 255, 1]


@pytest.mark.parametrize(
    "make",
    [
        lambda s: s.reshape(4, 6),  # 2-D
        lambda s: np.repeat(s, 2)[::2],  # strided view
        lambda s: s.astype(">u2"),  # big-endian words
    ],
)
def test_any_array_layout_of_the_samples(convert, make):
    s = random_samples(24, 12)
    image = convert(make(s), 6, 4, "Mono12")
    np.testing.assert_array_equal(image[..., 1], grey8(s, 12, 4, 6))


def test_bytes_objects_are_raw_payloads(convert):
    s = random_samples(24, 8).astype(np.uint8)
    np.testing.assert_array_equal(convert(s.tobytes(), 6, 4, "Mono8")[..., 0], s.reshape(4, 6))
    np.testing.assert_array_equal(
        convert(memoryview(bytearray(s)), 6, 4, "Mono8")[..., 2], s.reshape(4, 6)
    )


def test_component_format_wins_over_the_node_format(convert):
    # The simulator reports "BayerRG12" on the node and delivers Mono8 buffers.
    s = random_samples(12, 8).astype(np.uint8)
    image = convert(s, 4, 3, "Mono8", node_format="BayerRG12")
    np.testing.assert_array_equal(image[..., 0], s.reshape(3, 4))


@pytest.mark.parametrize("component_format", ["", None])
def test_node_format_when_the_component_has_none(pack, component, component_format):
    s = random_samples(12, 12)
    formats = () if component_format is None else (component_format,)
    image = gentl_camera.GentlCamera()._to_bgr(
        component(pack(s, 12, "p"), 4, 3, *formats), "Mono12p"
    )
    np.testing.assert_array_equal(image[..., 0], grey8(s, 12, 3, 4))


def test_conversion_is_a_method_a_subclass_can_wrap(component):
    class Cam(gentl_camera.GentlCamera):
        def _to_bgr(self, component, pixel_format):
            return super()._to_bgr(component, pixel_format)[::-1]

    image = Cam()._to_bgr(component(np.arange(4, dtype=np.uint8), 1, 4, "Mono8"), "")
    assert image[:, 0, 0].tolist() == [3, 2, 1, 0]


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_frames_shared_among_threads_convert_in_a_forked_child(convert):
    s = random_samples(600 * 800, 12)
    want = convert(s, 800, 600, "BayerRG12")  # the parent's helper threads are running
    pid = os.fork()
    if pid == 0:
        os._exit(0 if np.array_equal(convert(s, 800, 600, "BayerRG12"), want) else 1)
    deadline = time.monotonic() + 30
    while (status := os.waitpid(pid, os.WNOHANG))[0] == 0 and time.monotonic() < deadline:
        time.sleep(0.05)
    if status[0] == 0:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        pytest.fail("the child hung")
    assert os.waitstatus_to_exitcode(status[1]) == 0


# OpenCV's loader ends in a bare except, as this stand-in does: a Ctrl+C
# during the first import of cv2 must not be swallowed by it.
SWALLOWING_CV2 = """
import os, signal, sys
try:
    os.kill(os.getpid(), signal.SIGINT)
    for _ in range(10000):
        pass
except:  # noqa: E722
    pass
sys.path.remove(os.path.dirname(__file__))
del sys.modules["cv2"]
import cv2
"""

INTERRUPTED_CONVERSION = """
import numpy as np
from vantix.io.camera import gentl_camera
component = type("C", (), {"data": np.zeros((4, 4), np.uint8), "width": 4, "height": 4,
                           "data_format": "BayerRG8"})()
try:
    gentl_camera.GentlCamera()._to_bgr(component, "")
except KeyboardInterrupt:
    print("interrupted")
"""


def test_ctrl_c_during_the_first_import_of_opencv_is_not_lost(tmp_path):
    (tmp_path / "cv2.py").write_text(SWALLOWING_CV2)
    env = {**os.environ, "PYTHONPATH": str(tmp_path)}
    run = subprocess.run(
        [sys.executable, "-c", INTERRUPTED_CONVERSION],
        capture_output=True,
        text=True,
        timeout=120,
        env=env,
    )
    assert run.stdout.splitlines()[-1:] == ["interrupted"], run.stdout + run.stderr


# --- rejections --------------------------------------------------------------------


@pytest.mark.parametrize(
    "data",
    [
        None,
        np.empty(0, np.uint8),
        np.empty((0, 3), np.uint16),
        b"",
        object(),
        "Mono8",
        [1, 2, 3, 4],
    ],
)
def test_empty_or_unusable_payload(convert, data):
    with pytest.raises(CameraError) as info:
        convert(data, 2, 2, "Mono8")
    assert str(info.value) == "empty payload (unsupported payload type?)"


def test_missing_data_attribute_is_an_empty_payload():
    class NoData:
        width = height = 2
        data_format = "Mono8"

    with pytest.raises(CameraError, match=r"^empty payload \(unsupported payload type\?\)$"):
        gentl_camera.GentlCamera()._to_bgr(NoData(), "")


@pytest.mark.parametrize(
    "fmt",
    [
        "YUV422Packed",
        "Mono8Signed",
        "RGB10Packed",
        "RGB12Planar",
        "Coord3D_C16",
        "Mono32",
        "mono8",
        "Mono10c3p32",
        "BayerRG32",
    ],
)
def test_unknown_formats(convert, fmt):
    with pytest.raises(CameraError) as info:
        convert(np.zeros(8, np.uint8), 4, 2, fmt)
    assert str(info.value) == UNSUPPORTED_FORMAT.format(fmt)


def test_no_format_name_at_all(convert):
    with pytest.raises(CameraError) as info:
        convert(np.zeros(8, np.uint8), 4, 2, "", node_format="")
    assert str(info.value) == UNSUPPORTED_FORMAT.format("''")


@pytest.mark.parametrize("fmt", ["Mono16p", "Mono14Packed", "BayerRG8p", "Mono1p", "BayerGB9p"])
def test_packed_formats_without_an_unpacker(convert, fmt):
    with pytest.raises(CameraError) as info:
        convert(np.zeros(8, np.uint8), 4, 2, fmt)
    assert str(info.value) == UNSUPPORTED_PACKING.format(fmt)


@pytest.mark.parametrize("fmt", ["BayerXY8", "Bayer8", "BayerRGGB12p"])
def test_unknown_bayer_pattern(convert, fmt):
    data = np.zeros(16, np.uint8 if fmt.endswith("8") else np.uint16)
    with pytest.raises(CameraError) as info:
        convert(data, 4, 4, fmt)
    assert str(info.value) == f"unsupported Bayer format: {fmt}"


@pytest.mark.parametrize(
    "code",
    ["COLOR_Nope", "COLOR_BGR2GRAY", "COLOR_BayerRG2GRAY", "COLOR_BayerBG2BGRA", "BayerRG2BGR", 46],
)
def test_unknown_forced_code(convert, code):
    with pytest.raises(CameraError) as info:
        convert(np.zeros(16, np.uint8), 4, 4, "BayerRG8", bayer_cv_code=code)
    assert str(info.value) == f"unknown OpenCV conversion code: {code}"


def test_unknown_code_in_the_table(convert, monkeypatch):
    monkeypatch.setitem(gentl_camera._BAYER_MAP, "BayerRG", "COLOR_BayerXX2BGR")
    with pytest.raises(CameraError, match="^unknown OpenCV conversion code: COLOR_BayerXX2BGR$"):
        convert(np.zeros(16, np.uint8), 4, 4, "BayerRG8")


SIZE_ERRORS = [
    # short
    (
        "Mono8",
        np.zeros(7, np.uint8),
        "payload size mismatch: Mono8 4x2 needs 8 uint8 values, got 7 uint8",
    ),
    (
        "Mono8",
        np.zeros(8, np.uint16),
        "payload size mismatch: Mono8 4x2 needs 8 uint8 values, got 8 uint16",
    ),
    (
        "RGB8",
        np.zeros(23, np.uint8),
        "payload size mismatch: RGB8 4x2 needs 24 uint8 values, got 23 uint8",
    ),
    (
        "Mono12",
        np.zeros(7, np.uint16),
        "payload size mismatch: Mono12 4x2 needs 8 uint16 values (or 16 bytes), got 7 uint16",
    ),
    (
        "Mono12",
        np.zeros(15, np.uint8),
        "payload size mismatch: Mono12 4x2 needs 8 uint16 values (or 16 bytes), got 15 uint8",
    ),
    (
        "BayerRG12p",
        np.zeros(7, np.uint16),
        "payload size mismatch: BayerRG12p 4x2 needs 8 uint16 values (or 16 bytes), got 7 uint16",
    ),
    (
        "Mono12p",
        np.zeros(11, np.uint8),
        "12-bit packed payload too small: Mono12p 4x2 needs 12 bytes, got 11",
    ),
    (
        "Mono10p",
        np.zeros(9, np.uint8),
        "10-bit packed payload too small: Mono10p 4x2 needs 10 bytes, got 9",
    ),
    (
        "BayerGR10Packed",
        np.zeros(11, np.uint8),
        "10-bit packed payload too small: BayerGR10Packed 4x2 needs 12 bytes, got 11",
    ),
    (
        "Mono8",
        np.zeros(8, np.float32),
        "payload size mismatch: Mono8 4x2 needs uint8 or uint16 samples, got float32",
    ),
    (
        "Mono8",
        np.zeros(8, np.int8),
        "payload size mismatch: Mono8 4x2 needs uint8 or uint16 samples, got int8",
    ),
    # larger
    ("Mono8", np.zeros(24, np.uint8), TOO_LARGE.format("Mono8 4x2, 24 values for 8 (픽셀당 3개)")),
    (
        "Mono12",
        np.zeros(16, np.uint16),
        TOO_LARGE.format("Mono12 4x2, 16 values for 8 (픽셀당 2개)"),
    ),
    ("BGRa8", np.zeros(40, np.uint8), TOO_LARGE.format("BGRa8 4x2, 40 values for 32 (픽셀당 5개)")),
    (
        "Mono12p",
        np.zeros(20, np.uint8),
        TOO_LARGE.format("Mono12p 4x2, 20 values for 12 (픽셀당 2.5개)"),
    ),
]


@pytest.mark.parametrize("fmt,data,message", SIZE_ERRORS)
def test_size_errors(convert, fmt, data, message):
    with pytest.raises(CameraError) as info:
        convert(data, 4, 2, fmt)
    assert str(info.value) == message


def test_packed_payload_may_end_in_transfer_padding(convert, pack):
    s = random_samples(8, 12)
    data = np.concatenate([pack(s, 12, "p"), np.full(7, 0xAB, np.uint8)])
    np.testing.assert_array_equal(convert(data, 4, 2, "Mono12p")[..., 0], grey8(s, 12, 2, 4))


@pytest.mark.parametrize(
    "width,height,message",
    [
        (None, 2, "payload size mismatch: Mono8 Nonex2 is not an image size"),
        (4, -2, "payload size mismatch: Mono8 4x-2 is not an image size"),
        (4.0, 2, "payload size mismatch: Mono8 4.0x2 is not an image size"),
        (2**70, 2, f"payload size mismatch: Mono8 {2**70}x2 is not an image size"),
        (2**40, 2**40, f"payload size mismatch: Mono8 {2**40}x{2**40} is not an image size"),
        (0, 2, "payload size mismatch: Mono8 0x2 has no pixels, got 8 uint8 values"),
    ],
)
def test_impossible_sizes(convert, width, height, message):
    with pytest.raises(CameraError) as info:
        convert(np.zeros(8, np.uint8), width, height, "Mono8")
    assert str(info.value) == message


def test_component_without_a_size():
    class NoSize:
        data = np.zeros(8, np.uint8)
        data_format = "Mono8"

    with pytest.raises(
        CameraError, match="^payload size mismatch: Mono8 NonexNone is not an image size$"
    ):
        gentl_camera.GentlCamera()._to_bgr(NoSize(), "")


def test_errors_of_the_component_itself_pass_through(component):
    class Broken:
        width = height = 2
        data_format = "Mono8"

        @property
        def data(self):
            raise KeyError("lost buffer")

    with pytest.raises(KeyError, match="lost buffer"):
        gentl_camera.GentlCamera()._to_bgr(Broken(), "")


def test_strided_buffer_object_is_unusable(convert):
    view = memoryview(bytearray(16))[::2]
    with pytest.raises(CameraError, match=r"^empty payload"):
        convert(view, 4, 2, "Mono8")


def test_camera_error_is_looked_up_at_call_time(convert, monkeypatch):
    class Replaced(Exception):
        pass

    monkeypatch.setattr(gentl_camera, "CameraError", Replaced)
    with pytest.raises(Replaced):
        convert(None, 2, 2, "Mono8")
