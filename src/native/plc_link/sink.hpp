// Declarations shared by the files of the PLC sink module: the methods of
// PlcLinkSink, one file per concern, and the helpers they share.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "../common/pyclass.hpp"
#include "texts.hpp"

namespace vantix::plc {

namespace py = pybind11;
namespace glue = vantix::glue;

using glue::truthy;

// --- lifecycle.cpp: construction, properties, connection ---------------------
void init(py::object self, py::object params);
py::object host(py::object self);
py::object port(py::object self);
py::object unit_id(py::object self);
void open_link(py::object self);
py::object make_client(py::object self);
py::bool_ try_connect(py::object self);
py::object reconnect(py::object self);
void close_link(py::object self);

// --- register_map.cpp: what one result writes -------------------------------
py::object reg(py::object self, py::object key, py::object fallback);
py::list build_writes(py::object self, py::object result, py::object context);
// The enabled result registers, in write order.
py::list result_registers(const py::object &self);
// The settings a send needs that no Modbus request can carry, as messages
// naming each one.
std::vector<std::string> unsendable_settings(const py::object &self);
// The same for the heartbeat register alone (the unit id counts for sends).
std::optional<std::string> unwritable_heartbeat(const py::object &self);
// Whether an int register address or unit id is outside what Modbus carries.
bool address_out_of_range(const py::object &address);
bool unit_out_of_range(const py::object &unit);

// --- send.cpp: results and heartbeat ----------------------------------------
void send(py::object self, py::object result, py::object context);
void write_all(py::object self, py::object writes);
void write_heartbeat(py::object self, py::object value);

// --- block.cpp: the result registers in one write-multiple-registers request --
// The registers of one result as one block: its first address and the values
// in address order.
struct Block {
    py::object start;
    py::list values;
};
// params["block_write"]: False unless configured; anything but a bool is
// refused with ValueError.
bool block_write_of(const py::object &self);
// The writes as one block, when their addresses are distinct and contiguous.
std::optional<Block> block_of(const py::handle &writes);
// With block_write on, a warning when the configured result registers cannot
// go as one block (every send then writes them one by one).
void note_block_layout(const py::object &self);
// "reg[100..103]=2,873,1,16834" for the simulation log.
std::string render_block(const Block &block);
// One write-multiple-registers request; an error or unconfirmed reply raises
// SinkError, as write_all does for one register.
void write_block(const py::object &self, const Block &block);

// --- diagnostics.cpp ----------------------------------------------------------
py::dict test_connection(py::object self);

// --- client.cpp: the instance and the pymodbus client ------------------------

extern py::handle sink_class;  // PlcLinkSink itself, for super()

inline py::object logger() { return glue::global("logger"); }

// self.params.get(key, fallback)
py::object param(const py::handle &self, const py::handle &key, const py::handle &fallback);
// Whether pymodbus's TCP client can be imported (an ImportError says no).
bool pymodbus_installed();
// "host:port" from the instance's properties.
std::string endpoint(const py::handle &self);
// The keywords naming the configured unit, as `**unit(self.unit_id)` would.
py::dict unit_kwargs(const py::handle &self);
// A Modbus exception reply comes back as a response whose isError() is true.
bool is_error_response(const py::handle &response);
// A write-single-register reply echoes the function, the address and the
// value written; one that echoes anything else wrote something else, or
// nothing. Fields a response does not carry are not judged (None included).
bool confirms_write(const py::handle &response, const py::handle &address, const py::handle &value);
// A write-multiple-registers reply echoes the function, the first address and
// the count; fields a response does not carry are not judged.
bool confirms_block(const py::handle &response, const py::handle &start, std::size_t count);
// client.write_registers(start, values, **unit_keywords)
py::object write_registers(const py::handle &client, const py::handle &start,
                           const py::list &values, const py::dict &unit_keywords);
// client.write_register(address, value, **unit_keywords)
py::object write_register(const py::handle &client, const py::handle &address,
                          const py::handle &value, const py::dict &unit_keywords);
// client.close(), an Exception from it ignored.
void close_quietly(const py::handle &client);

}  // namespace vantix::plc
