// block_write: the result registers in one write-multiple-registers request,
// so a PLC polling them never reads a new verdict beside an old sequence
// number.
#include <string>
#include <vector>

#include "../common/context.hpp"
#include "encoding.hpp"
#include "sink.hpp"

namespace vantix::plc {

namespace {

// The addresses as C integers; nothing when one is no int (such a list goes
// register by register, where the client judges it).
std::optional<std::vector<long long>> addresses_of(const std::vector<py::object> &objects) {
    std::vector<long long> addresses;
    for (const py::object &object : objects) {
        if (!PyLong_Check(object.ptr())) return std::nullopt;
        int overflow = 0;
        const long long address = PyLong_AsLongLongAndOverflow(object.ptr(), &overflow);
        if (overflow != 0) return std::nullopt;
        if (address == -1 && PyErr_Occurred()) throw py::error_already_set();
        addresses.push_back(address);
    }
    return addresses;
}

std::optional<std::uint16_t> start_of(const std::vector<long long> &addresses) {
    return block_start(addresses.data(), addresses.size());
}

}  // namespace

bool block_write_of(const py::object &self) {
    py::object value = param(self, py::str("block_write"), py::bool_(false));
    if (!PyBool_Check(value.ptr()))
        glue::raise(PyExc_ValueError, kBadBlockWrite + glue::str(py::repr(value)));
    return value.ptr() == Py_True;
}

std::optional<Block> block_of(const py::handle &writes) {
    std::vector<py::object> addresses, values;
    for (py::handle item : writes) {
        py::tuple pair = py::tuple(py::reinterpret_borrow<py::object>(item));
        if (pair.size() != 2) return std::nullopt;  // write_all names the fault
        addresses.push_back(pair[0]);
        values.push_back(pair[1]);
    }
    const auto numbers = addresses_of(addresses);
    if (!numbers) return std::nullopt;
    const auto start = start_of(*numbers);
    if (!start) return std::nullopt;
    py::list ordered(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        ordered[static_cast<std::size_t>((*numbers)[i] - *start)] = values[i];
    return Block{py::int_(*start), ordered};
}

void note_block_layout(const py::object &self) {
    if (!block_write_of(self)) return;
    py::list registers = result_registers(self);
    if (registers.empty()) return;  // nothing is written either way
    std::vector<py::object> objects;
    for (py::handle address : registers)
        objects.push_back(py::reinterpret_borrow<py::object>(address));
    const auto numbers = addresses_of(objects);
    if (numbers && start_of(*numbers)) return;
    std::string listed;
    for (py::handle address : registers)
        listed += (listed.empty() ? "" : ", ") + glue::str(address);
    glue::log(logger(), "warning", kLogNoBlock, kNotOneBlock + listed);
}

std::string render_block(const Block &block) {
    std::string values;
    for (py::handle value : block.values) values += (values.empty() ? "" : ",") + glue::str(value);
    const long start = block.start.cast<long>();
    const long last = start + static_cast<long>(block.values.size()) - 1;
    return "reg[" + std::to_string(start) + ".." + std::to_string(last) + "]=" + values;
}

void write_block(const py::object &self, const Block &block) {
    py::object client = self.attr("_client");
    if (client.is_none()) glue::raise(PyExc_AssertionError, kNoClient);
    py::object response = write_registers(client, block.start, block.values, unit_kwargs(self));
    if (is_error_response(response))
        glue::raise(glue::global("SinkError"),
                    kBlockHead + glue::str(block.start) + kErrorResponseTail + glue::str(response));
    if (!confirms_block(response, block.start, block.values.size()))
        glue::raise(glue::global("SinkError"),
                    kBlockHead + glue::str(block.start) + kUnconfirmedTail + glue::str(response));
}

}  // namespace vantix::plc
