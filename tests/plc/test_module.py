"""Module contract: load without pymodbus, the unit keyword, names looked up
at call time, and methods reached through the instance."""

import inspect
import subprocess
import sys

import pytest

from vantix.io import _pymodbus_compat
from vantix.io.sink import plc_link
from vantix.io.sink.base import ResultSink, SinkError
from vantix.schemas.common import InspectionResult, Verdict

PARAMS = (
    "host",
    "port",
    "unit_id",
    "timeout_s",
    "strict_open",
    "verdict_register",
    "score_register",
    "seq_register",
    "product_register",
    "heartbeat_register",
    "score_scale",
    "simulate",
    "block_write",
)


def test_loads_without_importing_pymodbus():
    code = (
        "import sys; sys.modules['pymodbus'] = None\n"
        "from vantix.io.sink.plc_link import PlcLinkSink\n"
        "PlcLinkSink().open(); print(PlcLinkSink.__mro__[1].__name__)"
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[-1] == "ResultSink"


def test_class_shape():
    cls = plc_link.PlcLinkSink
    assert issubclass(cls, ResultSink) and cls.__module__ == "vantix.io.sink.plc_link"
    assert cls.__doc__.startswith("Modbus TCP 홀딩 레지스터에 결과 기록.")
    assert all(name in cls.__doc__.split("params:")[1] for name in PARAMS)
    assert plc_link._U16_MAX == 65535 and plc_link.logger.name == "vantix.sink.modbus"


def test_unit_keyword_is_the_installed_clients():
    client = pytest.importorskip("pymodbus.client").ModbusTcpClient
    assert _pymodbus_compat.unit(5) == {"device_id": 5}
    for method in (client.write_register, client.write_registers):
        assert "device_id" in inspect.signature(method).parameters


def test_module_names_are_looked_up_at_call_time(monkeypatch, refused_port):
    class PlantError(SinkError):
        pass

    monkeypatch.setattr(plc_link, "SinkError", PlantError)
    monkeypatch.setattr(plc_link, "_VERDICT_CODE", {Verdict.OK: 7})
    monkeypatch.setattr(plc_link, "unit", lambda unit_id: {"device_id": unit_id + 1})
    sink = plc_link.PlcLinkSink({"port": refused_port, "strict_open": True})
    assert sink._build_writes(InspectionResult(Verdict.OK, 0), {})[0] == (100, 7)
    with pytest.raises(PlantError):
        sink.open()
    sink.close()


def test_overridden_members_are_honoured(server, recorder):
    class Custom(plc_link.PlcLinkSink):
        calls = 0
        unit_id = property(lambda self: 2)

        def _reg(self, key, default):
            return 105 if key == "verdict_register" else None

        def _write_all(self, writes):
            self.calls += 1
            if self.calls == 1:
                raise OSError("connection reset by peer")
            super()._write_all(writes)

    sink = Custom(server.params)
    sink.open()
    sink.send(InspectionResult(Verdict.NG, 0.1), {})
    sink._build_writes = lambda result, context: [(7, 1)]
    sink.send(InspectionResult(Verdict.NG, 0.1), {})
    sink.close()
    assert sink.calls == 3 and recorder.writes == [(2, 105, 2), (2, 7, 1)]
