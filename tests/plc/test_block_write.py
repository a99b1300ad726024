"""block_write: the result registers in one write-multiple-registers request,
against a real Modbus TCP server that counts the requests it accepts."""

import logging
import re
import zlib

import pytest

from vantix.io.sink.base import SinkError
from vantix.schemas.common import InspectionResult, Verdict

LOGGER = "vantix.sink.modbus"
RESULT = InspectionResult(Verdict.NG, 0.8734)
HASH = zlib.crc32(b"P-1") & 0xFFFF


def logged(caplog, level):
    return [r.getMessage() for r in caplog.records if r.name == LOGGER and r.levelname == level]


@pytest.fixture
def block_sink(server, make_sink):
    def make(**params):
        sink = make_sink({**server.params, "block_write": True, **params})
        sink.open()
        return sink

    return make


@pytest.mark.parametrize(
    ("registers", "request_", "values"),
    [
        ({}, (1, 100, 4), {100: 2, 101: 873, 102: 1, 103: HASH}),
        # Any order of distinct contiguous addresses is one block.
        (
            {
                "verdict_register": 203,
                "score_register": 201,
                "seq_register": 200,
                "product_register": 202,
            },
            (1, 200, 4),
            {203: 2, 201: 873, 200: 1, 202: HASH},
        ),
        ({"product_register": None}, (1, 100, 3), {100: 2, 101: 873, 102: 1}),
    ],
)
def test_one_request_carries_the_whole_result(
    block_sink, recorder, caplog, registers, request_, values
):
    sink = block_sink(**registers)
    sink.send(RESULT, {"product_id": "P-1"})
    assert recorder.requests == [request_] and recorder.registers() == values
    sink.send(RESULT, {"product_id": "P-1"})
    assert recorder.requests == [request_] * 2 and logged(caplog, "WARNING") == []


@pytest.mark.parametrize(
    ("registers", "listed"),
    [
        ({"product_register": 105}, "100, 101, 102, 105"),
        ({"score_register": 100}, "100, 100, 102, 103"),  # a repeat is no block
    ],
)
def test_registers_that_are_no_block_go_one_by_one(block_sink, recorder, caplog, registers, listed):
    sink = block_sink(**registers)
    assert logged(caplog, "WARNING") == [
        "PlcLinkSink: block_write=True, but the result registers are not contiguous: "
        f"{listed} -> block_write falls back to one request per register"
    ]
    sink.send(RESULT, {"product_id": "P-1"})
    assert [count for _, _, count in recorder.requests] == [1, 1, 1, 1]
    assert len(logged(caplog, "WARNING")) == 1


def test_dropped_block_is_sent_again_after_one_reconnect(block_sink, server, recorder, caplog):
    sink = block_sink()
    sink.send(RESULT, {"product_id": "P-1"})
    server.stop()
    server.start()
    sink.send(RESULT, {"product_id": "P-2"})
    assert recorder.requests == [(1, 100, 4)] * 2
    assert recorder.value(102) == 2 and recorder.value(103) == zlib.crc32(b"P-2") & 0xFFFF
    assert [m.split("(")[0] for m in logged(caplog, "WARNING")] == ["Modbus write failed "]
    server.stop()
    with pytest.raises(SinkError, match="^PlcLinkSink: reconnect failed 127.0.0.1:"):
        sink.send(RESULT, {})
    assert sink._connected is False


def test_refused_block_fails_after_one_retry(block_sink, recorder):
    # 298..301 runs past the server's 300 registers: the whole block is refused.
    sink = block_sink(
        verdict_register=298, score_register=299, seq_register=300, product_register=301
    )
    with pytest.raises(SinkError) as info:
        sink.send(RESULT, {"product_id": "P-1"})
    cause = info.value.__cause__
    assert str(cause).startswith("write_registers(298) returned an error: ")
    assert str(info.value) == f"PlcLinkSink: write failed: {cause}"
    assert recorder.requests == [] and sink._connected is True


def test_a_reply_that_does_not_confirm_the_block_fails_it(make_sink, misconfirming_plc, caplog):
    sink = make_sink({"port": misconfirming_plc.port, "timeout_s": 2, "block_write": True})
    sink.open()
    with pytest.raises(SinkError) as info:
        sink.send(RESULT, {"product_id": "P-1"})
    assert str(info.value).startswith("PlcLinkSink: write failed: write_registers(100) was not ")
    assert len(logged(caplog, "WARNING")) == 1


def test_simulation_logs_the_block_as_one_line(make_sink, caplog):
    caplog.set_level(logging.INFO, logger=LOGGER)
    params = {"simulate": True, "block_write": True, "seq_register": 99, "product_register": None}
    sink = make_sink(params)
    sink.open()
    sink.send(InspectionResult(Verdict.NG, 0.25), {})
    # Values in address order: sequence 99, verdict 100, score 101.
    assert logged(caplog, "INFO")[-1] == "[modbus-sim] reg[99..101]=1,2,250"


@pytest.mark.parametrize("value", [1, "true", None])
def test_block_write_must_be_a_bool(server, make_sink, recorder, value):
    sink = make_sink({**server.params, "block_write": value})
    message = f"^{re.escape(f'PlcLinkSink: block_write must be True or False, got {value!r}')}$"
    with pytest.raises(ValueError, match=message):
        sink.open()
    with pytest.raises(ValueError, match=message):
        sink.send(RESULT, {})
    assert recorder.requests == []
