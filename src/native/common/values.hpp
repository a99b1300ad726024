// Python's own conversions and attribute reads, for native code that must
// behave exactly as the same Python would.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>

namespace vantix::glue {

namespace py = pybind11;

// int(obj), float(obj) and str(obj) exactly: an int, float or str subclass
// (bool, numpy.float64, an enum) becomes the plain type, as in Python.
inline py::object to_int(const py::handle &obj) {
    if (PyLong_CheckExact(obj.ptr())) return py::reinterpret_borrow<py::object>(obj);
    PyObject *value = PyNumber_Long(obj.ptr());
    if (!value) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

inline py::object to_float(const py::handle &obj) {
    if (PyFloat_CheckExact(obj.ptr())) return py::reinterpret_borrow<py::object>(obj);
    PyObject *value = PyNumber_Float(obj.ptr());
    if (!value) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

inline py::object to_str(const py::handle &obj) {
    PyObject *value = PyObject_Str(obj.ptr());
    if (!value) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

// str(obj) as a std::string.
inline std::string str(const py::handle &obj) { return py::str(obj).cast<std::string>(); }

// bool(obj), with Python's errors passed on.
inline bool truthy(const py::handle &obj) {
    const int truth = PyObject_IsTrue(obj.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

// int(obj), or nothing when int() raises an Exception.
inline std::optional<py::int_> int_or_none(const py::handle &obj) {
    PyObject *number = PyNumber_Long(obj.ptr());
    if (number) return py::reinterpret_steal<py::int_>(number);
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw py::error_already_set();
    PyErr_Clear();
    return std::nullopt;
}

// What a failed attribute read may mean "absent": AttributeError only, as
// getattr(obj, name, default) has it, or any Exception, for objects whose
// attributes raise their own errors for a field they cannot provide.
enum class Absent { attribute_error, any_exception };

// getattr(obj, name, fallback), with `absent` deciding which errors count as
// the attribute's absence; other errors pass on.
inline py::object getattr_or(const py::handle &obj, const char *name, py::object fallback,
                             Absent absent = Absent::attribute_error) {
    PyObject *value = PyObject_GetAttrString(obj.ptr(), name);
    if (value) return py::reinterpret_steal<py::object>(value);
    const auto counted = absent == Absent::any_exception ? PyExc_Exception : PyExc_AttributeError;
    if (!PyErr_ExceptionMatches(counted)) throw py::error_already_set();
    PyErr_Clear();
    return fallback;
}

}  // namespace vantix::glue
