"""test_connection: the operator's link diagnostic."""

import pytest

from vantix.io.sink.plc_link import PlcLinkSink

ModbusTcpClient = pytest.importorskip("pymodbus.client").ModbusTcpClient

FLAGS = ("connected", "responding", "ok", "simulated")


def flags(report):
    return tuple(report[k] for k in FLAGS)


@pytest.fixture
def made(monkeypatch):
    """Every client test_connection makes, through the real _make_client."""
    clients = []
    real = PlcLinkSink._make_client

    def make(self):
        clients.append(real(self))
        return clients[-1]

    monkeypatch.setattr(PlcLinkSink, "_make_client", make)
    return clients


def preset(server, address, value):
    with ModbusTcpClient(host=server.host, port=server.port) as client:
        assert not client.write_register(address, value, device_id=1).isError()


@pytest.mark.parametrize(
    ("params", "address"),
    [({}, 100), ({"verdict_register": None}, 0), ({"verdict_register": "0"}, 0)],
)
def test_passes_and_reads_the_verdict_register(server, make_sink, made, params, address):
    preset(server, address, 7)
    report = make_sink({**server.params, **params}).test_connection()
    assert list(report) == [
        "host",
        "port",
        "unit_id",
        *FLAGS[:3],
        "simulated",
        "read_value",
        "message",
    ]
    assert flags(report) == (True, True, True, False) and report["read_value"] == 7
    assert report["message"] == f"connected and responding - 127.0.0.1:{server.port} (unit 1)"
    assert not made[0].connected


def test_refused_port(make_sink, made, refused_port):
    report = make_sink({"port": refused_port}).test_connection()
    assert flags(report) == (False, False, False, False) and report["read_value"] is None
    assert report["message"] == (
        f"cannot reach 127.0.0.1:{refused_port} - check the IP, the port, the firewall,"
        " and that the PLC is powered on"
    )
    assert len(made) == 1


@pytest.mark.parametrize("params", [{"unit_id": 9}, {"verdict_register": 5000}])
def test_error_response(server, make_sink, made, params):
    report = make_sink({**server.params, **params}).test_connection()
    assert flags(report) == (True, False, False, False)
    head = f"연결됨 — 그러나 슬레이브 응답 오류(unit {report['unit_id']}): "
    assert report["message"].startswith(head + "ExceptionResponse(")
    assert report["message"].endswith(") (unit_id·레지스터 주소 확인)")
    assert not made[0].connected


def test_silent_peer_read_raises(make_sink, made, silent_port):
    report = make_sink({"port": silent_port, "timeout_s": 0.05}).test_connection()
    assert flags(report) == (True, False, False, False)
    assert report["message"].startswith(
        f"연결됨(127.0.0.1:{silent_port}) — 그러나 Modbus 읽기 응답 없음: Modbus Error: "
    )
    assert not made[0].connected


@pytest.mark.parametrize(
    ("client", "expected_flags", "message"),
    [
        (
            lambda f: f.Client(connect=OSError("no route")),
            (False, False, False, False),
            "connection error: no route",
        ),
        (
            lambda f: f.Client(read=None),
            (True, True, True, False),
            "connected and responding - 127.0.0.1:502 (unit 1)",
        ),
        (
            lambda f: f.Client(read=f.Response()),
            (True, True, True, False),
            "connected and responding",
        ),
        (
            lambda f: f.Client(read=f.Response([])),
            (True, True, True, False),
            "connected and responding",
        ),
        (lambda f: f.Client(read=f.Response(["x"])), (True, True, True, False), "connected and "),
    ],
    ids=["connect-raises", "read-none", "no-registers", "empty-registers", "non-int-register"],
)
def test_outcomes_a_server_cannot_produce(make_sink, fakes, client, expected_flags, message):
    fake = client(fakes)
    sink = make_sink()
    sink._make_client = lambda: fake
    report = sink.test_connection()
    assert flags(report) == expected_flags and report["read_value"] is None
    assert report["message"].startswith(message) and fake.closed


def test_bad_verdict_register_raises_after_closing(make_sink, fakes):
    client = fakes.Client()
    sink = make_sink({"verdict_register": "abc"})
    sink._make_client = lambda: client
    with pytest.raises(ValueError):
        sink.test_connection()
    assert client.closed


def test_leaves_the_sink_state_alone(server, make_sink):
    sink = make_sink(server.params)
    sink.open()
    sink._seq = 41
    before = (sink._client, sink._connected, sink._seq, sink._pymodbus_ok)
    assert sink.test_connection()["ok"]
    assert (sink._client, sink._connected, sink._seq, sink._pymodbus_ok) == before
    assert sink._client.connected
