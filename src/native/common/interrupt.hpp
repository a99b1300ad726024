// Holding Ctrl+C back for a few steps that must not be left half-done
// (stopping and destroying an acquirer, restarting acquisition).
//
// Python runs signal handlers on the main thread, between bytecodes: any
// Python call made from C++ may raise KeyboardInterrupt. Blocking the signal
// itself would not help, since another thread may receive it for the
// process. Instead, for the scope's duration, the Python-level SIGINT handler
// is replaced by one that only notes the signal; on leaving, the handler is
// put back and a noted signal is delivered again (PyErr_SetInterruptEx), so
// it takes effect right after the scope.
#pragma once

#include <pybind11/pybind11.h>

#include <csignal>
#include <memory>

namespace vantix::glue {

namespace py = pybind11;

class DeferredInterrupt {
public:
    DeferredInterrupt() {
        py::module_ threading = py::module_::import("threading");
        if (!threading.attr("current_thread")().is(threading.attr("main_thread")())) return;
        signal_ = py::module_::import("signal");
        py::object sigint = signal_.attr("SIGINT");
        py::object current = signal_.attr("getsignal")(sigint);
        // SIG_DFL, SIG_IGN or a handler installed outside Python: nothing to hold back.
        if (!PyCallable_Check(current.ptr())) return;
        auto noted = noted_;
        py::cpp_function note([noted](py::object, py::object) { *noted = true; });
        signal_.attr("signal")(sigint, note);
        saved_ = std::move(current);
        note_ = std::move(note);
    }

    ~DeferredInterrupt() {  // NOLINT(bugprone-exception-escape): as ~HeldLock (pyclass.hpp)
        if (!saved_) return;
        try {
            py::object sigint = signal_.attr("SIGINT");
            // Put back only our own stand-in: a handler installed meanwhile wins.
            if (signal_.attr("getsignal")(sigint).is(note_)) signal_.attr("signal")(sigint, saved_);
        } catch (py::error_already_set &err) {
            err.discard_as_unraisable("restoring the SIGINT handler");
        }
        if (*noted_) PyErr_SetInterruptEx(SIGINT);
    }

    DeferredInterrupt(const DeferredInterrupt &) = delete;
    DeferredInterrupt &operator=(const DeferredInterrupt &) = delete;

private:
    std::shared_ptr<bool> noted_ = std::make_shared<bool>(false);
    py::object signal_, saved_, note_;
};

}  // namespace vantix::glue
