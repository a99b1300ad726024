// Sending results (with one reconnect and retry) and the heartbeat.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../common/context.hpp"
#include "encoding.hpp"
#include "sink.hpp"

namespace vantix::plc {

namespace {

// `address, value = pair`.
std::pair<py::object, py::object> unpack_pair(const py::handle &item) {
    py::tuple pair = py::tuple(py::reinterpret_borrow<py::object>(item));
    if (pair.size() != 2)
        glue::raise(PyExc_ValueError, "expected a (register, value) pair, got " +
                                          std::to_string(pair.size()) + " values");
    return {pair[0], pair[1]};
}

// "reg[100]=1 reg[101]=873 ..." for the simulation log.
std::string render_writes(const py::handle &writes) {
    std::string text;
    for (py::handle item : writes) {
        auto [address, value] = unpack_pair(item);
        if (!text.empty()) text += ' ';
        text += "reg[" + glue::str(address) + "]=" + glue::str(value);
    }
    return text;
}

}  // namespace

void send(py::object self, py::object result, py::object context) {
    // Any int, as (_seq + 1) & 65535 would take it: only its low bits count.
    const unsigned long long seq = PyLong_AsUnsignedLongLongMask(self.attr("_seq").ptr());
    if (seq == static_cast<unsigned long long>(-1) && PyErr_Occurred())
        throw py::error_already_set();
    self.attr("_seq") = next_sequence(seq);
    py::object writes = self.attr("_build_writes")(result, context);

    const std::optional<Block> block = block_write_of(self) ? block_of(writes) : std::nullopt;

    if (!truthy(self.attr("_pymodbus_ok"))) {
        glue::log(logger(), "info", kLogSimulated,
                  block ? render_block(*block) : render_writes(writes));
        return;
    }
    // A setting that no request can carry fails every attempt: report it
    // without touching a healthy connection.
    const std::vector<std::string> problems = unsendable_settings(self);
    if (!problems.empty()) glue::raise(glue::global("SinkError"), problems.front());
    if (!truthy(self.attr("_connected")) && !truthy(self.attr("_reconnect")()))
        glue::raise(glue::global("SinkError"), kNotConnected + endpoint(self) + kSendDeferred);

    // A block is one request: it fails, and is retried, as one unit.
    auto write_result = [&] {
        if (block)
            write_block(self, *block);
        else
            self.attr("_write_all")(writes);
    };
    glue::try_except(write_result, [&](const py::error_already_set &exc) {
        glue::log(logger(), "warning", kLogWriteFailed, exc.value());
        self.attr("_connected") = false;
        const bool reconnected =
            glue::while_handling(exc, [&] { return truthy(self.attr("_reconnect")()); });
        if (!reconnected)
            glue::raise_from(glue::global("SinkError"), kReconnectFailed + endpoint(self), exc);
        // The whole list again: pairs written before the failure are repeated.
        glue::try_except(write_result, [](const py::error_already_set &exc2) {
            glue::raise_from(glue::global("SinkError"), kWriteFailed + glue::str(exc2.value()),
                             exc2);
        });
    });
}

void write_all(py::object self, py::object writes) {
    const char *client_name = "_client";
    if (self.attr(client_name).is_none()) glue::raise(PyExc_AssertionError, kNoClient);
    for (py::handle item : writes) {
        auto [address, value] = unpack_pair(item);
        py::object response =
            write_register(self.attr(client_name), address, value, unit_kwargs(self));
        if (is_error_response(response))
            glue::raise(glue::global("SinkError"), kErrorResponseHead + glue::str(address) +
                                                       kErrorResponseTail + glue::str(response));
        if (!confirms_write(response, address, value))
            glue::raise(glue::global("SinkError"), kErrorResponseHead + glue::str(address) +
                                                       kUnconfirmedTail + glue::str(response));
    }
}

void write_heartbeat(py::object self, py::object value) {
    py::object hb = self.attr("_reg")("heartbeat_register", py::none());
    if (hb.is_none() || !truthy(self.attr("_pymodbus_ok")) || !truthy(self.attr("_connected")) ||
        self.attr("_client").is_none())
        return;
    // Not sendable at all (open() warned): the link itself is not at fault.
    if (address_out_of_range(hb) || unit_out_of_range(self.attr("unit_id"))) return;
    // The heartbeat never raises: any failure, a value that is no number
    // included, counts as a failed write and the next send reconnects.
    glue::try_except(
        [&] {
            py::object masked = glue::to_int(value) & glue::global("_U16_MAX");
            write_register(self.attr("_client"), hb, masked, unit_kwargs(self));
        },
        [&](const py::error_already_set &) { self.attr("_connected") = false; });
}

}  // namespace vantix::plc
