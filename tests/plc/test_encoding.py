"""Register map and value encoding: what _build_writes makes of a result."""

import math
import zlib

import numpy as np
import pytest

from vantix.io.sink.plc_link import PlcLinkSink
from vantix.schemas.common import InspectionResult, Verdict


def writes(params=None, verdict=Verdict.OK, score=0.5, context=None, seq=1):
    sink = PlcLinkSink(params)
    sink._seq = seq
    return sink._build_writes(InspectionResult(verdict, score), context or {"product_id": "abc"})


def test_default_map_in_fixed_order():
    assert writes() == [(100, 1), (101, 500), (102, 1), (103, 16834)]


@pytest.mark.parametrize(
    ("score", "scale", "expected"),
    [
        (0.8734, 1000, 873),
        (0.9999, 1000, 999),  # truncated, not rounded
        (70.0, 1000, 65535),
        (-0.2, 1000, 0),
        (math.nan, 1000, 0),
        (math.inf, 1000, 65535),
        (-math.inf, 1000, 0),
        (1.0, "100", 100),
        (0.5, "nan", 0),
        (np.float32(0.25), 1000, 250),
        (True, 7, 7),
    ],
)
def test_score_is_scaled_clamped_and_truncated(score, scale, expected):
    assert writes({"score_scale": scale}, score=score)[1] == (101, expected)


@pytest.mark.parametrize(
    ("verdict", "code"),
    [(Verdict.OK, 1), (Verdict.NG, 2), (Verdict.ERROR, 3), ("NG", 2), (None, 3), ("late", 3)],
)
def test_verdict_codes(verdict, code):
    assert writes(verdict=verdict)[0] == (100, code)


@pytest.mark.parametrize("product_id", ["abc", "", 7, "검사-7", "ß" * 4000, "😀 id", None, 3.5])
def test_product_hash_is_low_16_bits_of_zlib_crc32(product_id):
    expected = zlib.crc32(str(product_id).encode("utf-8")) & 0xFFFF
    assert writes(context={"product_id": product_id})[3] == (103, expected)


def test_missing_product_id_hashes_as_empty_text():
    assert writes(context={"other": 1})[3] == (103, 0)


class NoContext(dict):
    def get(self, *args):
        raise AssertionError("context read although the product register is off")


@pytest.mark.parametrize(
    ("params", "expected"),
    [
        ({"product_register": None}, [(100, 1), (101, 500), (102, 1)]),
        (
            dict.fromkeys(
                ["verdict_register", "score_register", "seq_register", "product_register"]
            ),
            [],
        ),
        ({"seq_register": "200", "product_register": None}, [(100, 1), (101, 500), (200, 1)]),
        (
            {"score_register": 100.9, "seq_register": 100, "product_register": None},
            [(100, 1), (100, 500), (100, 1)],
        ),  # neither range-checked nor de-duplicated
    ],
)
def test_register_parameters(params, expected):
    assert writes(params, context=NoContext()) == expected


def test_params_are_read_afresh_and_reg_converts_like_int():
    sink = PlcLinkSink({"verdict_register": 100})
    sink.params["verdict_register"] = "105"
    assert sink._reg("verdict_register", 100) == 105
    sink.params["verdict_register"] = True
    assert type(sink._reg("verdict_register", 100)) is int
    assert sink._reg("heartbeat_register", None) is None


@pytest.mark.parametrize(
    ("params", "score", "error"),
    [
        ({"score_register": "abc"}, 0.5, ValueError),
        ({"seq_register": [1]}, 0.5, TypeError),
        ({}, None, TypeError),
    ],
)
def test_bad_input_raises_without_side_effects(params, score, error):
    sink = PlcLinkSink(params)
    with pytest.raises(error):
        sink._build_writes(InspectionResult(Verdict.OK, score), {})
    assert sink._seq == 0 and sink._client is None
