// Python's `with` and `except` blocks, as native code needs them.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <type_traits>
#include <utility>

namespace vantix::glue {

namespace py = pybind11;

// `with cm as entered: return body(entered)` (or body() when it takes no
// argument). The context managers it serves never suppress an exception, so
// their __exit__ result is not consulted. A C++ exception that is no Python
// error still leaves the block (as a plain exit).
template <typename F>
auto with_context(py::object cm, F &&body) {
    constexpr bool takes_entered = std::is_invocable_v<F, py::object>;
    auto call = [&](py::object &entered) {
        if constexpr (takes_entered)
            return body(entered);
        else
            return body();
    };
    using Result = decltype(call(std::declval<py::object &>()));
    py::object entered = cm.attr("__enter__")();
    std::optional<std::conditional_t<std::is_void_v<Result>, bool, Result>> result;
    try {
        if constexpr (std::is_void_v<Result>) {
            call(entered);
            result = true;
        } else {
            result = call(entered);
        }
    } catch (py::error_already_set &err) {
        py::object value = err.value();
        cm.attr("__exit__")(err.type(), value, value.attr("__traceback__"));
        throw;
    } catch (...) {
        cm.attr("__exit__")(py::none(), py::none(), py::none());
        throw;
    }
    cm.attr("__exit__")(py::none(), py::none(), py::none());
    if constexpr (!std::is_void_v<Result>) return std::move(*result);
}

// try:
//     return body()
// except Exception as err:
//     return on_error(err)
// Other errors (KeyboardInterrupt, SystemExit) pass on, as `except
// Exception` lets them; `on_error` may raise instead of returning.
template <typename Body, typename OnError>
auto try_except(Body &&body, OnError &&on_error) -> decltype(body()) {
    try {
        return body();
    } catch (py::error_already_set &err) {
        if (!err.matches(PyExc_Exception)) throw;
        if constexpr (std::is_void_v<decltype(body())>)
            on_error(err);
        else
            return on_error(err);
    }
}

// try: body()  except Exception: pass
template <typename Body>
void ignoring_exceptions(Body &&body) {
    try_except(std::forward<Body>(body), [](const py::error_already_set &) {});
}

// Runs `body` while `handled` is being handled: an error escaping it gets
// `handled` as its __context__, as a raise inside an except block would.
template <typename F>
auto while_handling(const py::error_already_set &handled, F &&body) {
    try {
        return body();
    } catch (py::error_already_set &err) {
        const py::object &value = err.value();
        if (value.attr("__context__").is_none() && !value.is(handled.value()))
            value.attr("__context__") = handled.value();
        throw;
    }
}

}  // namespace vantix::glue
