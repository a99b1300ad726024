"""Result sending and heartbeat against a real Modbus TCP server."""

import logging
import time
import zlib

import pytest

from vantix.io.sink.base import SinkError
from vantix.schemas.common import InspectionResult, Verdict

LOGGER = "vantix.sink.modbus"
RESULT = InspectionResult(Verdict.NG, 0.8734)


def warnings_logged(caplog):
    return [r.getMessage() for r in caplog.records if r.name == LOGGER and r.levelname == "WARNING"]


def expected_registers(seq, product="P-1"):
    return {100: 2, 101: 873, 102: seq, 103: zlib.crc32(product.encode()) & 0xFFFF}


@pytest.fixture
def sink(server, make_sink):
    s = make_sink(server.params)
    s.open()
    return s


def test_results_land_in_order(sink, recorder):
    for seq in (1, 2, 3):
        sink.send(RESULT, {"product_id": "P-1"})
        assert recorder.registers() == expected_registers(seq)
    assert [a for _, a, _ in recorder.writes[-4:]] == [100, 101, 102, 103]


def test_configured_unit_is_addressed(sink, recorder):
    sink.params["unit_id"] = "2"
    sink.send(RESULT, {"product_id": "P-1"})
    assert recorder.registers(unit=2) == expected_registers(1) and recorder.registers(1) == {}


def test_restarted_server_gets_the_next_send(sink, server, recorder, caplog):
    sink.send(RESULT, {"product_id": "P-1"})
    server.stop()
    server.start()
    sink.send(RESULT, {"product_id": "P-2"})
    assert recorder.registers() == expected_registers(2, "P-2")
    assert len(warnings_logged(caplog)) == 1
    assert warnings_logged(caplog)[0].startswith("Modbus write failed (")


def test_stopped_server_fails_then_defers_then_recovers(sink, server, recorder, caplog):
    server.stop()
    with pytest.raises(SinkError) as info:
        sink.send(RESULT, {"product_id": "P-1"})
    assert str(info.value) == f"PlcLinkSink: reconnect failed 127.0.0.1:{server.port}"
    assert info.value.__cause__ is not None and sink._connected is False
    assert warnings_logged(caplog) == [
        f"Modbus write failed ({info.value.__cause__}) -> reconnecting"
    ]
    with pytest.raises(SinkError) as info:
        sink.send(RESULT, {"product_id": "P-1"})
    assert (
        str(info.value) == f"PlcLinkSink: not connected to 127.0.0.1:{server.port} (send deferred)"
    )
    server.start()
    sink.send(RESULT, {"product_id": "P-1"})
    assert recorder.registers() == expected_registers(3)  # the failed sends used up 1 and 2


def test_error_response_fails_after_one_full_retry(sink, recorder):
    sink.params["score_register"] = 5000  # outside the server's registers
    with pytest.raises(SinkError) as info:
        sink.send(RESULT, {"product_id": "P-1"})
    cause = info.value.__cause__
    assert isinstance(cause, SinkError) and str(cause).startswith(
        "write_register(5000) returned an error: "
    )
    assert str(info.value) == f"PlcLinkSink: write failed: {cause}"
    assert [a for _, a, _ in recorder.writes] == [100, 100]  # verdict written twice, nothing after
    assert sink._connected is True


def test_a_reply_that_does_not_confirm_the_write_fails_it(make_sink, misconfirming_plc, caplog):
    sink = make_sink({"port": misconfirming_plc.port, "timeout_s": 2})
    sink.open()
    with pytest.raises(SinkError) as info:
        sink.send(RESULT, {"product_id": "P-1"})
    assert str(info.value).startswith("PlcLinkSink: write failed: write_register(100) was not ")
    assert len(warnings_logged(caplog)) == 1


