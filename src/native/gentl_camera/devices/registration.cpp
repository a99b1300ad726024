// Registering the producers on a new harvester, and the operator's words for
// those that fail or offer no device.
#include "registration.hpp"

#include <optional>
#include <string>
#include <vector>

#include "producer_probe.hpp"

namespace vantix::camera {
namespace {

constexpr const char *kLogEnumRegisterFailed = "프로듀서 등록 실패(열거): %s";
constexpr const char *kLogOpenRegisterFailed = "producer registration failed (skipped) %s: %s";
constexpr const char *kLogNoDeviceBecause = "producer %s offers no device: %s";

// Producers that registered but offer no device may have failed to start
// (a broken configuration, a missing licence): their own words are what the
// operator needs, beside the cabling advice.
void report_start_failures(const std::vector<py::object> &paths) {
    py::object fsencode = py::module_::import("os").attr("fsencode");
    for (const py::object &path : paths) {
        const std::string file = py::bytes(fsencode(path));
        std::optional<std::string> why;
        {
            py::gil_scoped_release unlocked;
            why = producer_start_failure(file);
        }
        if (!why) continue;
        // A producer's text need not be UTF-8.
        py::object text = py::reinterpret_steal<py::object>(
            PyUnicode_DecodeUTF8(why->data(), static_cast<Py_ssize_t>(why->size()), "replace"));
        if (!text) throw py::error_already_set();
        glue::log(logger(), "warning", kLogNoDeviceBecause, path, text);
    }
}

}  // namespace

// What is logged meanwhile is shown once the console is back (see
// quiet_gentl_chatter).
Registered register_producers(py::object h, py::handle producers, Registration purpose) {
    Registered result;
    std::vector<py::object> registered;
    with_context(glue::global("quiet_gentl_chatter")(), [&] {
        for (py::handle p : producers) {
            py::object path = p["path"];
            glue::try_except(
                [&] {
                    glue::global("_check_producer")(path);
                    h.attr("add_file")(path, py::arg("check_existence") = true,
                                       py::arg("check_validity") = true);
                    registered.push_back(path);
                },
                [&](const py::error_already_set &err) {
                    result.failures.append(glue::str(err.value()));
                    if (purpose == Registration::enumeration)
                        glue::log_exc(logger(), "debug", err, kLogEnumRegisterFailed, path);
                    else
                        glue::log(logger(), "warning", kLogOpenRegisterFailed, path, err.value());
                });
        }
        h.attr("update")();
        result.loaded = static_cast<long>(registered.size());
        if (!registered.empty() && py::len(h.attr("device_info_list")) == 0)
            report_start_failures(registered);
    });
    return result;
}

std::string none_registered(std::size_t count) {
    return "none of the " + std::to_string(count) +
           " producers could be opened (32/64-bit mismatch?)";
}

}  // namespace vantix::camera
