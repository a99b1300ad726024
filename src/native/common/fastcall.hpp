// Calls between a native class's own methods without the Python call
// machinery, for paths that run per request (a pybind11 dispatch costs about
// a microsecond). Behaviour stays that of attribute lookup: a method or
// property that a subclass or the instance overrides is still called through
// Python; only the class's own native member is run directly.
#pragma once

#include <pybind11/pybind11.h>

#include <array>
#include <initializer_list>
#include <stdexcept>

namespace vantix::glue {

namespace py = pybind11;

// An interned str built once per call site and kept for the process's life.
#define VANTIX_NAME(text)                                                   \
    ([]() -> PyObject * {                                                   \
        static PyObject *const interned = PyUnicode_InternFromString(text); \
        return interned;                                                    \
    }())

// obj.name(*args) through vectorcall: no bound method, no argument tuple.
// The arguments live on the stack, so their number is bounded.
constexpr std::size_t kMaxFastArgs = 7;

inline py::object call_method(py::handle obj, PyObject *name,
                              std::initializer_list<py::handle> args = {}) {
    if (args.size() > kMaxFastArgs)
        throw std::length_error("call_method: more than kMaxFastArgs arguments");
    std::array<PyObject *, kMaxFastArgs + 1> argv{};
    std::size_t n = 0;
    argv[n++] = obj.ptr();
    for (py::handle arg : args) argv[n++] = arg.ptr();
    PyObject *result = PyObject_VectorcallMethod(name, argv.data(), n, nullptr);
    if (!result) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

// --- the two places that read CPython's type internals -------------------
// Both look at a type's own namespace without running descriptors, which
// the public API offers only through attribute lookup (which would bind or
// call what it finds). They use the type's dict and the MRO lookup that
// CPython itself uses for attribute access; both exist unchanged in 3.11
// to 3.13.

// The entry `name` of the class's own dict, unwrapped: pybind11 stores
// methods as instancemethod objects around the plain function.
inline PyObject *own_member(const py::handle &cls, const char *name) {
    PyObject *entry =
        PyDict_GetItemString(reinterpret_cast<PyTypeObject *>(cls.ptr())->tp_dict, name);
    if (entry && PyInstanceMethod_Check(entry)) return PyInstanceMethod_GET_FUNCTION(entry);
    return entry;
}

// True while type(self).<name> is still the class's own descriptor `own` (a
// property: a data descriptor wins over the instance dict, so the type is
// all that decides).
inline bool is_own_descriptor(const py::handle &self, PyObject *name, PyObject *own) {
    return _PyType_Lookup(Py_TYPE(self.ptr()), name) == own;
}

// --- dispatch ---------------------------------------------------------------

// `self.<name>` when it is anything but the class's own function `own`, else
// an empty object: the caller then runs its C++ directly.
inline py::object override_of(const py::handle &self, PyObject *name, PyObject *own) {
    PyObject *bound = PyObject_GetAttr(self.ptr(), name);
    if (!bound) throw py::error_already_set();
    if (PyMethod_Check(bound) && PyMethod_GET_FUNCTION(bound) == own &&
        PyMethod_GET_SELF(bound) == self.ptr()) {
        Py_DECREF(bound);
        return py::object();
    }
    return py::reinterpret_steal<py::object>(bound);
}

}  // namespace vantix::glue