def test_silent_peer_costs_one_timeout_per_attempt(make_sink, silent_port):
    # A PLC that accepts and never answers: a send makes two attempts (the
    # second after reconnecting), a heartbeat one; each is one time-out.
    timeout = 0.4
    s = make_sink({"port": silent_port, "timeout_s": timeout, "heartbeat_register": 110})
    s.open()
    started = time.monotonic()
    with pytest.raises(SinkError, match="^PlcLinkSink: write failed: ") as info:
        s.send(RESULT, {})
    assert time.monotonic() - started < 2.5 * timeout
    assert type(info.value.__cause__).__name__ == "ModbusIOException"
    started = time.monotonic()
    s.write_heartbeat(1)
    assert time.monotonic() - started < 1.5 * timeout and s._connected is False


@pytest.mark.parametrize(
    ("setting", "value", "kind"),
    [
        ("verdict_register", -1, "register address is 0..65535"),
        ("product_register", "70000", "register address is 0..65535"),
        ("unit_id", 300, "unit id is 0..255"),
    ],
)
def test_unsendable_setting_is_named_without_touching_the_link(
    server, make_sink, recorder, caplog, setting, value, kind
):
    sink = make_sink({**server.params, setting: value})
    sink.open()
    message = f"PlcLinkSink: {setting}={int(value)} is out of range: a Modbus {kind}"
    assert warnings_logged(caplog) == [f"{message} -> every send will fail until it is corrected"]
    client = sink._client
    with pytest.raises(SinkError) as info:
        sink.send(RESULT, {"product_id": "P-1"})
    assert str(info.value) == message
    assert recorder.writes == [] and sink._client is client and sink._connected is True


def test_heartbeat_register_out_of_range_spares_the_results(server, make_sink, recorder, caplog):
    sink = make_sink({**server.params, "heartbeat_register": 70000})
    sink.open()
    assert warnings_logged(caplog) == [
        "PlcLinkSink: heartbeat_register=70000 is out of range: a Modbus register address is "
        "0..65535 -> heartbeats will not be written until it is corrected"
    ]
    sink.write_heartbeat(1)
    sink.send(RESULT, {"product_id": "P-1"})
    assert recorder.registers() == expected_registers(1)


def test_none_context_carries_no_product_id(sink, recorder):
    sink.send(RESULT, None)
    assert recorder.value(103) == 0


def test_send_after_close_reconnects(sink, recorder):
    sink.close()
    sink.send(RESULT, {"product_id": "P-1"})
    assert sink._connected and recorder.registers() == expected_registers(1)


def test_encoding_error_passes_out_before_io(sink, recorder):
    with pytest.raises(TypeError):
        sink.send(InspectionResult(Verdict.OK, None), {})
    assert sink._seq == 1 and recorder.writes == []


def test_interrupt_is_not_taken_for_a_failed_write(sink):
    class Interrupting:
        def write_register(self, *args, **kwargs):
            raise KeyboardInterrupt

        close = connect = lambda self: True

    real, sink._client = sink._client, Interrupting()
    with pytest.raises(KeyboardInterrupt):
        sink.send(RESULT, {})
    assert sink._connected is True
    real.close()


@pytest.mark.parametrize(("value", "written"), [(1, 1), (-1, 65535), (65536, 0), (70000.9, 4464)])
def test_heartbeat_writes_low_16_bits(sink, recorder, value, written):
    sink.write_heartbeat(value)
    assert recorder.writes == []  # no heartbeat register configured
    sink.params["heartbeat_register"] = 110
    sink.write_heartbeat(value)
    assert recorder.writes == [(1, 110, written)]


def test_heartbeat_never_reconnects_nor_raises(sink, server, recorder, caplog):
    caplog.set_level(logging.DEBUG, logger=LOGGER)
    sink.params["heartbeat_register"] = 110
    server.stop()
    sink.write_heartbeat(1)
    assert sink._connected is False
    client = sink._client
    server.start()
    sink.write_heartbeat(2)
    assert sink._client is client and recorder.writes == []
    assert [r for r in caplog.records if r.name == LOGGER] == []
    sink.send(RESULT, {"product_id": "P-1"})
    sink.write_heartbeat(3)
    assert recorder.value(110) == 3


def test_heartbeat_value_that_is_no_number_never_raises(sink, recorder):
    sink.params["heartbeat_register"] = 110
    sink.write_heartbeat("beat")
    # Counted as a failed write: the next send reconnects, nothing was written.
    assert sink._connected is False and recorder.writes == []
