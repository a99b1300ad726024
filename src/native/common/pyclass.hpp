// Glue shared by the native modules: each module presents one ordinary Python
// class (created with the base's metaclass, instances keep their state in
// __dict__) whose methods are implemented in C++.
//
// Why not py::class_: the classes derive from pure-Python host base classes and
// must behave like Python classes (plain instance attributes, subclassable, a
// host may override any method and the native code still goes through
// attribute lookup).
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <utility>

#include "values.hpp"

namespace vantix::glue {

namespace py = pybind11;

// The extension module itself. Names it imported at load time are module
// attributes and are looked up here at call time, as a Python module's
// globals are, so a host or a test that replaces one is honoured.
inline py::handle &this_module() {
    static py::handle module;
    return module;
}

inline void bind_module(py::module_ &m) { this_module() = m.inc_ref(); }

inline py::object global(const char *name) { return this_module().attr(name); }

// `from <module> import <name> [as alias]` at module load.
inline void import_from(py::module_ &m, const char *module, const char *name,
                        const char *alias = nullptr) {
    m.attr(alias ? alias : name) = py::module_::import(module).attr(name);
}

// `from <module> import <name>` at call time, for optional libraries that a
// method imports when it needs them. Goes through the import system each
// time, so a module set to None in sys.modules or refused by an import hook
// raises ImportError here; a missing name is an ImportError too, as in Python.
inline py::object from_import(const char *module, const char *name) {
    py::tuple fromlist = py::make_tuple(name);
    py::object mod = py::reinterpret_steal<py::object>(
        PyImport_ImportModuleLevel(module, nullptr, nullptr, fromlist.ptr(), 0));
    if (!mod) throw py::error_already_set();
    if (PyObject *value = PyObject_GetAttrString(mod.ptr(), name))
        return py::reinterpret_steal<py::object>(value);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
    PyErr_Clear();
    PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", name, module);
    throw py::error_already_set();
}

// Builds a class the way a `class` statement would, in the module it is
// published to: the namespace carries the module, qualified name and
// docstring, and the metaclass is the base's. Every member goes through the
// builder, so finish() sees the whole class.
class ClassBuilder {
public:
    ClassBuilder(py::module_ &module, const char *name, py::tuple bases, const char *doc)
        : module_(module), name_(name) {
        py::dict ns;
        ns["__module__"] = module.attr("__name__");
        ns["__qualname__"] = name;
        ns["__doc__"] = doc;
        py::handle base =
            bases.size() ? py::handle(bases[0]) : py::handle((PyObject *)&PyBaseObject_Type);
        cls_ = py::type::of(base)(name, bases, ns);
    }

    const py::object &cls() const { return cls_; }

    // An instance method; `f` takes the instance (py::object) first.
    template <typename F, typename... Extra>
    ClassBuilder &method(const char *name, F &&f, const Extra &...extra) {
        cls_.attr(name) =
            py::cpp_function(std::forward<F>(f), py::name(name), py::is_method(cls_), extra...);
        return *this;
    }

    // The constructor. pybind11 treats any function named "__init__" as one of
    // its own constructors, so the native function carries another name and
    // is only installed under "__init__".
    template <typename F, typename... Extra>
    ClassBuilder &init(F &&f, const Extra &...extra) {
        cls_.attr("__init__") = py::cpp_function(std::forward<F>(f), py::name("_native_init"),
                                                 py::is_method(cls_), extra...);
        return *this;
    }

    // A class method; `f` takes the class (py::object) first, as a method
    // takes the instance.
    template <typename F, typename... Extra>
    ClassBuilder &classmethod(const char *name, F &&f, const Extra &...extra) {
        py::cpp_function fn(std::forward<F>(f), py::name(name), py::scope(cls_), py::arg("cls"),
                            extra...);
        cls_.attr(name) = py::reinterpret_steal<py::object>(PyClassMethod_New(fn.ptr()));
        return *this;
    }

