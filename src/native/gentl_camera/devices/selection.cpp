// GentlCamera._select_device: the device that the serial, model, vendor and
// index parameters choose.
#include <optional>
#include <string>
#include <vector>

#include "../camera.hpp"

namespace vantix::camera {
namespace {

constexpr const char *kNoMatch = "no camera matched. devices found: ";

// Positions of the devices that every given criterion selects: the serial
// exactly, model and vendor as case-insensitive parts.
std::vector<long> matching_devices(const py::object &params, const py::object &devices) {
    py::object serial = params.attr("get")("serial");
    py::object model = params.attr("get")("model");
    py::object vendor = params.attr("get")("vendor");
    const bool by_serial = truthy(serial), by_model = truthy(model), by_vendor = truthy(vendor);
    auto contains_folded = [](py::handle haystack, py::handle needle) {
        py::object h = py::str(haystack).attr("lower")(), n = py::str(needle).attr("lower")();
        return truthy(h.attr("__contains__")(n));
    };
    auto selects = [&](py::handle d) {
        if (by_serial && !py::str(read_or(d, "serial_number", py::str(""))).equal(py::str(serial)))
            return false;
        if (by_model && !contains_folded(read_or(d, "model", py::str("")), model)) return false;
        return !(by_vendor && !contains_folded(read_or(d, "vendor", py::str("")), vendor));
    };
    std::vector<long> matches;
    long position = 0;
    for (py::handle d : devices) {
        if (selects(d)) matches.push_back(position);
        ++position;
    }
    return matches;
}

// "vendor/model(sn=serial)" of every device, for the operator.
py::list device_list(const py::object &devices) {
    py::list listed;
    py::str unknown("?");
    for (py::handle d : devices)
        listed.append(glue::str(read_or(d, "vendor", unknown)) + "/" +
                      glue::str(read_or(d, "model", unknown)) +
                      "(sn=" + glue::str(read_or(d, "serial_number", unknown)) + ")");
    return listed;
}

}  // namespace

py::int_ select_device(py::object self, py::object devices) {
    py::object params = self.attr("params");
    const std::vector<long> matches = matching_devices(params, devices);
    if (matches.empty()) camera_error(kNoMatch + glue::str(device_list(devices)));

    // An explicit None means "not given", as an absent key does. Negative
    // positions count from the end, as list indices do; past either end, or
    // no whole number at all, is the same operator error.
    py::object index = params.attr("get")("index", 0);
    const std::optional<py::int_> idx = index.is_none() ? py::int_(0) : int_or_none(index);
    const long count = static_cast<long>(matches.size());
    if (!idx || *idx >= py::int_(count) || *idx < py::int_(-count))
        camera_error("index=" + glue::str(idx ? py::object(*idx) : index) +
                     " was requested but only " + std::to_string(count) + " device(s) matched");

    const long position = idx->cast<long>();
    const long chosen =
        matches[static_cast<std::size_t>(position < 0 ? position + count : position)];
    py::handle d = devices[py::int_(chosen)];
    py::dict info;
    for (const char *field : {"vendor", "model", "serial_number", "tl_type"})
        info[field] = safe_info(d, field);
    self.attr("_device_info") = info;
    return py::int_(chosen);
}

}  // namespace vantix::camera
