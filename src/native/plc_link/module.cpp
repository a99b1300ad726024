// vantix.io.sink.plc_link: the PlcLinkSink class, which writes each inspection
// result into PLC holding registers over Modbus TCP. The behaviour lives in
// the files named in sink.hpp; this file only puts the module together.
#include <pybind11/pybind11.h>

#include "encoding.hpp"
#include "sink.hpp"

namespace py = pybind11;
namespace glue = vantix::glue;
namespace plc = vantix::plc;

PYBIND11_MODULE(plc_link, m) {
    glue::bind_module(m);
    m.doc() = "PLC result output over Modbus TCP: the PlcLinkSink class.";
    m.attr("logging") = py::module_::import("logging");
    glue::import_from(m, "vantix.io._pymodbus_compat", "unit");
    glue::import_from(m, "vantix.schemas.common", "InspectionResult");
    glue::import_from(m, "vantix.schemas.common", "Verdict");
    glue::import_from(m, "vantix.io.sink.base", "ResultSink");
    glue::import_from(m, "vantix.io.sink.base", "SinkError");

    m.attr("_U16_MAX") = plc::kU16Max;
    py::object verdict = m.attr("Verdict");
    py::dict codes;
    codes[verdict.attr("OK")] = 1;
    codes[verdict.attr("NG")] = 2;
    codes[verdict.attr("ERROR")] = 3;
    m.attr("_VERDICT_CODE") = codes;
    m.attr("logger") = m.attr("logging").attr("getLogger")(plc::kLoggerName);

    glue::ClassBuilder builder(m, "PlcLinkSink", py::make_tuple(m.attr("ResultSink")),
                               plc::kClassDoc);
    plc::sink_class = builder.cls().inc_ref();
    builder.init(&plc::init, py::arg("params") = py::none())
        .property("host", &plc::host, "PLC 주소: str(params[\"host\"]), 기본 \"127.0.0.1\".")
        .property("port", &plc::port, "TCP 포트: int(params[\"port\"]), 기본 502.")
        .property("unit_id", &plc::unit_id, "Modbus 유닛 ID: int(params[\"unit_id\"]), 기본 1.")
        .method("_reg", &plc::reg, py::arg("key"), py::arg("default"),
                "레지스터 파라미터: None 이면 None, 아니면 int().")
        .method("_build_writes", &plc::build_writes, py::arg("result"), py::arg("context"),
                "결과 하나의 (레지스터, 값) 목록: 판정, 점수, 시퀀스, 제품 해시 순.")
        .method("open", &plc::open_link, "연결한다. pymodbus 가 없으면 시뮬레이션 모드.")
        .method("_make_client", &plc::make_client, "새 ModbusTcpClient (연결하지 않음).")
        .method("_try_connect", &plc::try_connect,
                "현재 클라이언트로 연결을 시도한다 (예외 없이 bool).")
        .method("_reconnect", &plc::reconnect, "클라이언트를 새로 만들어 다시 연결한다.")
        .method("close", &plc::close_link, "클라이언트를 닫고 버린다. 여러 번 불러도 된다.")
        .method("send", &plc::send, py::arg("result"), py::arg("context"),
                "결과를 기록한다. 실패하면 한 번 재연결·재시도 후 SinkError.")
        .method("_write_all", &plc::write_all, py::arg("writes"),
                "(레지스터, 값) 목록을 순서대로 쓴다. 오류 응답은 SinkError.")
        .method("write_heartbeat", &plc::write_heartbeat, py::arg("value"),
                "하트비트 레지스터에 value 의 하위 16비트를 쓴다. 연결 실패는 무시한다.")
        .method("test_connection", &plc::test_connection,
                "자체 클라이언트로 연결과 읽기를 점검한 보고 사전 (예외 없음).")
        .finish();
}
