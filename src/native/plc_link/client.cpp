// The sink's own state as the methods read it, and the calls on the
// pymodbus client.
#include "../common/context.hpp"
#include "sink.hpp"

namespace vantix::plc {

OwnMembers own;
py::handle sink_class;

py::object param(const py::handle &self, PyObject *key, const py::handle &fallback) {
    py::object params = self.attr(VANTIX_NAME("params"));
    return glue::call_method(params, VANTIX_NAME("get"), {key, fallback});
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

py::object unit_id_of(const py::handle &self) {
    PyObject *name = VANTIX_NAME("unit_id");
    return glue::is_own_descriptor(self, name, own.unit_id)
               ? unit_id(py::reinterpret_borrow<py::object>(self))
               : self.attr(name);
}

py::dict unit_kwargs(const py::handle &self) {
    py::object mapping = glue::this_module().attr(VANTIX_NAME("unit"))(unit_id_of(self));
    if (PyDict_Check(mapping.ptr())) return py::reinterpret_borrow<py::dict>(mapping);
    return py::dict(mapping);
}

bool is_error_response(const py::handle &response) {
    if (response.is_none()) return false;
    PyObject *is_error = PyObject_GetAttr(response.ptr(), VANTIX_NAME("isError"));
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

// The response's field `name` (an interned name), or None when it has none.
py::object field_of(const py::handle &response, PyObject *name) {
    PyObject *value = PyObject_GetAttr(response.ptr(), name);
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
    if (differs(field_of(response, VANTIX_NAME("function_code")), py::int_(kWriteSingleRegister)) ||
        differs(field_of(response, VANTIX_NAME("address")), address))
        return false;
    py::object echoed = field_of(response, VANTIX_NAME("registers"));
    return !(PyList_Check(echoed.ptr()) && PyList_GET_SIZE(echoed.ptr()) > 0 &&
             differs(py::reinterpret_borrow<py::object>(PyList_GET_ITEM(echoed.ptr(), 0)), value));
}

bool confirms_block(const py::handle &response, const py::handle &start, std::size_t count) {
    if (response.is_none()) return true;
    return !(differs(field_of(response, VANTIX_NAME("function_code")),
                     py::int_(kWriteMultipleRegisters)) ||
             differs(field_of(response, VANTIX_NAME("address")), start) ||
             differs(field_of(response, VANTIX_NAME("count")), py::int_(count)));
}

py::object write_registers(const py::handle &client, const py::handle &start,
                           const py::list &values, const py::dict &unit_keywords) {
    py::object method = client.attr(VANTIX_NAME("write_registers"));
    py::tuple args = py::make_tuple(start, values);
    PyObject *response = PyObject_Call(method.ptr(), args.ptr(), unit_keywords.ptr());
    if (!response) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(response);
}

py::object write_register(const py::handle &client, const py::handle &address,
                          const py::handle &value, const py::dict &unit_keywords) {
    py::object method = client.attr(VANTIX_NAME("write_register"));
    py::tuple args = py::make_tuple(address, value);
    PyObject *response = PyObject_Call(method.ptr(), args.ptr(), unit_keywords.ptr());
    if (!response) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(response);
}

void close_quietly(const py::handle &client) {
    glue::ignoring_exceptions([&] { client.attr("close")(); });
}

}  // namespace vantix::plc