    // A read-only property computed on every access.
    template <typename F>
    ClassBuilder &property(const char *name, F &&getter, const char *doc = "") {
        py::cpp_function fget(std::forward<F>(getter), py::name(name), py::is_method(cls_));
        cls_.attr(name) =
            py::module_::import("builtins").attr("property")(fget, py::none(), py::none(), doc);
        return *this;
    }

    // A class attribute.
    ClassBuilder &attr(const char *name, py::object value) {
        cls_.attr(name) = std::move(value);
        return *this;
    }

    // Publishes the class on the module. Abstract methods of an abc base that
    // were implemented after creation are recomputed first.
    py::object finish() {
        py::module_::import("abc").attr("update_abstractmethods")(cls_);
        module_.attr(name_) = cls_;
        return cls_;
    }

private:
    py::module_ &module_;
    const char *name_;
    py::object cls_;
};

// A Python lock (threading.Lock) held for a scope. acquire() waits without
// the GIL; a destructor must not throw, so a failing release is reported as
// unraisable.
class HeldLock {
public:
    explicit HeldLock(py::object lock) : lock_(std::move(lock)) { lock_.attr("acquire")(); }
    ~HeldLock() {  // NOLINT(bugprone-exception-escape): a Python error is all a release raises
        try {
            lock_.attr("release")();
        } catch (py::error_already_set &err) {
            err.discard_as_unraisable("releasing a lock");
        }
    }
    HeldLock(const HeldLock &) = delete;
    HeldLock &operator=(const HeldLock &) = delete;

private:
    py::object lock_;
};

// --- logging -------------------------------------------------------------

// logger.<level>(fmt, *args): constant %-style format, the values as arguments.
template <typename... Args>
void log(const py::handle &logger, const char *level, const char *fmt, Args &&...args) {
    logger.attr(level)(fmt, std::forward<Args>(args)...);
}

// As log(), with the traceback of a caught Python error. The error state was
// cleared when it was caught, so exc_info=True would log nothing: the triple
// is passed explicitly.
template <typename... Args>
void log_exc(const py::handle &logger, const char *level, const py::error_already_set &err,
             const char *fmt, Args &&...args) {
    py::object value = err.value();
    py::tuple exc_info = py::make_tuple(err.type(), value, value.attr("__traceback__"));
    logger.attr(level)(fmt, std::forward<Args>(args)..., py::arg("exc_info") = exc_info);
}

// --- exceptions ----------------------------------------------------------

// Raises exc_type(message), a host exception class, as `raise ... from cause`.
[[noreturn]] inline void raise_from(const py::handle &exc_type, const std::string &message,
                                    const py::error_already_set &cause) {
    py::object exc = exc_type(message);
    exc.attr("__cause__") = cause.value();  // also sets __suppress_context__
    exc.attr("__context__") = cause.value();
    PyErr_SetObject((PyObject *)Py_TYPE(exc.ptr()), exc.ptr());
    throw py::error_already_set();
}

// Raises exc_type(message) without a cause.
[[noreturn]] inline void raise(const py::handle &exc_type, const std::string &message) {
    py::object exc = exc_type(message);
    PyErr_SetObject((PyObject *)Py_TYPE(exc.ptr()), exc.ptr());
    throw py::error_already_set();
}

// True when the caught error is an instance of exc_type (as `except exc_type`).
inline bool is_instance(const py::error_already_set &err, const py::handle &exc_type) {
    return PyObject_IsInstance(err.value().ptr(), exc_type.ptr()) == 1;
}

// Whether the interpreter is shutting down (public API from 3.13 on).
inline bool is_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

// `except Exception`: false for KeyboardInterrupt, SystemExit and the like,
// which callers let pass.
inline bool is_exception(const py::error_already_set &err) { return err.matches(PyExc_Exception); }

}  // namespace vantix::glue
