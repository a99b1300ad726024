"""The module functions _unpack and _bit_shift against numpy bit arithmetic."""

from __future__ import annotations

import numpy as np
import pytest

from vantix.io.camera import gentl_camera
from vantix.io.camera.base import CameraError

from .conftest import random_samples

PACKED = [(10, "p"), (12, "p"), (14, "p"), (10, "Packed"), (12, "Packed")]


@pytest.mark.parametrize("bits,kind", PACKED)
@pytest.mark.parametrize("count", [0, 1, 2, 3, 4, 5, 7, 8, 9, 1001])
def test_unpack_recovers_the_samples(pack, bits, kind, count):
    s = random_samples(count, bits, seed=count)
    out = gentl_camera._unpack(pack(s, bits, kind), bits, kind, count)
    assert out.dtype == np.uint16 and out.shape == (count,)
    np.testing.assert_array_equal(out, s)


def test_unpack_reads_the_documented_layouts():
    raw = np.array([0x21, 0x43, 0x65], np.uint8)
    assert gentl_camera._unpack(raw, 12, "p", 2).tolist() == [0x321, 0x654]
    assert gentl_camera._unpack(raw, 12, "Packed", 2).tolist() == [0x213, 0x654]
    assert gentl_camera._unpack(raw, 10, "Packed", 2).tolist() == [0x21 << 2 | 3, 0x65 << 2 | 0]
    ones = np.full(5, 0xFF, np.uint8)
    assert gentl_camera._unpack(ones, 10, "p", 4).tolist() == [0x3FF] * 4


def test_unpack_copies_samples_that_are_already_unpacked():
    s = random_samples(6, 12)
    out = gentl_camera._unpack(s, 12, "p", 6)
    np.testing.assert_array_equal(out, s)
    assert not np.shares_memory(out, s)


def test_unpack_output_owns_its_memory(pack):
    raw = pack(random_samples(8, 12), 12, "p")
    out = gentl_camera._unpack(raw, 12, "p", 8)
    assert out.flags.owndata and not np.shares_memory(out, raw)


@pytest.mark.parametrize(
    "bits,kind", [(16, "p"), (14, "Packed"), (8, "p"), (12, "q"), (12, ""), (-12, "p")]
)
def test_unpack_rejects_unknown_packings(bits, kind):
    with pytest.raises(CameraError) as info:
        gentl_camera._unpack(np.zeros(8, np.uint8), bits, kind, 4)
    assert str(info.value) == (
        f"지원하지 않는 팩 포맷: {bits}{kind} (p: 10/12/14, Packed: 10/12). 알려지지 않은 팩 "
        "포맷일 수 있습니다 — 카메라 PixelFormat 을 Mono8/BayerXX8 로 바꾸거나 "
        "params.pixel_format 으로 지정하세요."
    )


@pytest.mark.parametrize(
    "data,count,message",
    [
        (
            np.zeros(5, np.uint8),
            4,
            "12-bit packed payload too small: 12p needs 6 bytes for 4 samples, got 5",
        ),
        (
            np.zeros(0, np.uint8),
            1,
            "12-bit packed payload too small: 12p needs 2 bytes for 1 samples, got 0",
        ),
        (np.zeros(3, np.uint16), 4, "payload size mismatch: 12p needs 4 uint16 values, got 3"),
        (
            np.zeros(4, np.float64),
            4,
            "payload size mismatch: 12p needs uint8 or uint16 samples, got float64",
        ),
        (np.zeros(6, np.uint8), -1, "payload size mismatch: invalid sample count -1"),
        (np.zeros(6, np.uint8), 2**80, f"payload size mismatch: invalid sample count {2**80}"),
        (
            np.zeros(6, np.uint8),
            2**62,
            f"12-bit packed payload too small: 12p needs more bytes for {2**62} samples, got 6",
        ),
        (
            np.zeros(14, np.uint8),
            4,
            "페이로드가 예상보다 큽니다: 12p, 14 values for 6 (픽셀당 3.5개). "
            "카메라에서 Mono8/BayerXX8/RGB8/BGR8 중 하나로 설정하거나 "
            "params.pixel_format 를 지정하세요.",
        ),
        (None, 4, "empty payload (unsupported payload type?)"),
    ],
)
def test_unpack_size_errors(data, count, message):
    with pytest.raises(CameraError) as info:
        gentl_camera._unpack(data, 12, "p", count)
    assert str(info.value) == message


@pytest.mark.parametrize("bits", range(8, 17))
@pytest.mark.parametrize("shape", [(0,), (1,), (7,), (3, 5), (2, 3, 4)])
def test_bit_shift(bits, shape):
    s = np.random.default_rng(bits).integers(0, 1 << 16, size=shape, dtype=np.uint16)
    out = gentl_camera._bit_shift(s, bits)
    want = np.minimum(s >> (bits - 8), 255).astype(np.uint8)
    assert out.dtype == np.uint8 and out.shape == s.shape
    np.testing.assert_array_equal(out, want)
    assert not np.shares_memory(out, s)


def test_bit_shift_of_eight_bit_samples_copies():
    s = np.arange(10, dtype=np.uint8)
    out = gentl_camera._bit_shift(s, 8)
    np.testing.assert_array_equal(out, s)
    assert not np.shares_memory(out, s)


def test_bit_shift_takes_any_layout():
    s = np.arange(0, 4096, 16, dtype=np.uint16).reshape(16, 16)
    np.testing.assert_array_equal(gentl_camera._bit_shift(s.T, 12), (s.T >> 4).astype(np.uint8))
    np.testing.assert_array_equal(gentl_camera._bit_shift(s.astype(">u2"), 12), s >> 4)


@pytest.mark.parametrize(
    "data,bits,message",
    [
        (np.zeros(4, np.uint16), 7, "지원하지 않는 PixelFormat: 7-bit samples"),
        (np.zeros(4, np.uint16), 17, "지원하지 않는 PixelFormat: 17-bit samples"),
        (np.zeros(4, np.uint16), None, "지원하지 않는 PixelFormat: None-bit samples"),
        (np.zeros(4, np.uint8), 12, "payload size mismatch: 12-bit samples need uint16, got uint8"),
        (
            np.zeros(4, np.int32),
            8,
            "payload size mismatch: 8-bit samples need uint8 or uint16, got int32",
        ),
        (None, 12, "empty payload (unsupported payload type?)"),
    ],
)
def test_bit_shift_rejections(data, bits, message):
    with pytest.raises(CameraError) as info:
        gentl_camera._bit_shift(data, bits)
    assert str(info.value).startswith(message)
