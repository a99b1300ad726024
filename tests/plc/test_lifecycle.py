"""Connection lifecycle: open, simulation mode, reconnect and close."""

import logging

import pytest

from vantix.io.sink.base import SinkError
from vantix.io.sink.plc_link import PlcLinkSink
from vantix.schemas.common import InspectionResult, Verdict

LOGGER = "vantix.sink.modbus"


def messages(caplog):
    return [(r.levelname, r.getMessage()) for r in caplog.records if r.name == LOGGER]


@pytest.mark.parametrize("args", [(), (None,), ({},)])
def test_construction_is_offline_with_defaults(args):
    sink = PlcLinkSink(*args)
    assert (sink.host, sink.port, sink.unit_id) == ("127.0.0.1", 502, 1)
    assert (sink._client, sink._connected, sink._pymodbus_ok, sink._seq) == (None, False, True, 0)


def test_open_connects_with_converted_parameters(server, make_sink):
    sink = make_sink({"host": server.host, "port": str(server.port), "timeout_s": "0.5"})
    sink.open()
    assert sink._connected is True and sink.port == server.port
    assert sink._client.connected


def test_open_unreachable_starts_disconnected(refused_port, make_sink, caplog):
    sink = make_sink({"port": refused_port})
    sink.open()
    assert sink._connected is False and sink._client is not None
    assert messages(caplog) == [
        (
            "WARNING",
            f"PlcLinkSink: cannot connect to 127.0.0.1:{refused_port}"
            " -> starting disconnected (will reconnect on send)",
        )
    ]


def test_strict_open_raises(refused_port, make_sink):
    sink = make_sink({"port": refused_port, "strict_open": 1})
    with pytest.raises(SinkError) as info:
        sink.open()
    assert str(info.value) == f"PlcLinkSink: cannot connect to 127.0.0.1:{refused_port}"
    assert sink._connected is False and sink._client is not None


def test_reopen_closes_the_old_client(server, make_sink):
    sink = make_sink(server.params)
    sink.open()
    old = sink._client
    sink.open()
    assert sink._client is not old and not old.connected and sink._connected


@pytest.mark.parametrize("timeout", [0, -1, "nan", float("inf"), 1e10])
def test_unusable_timeout_is_refused(timeout, make_sink):
    with pytest.raises(ValueError, match="timeout_s"):
        make_sink({"timeout_s": timeout}).open()


def test_close_is_idempotent_and_keeps_the_counter(server, make_sink):
    sink = make_sink(server.params)
    sink.close()
    sink.open()
    sink._seq = 9
    client = sink._client
    sink.close()
    sink.close()
    assert (sink._client, sink._connected, sink._seq) == (None, False, 9)
    assert not client.connected


def test_connect_exception_counts_as_failed_connect(make_sink, fakes, caplog):
    caplog.set_level(logging.DEBUG, logger=LOGGER)
    sink = make_sink()
    sink._client = fakes.Client(connect=OSError("boom"))
    assert sink._try_connect() is False
    assert messages(caplog) == [("DEBUG", "Modbus 연결 예외: boom")]
    sink._client = None
    assert sink._try_connect() is False


def test_reconnect_replaces_and_closes_the_client(server, make_sink):
    sink = make_sink(server.params)
    sink.open()
    old = sink._client
    assert sink._reconnect() is True
    assert sink._client is not old and not old.connected


def test_simulation_mode_without_pymodbus(no_pymodbus, make_sink, caplog):
    caplog.set_level(logging.INFO, logger=LOGGER)
    sink = make_sink()
    sink.open()
    assert (sink._pymodbus_ok, sink._connected, sink._client) == (False, False, None)
    for _ in range(3):
        sink.send(InspectionResult(Verdict.NG, 0.25), {"product_id": "abc"})
    sink.params.update(
        dict.fromkeys(["verdict_register", "score_register", "seq_register", "product_register"])
    )
    sink.send(InspectionResult(Verdict.OK, 1.0), {})
    assert sink._reconnect() is False and sink._client is None
    assert messages(caplog) == [
        ("WARNING", "pymodbus is not installed -> PlcLinkSink runs in simulation mode (log only)"),
        ("INFO", "[modbus-sim] reg[100]=2 reg[101]=250 reg[102]=1 reg[103]=16834"),
        ("INFO", "[modbus-sim] reg[100]=2 reg[101]=250 reg[102]=2 reg[103]=16834"),
        ("INFO", "[modbus-sim] reg[100]=2 reg[101]=250 reg[102]=3 reg[103]=16834"),
        ("INFO", "[modbus-sim] "),
    ]
    report = sink.test_connection()
    assert report["simulated"] is True and not any(
        report[k] for k in ("connected", "responding", "ok")
    )
    assert report["message"] == (
        "pymodbus is not installed - cannot test the connection (simulation mode)"
    )


def test_reopen_with_pymodbus_leaves_simulation(server, make_sink, monkeypatch):
    sink = make_sink(server.params)
    with monkeypatch.context() as patch:
        patch.setitem(__import__("sys").modules, "pymodbus.client", None)
        sink.open()
    assert sink._pymodbus_ok is False
    sink.open()
    assert sink._pymodbus_ok is True and sink._connected is True
