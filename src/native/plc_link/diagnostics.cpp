// The connection test: reaches the PLC on a client of its own and reports
// how far it got, in words for the operator. It never raises for network or
// device trouble and leaves the sink's own connection alone.
#include <string>

#include "sink.hpp"

namespace vantix::plc {

namespace {

// The test on its own client, from connect on; `report` is filled in place.
void probe(py::object self, py::object client, py::dict report) {
    const std::string host_text = glue::str(report["host"]);
    const std::string port_text = glue::str(report["port"]);
    const std::string unit_text = glue::str(report["unit_id"]);

    py::object connected;
    try {
        connected = client.attr("connect")();
    } catch (py::error_already_set &err) {
        if (!glue::is_exception(err)) throw;
        report["message"] = kTestConnectError + glue::str(err.value());
        return;
    }
    report["connected"] = py::bool_(truthy(connected));
    if (!truthy(report["connected"])) {
        report["message"] =
            kTestCannotReach + host_text + ":" + port_text + kTestCannotReachHint;
        return;
    }

    py::object address = self.attr("_reg")("verdict_register", 100);
    if (address.is_none() || !truthy(address)) address = py::int_(0);

    py::object response;
    try {
        response = client.attr("read_holding_registers")(address, py::arg("count") = 1,
                                                           **unit_kwargs(self));
    } catch (py::error_already_set &err) {
        if (!glue::is_exception(err)) throw;
        report["message"] = kTestNoReadHead + host_text + ":" + port_text + kTestNoReadTail +
                            glue::str(err.value());
        return;
    }
    if (is_error_response(response)) {
        report["message"] =
            kTestErrorHead + unit_text + "): " + glue::str(response) + kTestErrorTail;
        return;
    }
    report["responding"] = true;
    report["ok"] = true;
    try {
        report["read_value"] = glue::to_int(response.attr("registers")[py::int_(0)]);
    } catch (py::error_already_set &err) {
        if (!glue::is_exception(err)) throw;
    }
    report["message"] =
        kTestPassed + host_text + ":" + port_text + " (unit " + unit_text + ")";
}

}  // namespace

py::dict test_connection(py::object self) {
    py::dict report;
    report["host"] = self.attr("host");
    report["port"] = self.attr("port");
    report["unit_id"] = self.attr("unit_id");
    report["connected"] = false;
    report["responding"] = false;
    report["ok"] = false;
    report["simulated"] = false;
    report["read_value"] = py::none();
    report["message"] = "";

    try {
        glue::from_import("pymodbus.client", "ModbusTcpClient");
    } catch (py::error_already_set &err) {
        if (!glue::is_instance(err, PyExc_ImportError)) throw;
        report["simulated"] = true;
        report["message"] = kTestNoPymodbus;
        return report;
    }

    py::object client = self.attr("_make_client")();
    try {
        probe(self, client, report);
    } catch (...) {
        close_quietly(client);
        throw;
    }
    close_quietly(client);
    return report;
}

}  // namespace vantix::plc
