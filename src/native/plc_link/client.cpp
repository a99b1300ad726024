// The sink's own state as the methods read it, and the calls on the
// pymodbus client.
#include "../common/context.hpp"
#include "sink.hpp"

namespace vantix::plc {

py::handle sink_class;

py::object param(const py::handle &self, const py::handle &key, const py::handle &fallback) {
    return self.attr("params").attr("get")(key, fallback);
}

bool pymodbus_installed() {
    try {
        glue::from_import("pymodbus.client", "ModbusTcpClient");
        return true;
    } catch (py::error_already_set &err) {
        if (!glue::is_instance(err, PyExc_ImportError)) throw;
        return false;
    }
}

std::string endpoint(const py::handle &self) {
    return glue::str(self.attr("host")) + ":" + glue::str(self.attr("port"));
}

py::dict unit_kwargs(const py::handle &self) {
    py::object mapping = glue::this_module().attr("unit")(self.attr("unit_id"));
    if (PyDict_Check(mapping.ptr())) return py::reinterpret_borrow<py::dict>(mapping);
    return py::dict(mapping);
}

bool is_error_response(const py::handle &response) {
    if (response.is_none()) return false;
    PyObject *is_error = PyObject_GetAttrString(response.ptr(), "isError");
    if (!is_error) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
        PyErr_Clear();
        return false;
    }
    return truthy(py::reinterpret_steal<py::object>(is_error)());
}

namespace {

constexpr long kWriteSingleRegister = 6;  // the Modbus function codes
constexpr long kWriteMultipleRegisters = 16;

// The response's field `name`, or None when it has none.
py::object field_of(const py::handle &response, const char *name) {
    PyObject *value = PyObject_GetAttrString(response.ptr(), name);
    if (value) return py::reinterpret_steal<py::object>(value);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
    PyErr_Clear();
    return py::none();
}

bool differs(const py::object &field, const py::handle &expected) {
    return !field.is_none() && field.not_equal(expected);
}

}  // namespace

bool confirms_write(const py::handle &response, const py::handle &address,
                    const py::handle &value) {
    if (response.is_none()) return true;
    if (differs(field_of(response, "function_code"), py::int_(kWriteSingleRegister)) ||
        differs(field_of(response, "address"), address))
        return false;
    py::object echoed = field_of(response, "registers");
    return !(PyList_Check(echoed.ptr()) && PyList_GET_SIZE(echoed.ptr()) > 0 &&
             differs(py::reinterpret_borrow<py::object>(PyList_GET_ITEM(echoed.ptr(), 0)), value));
}

bool confirms_block(const py::handle &response, const py::handle &start, std::size_t count) {
    if (response.is_none()) return true;
    return !(differs(field_of(response, "function_code"), py::int_(kWriteMultipleRegisters)) ||
             differs(field_of(response, "address"), start) ||
             differs(field_of(response, "count"), py::int_(count)));
}

py::object write_registers(const py::handle &client, const py::handle &start,
                           const py::list &values, const py::dict &unit_keywords) {
    py::object method = client.attr("write_registers");
    py::tuple args = py::make_tuple(start, values);
    PyObject *response = PyObject_Call(method.ptr(), args.ptr(), unit_keywords.ptr());
    if (!response) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(response);
}

py::object write_register(const py::handle &client, const py::handle &address,
                          const py::handle &value, const py::dict &unit_keywords) {
    py::object method = client.attr("write_register");
    py::tuple args = py::make_tuple(address, value);
    PyObject *response = PyObject_Call(method.ptr(), args.ptr(), unit_keywords.ptr());
    if (!response) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(response);
}

void close_quietly(const py::handle &client) {
    glue::ignoring_exceptions([&] { client.attr("close")(); });
}

}  // namespace vantix::plc
