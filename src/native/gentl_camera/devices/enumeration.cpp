// enumerate_devices: the devices the producers offer, without opening one.
#include <string>

#include "../camera.hpp"

namespace vantix::camera {
namespace {

constexpr const char *kEnumNotInstalled =
    "the GenICam extra is not installed. Run: pip install \"vantix[genicam]\"";
constexpr const char *kEnumNoProducer =
    "no GenTL producer (.cti) found - install the camera vendor SDK";
constexpr const char *kEnumNoDevice =
    "producers loaded but no camera detected - check power, cabling and subnet";
constexpr const char *kEnumFailed = "device enumeration failed: ";

// The device-info fields of one enumeration record, in record order.
constexpr const char *kRecordFields[] = {"vendor", "model", "serial_number", "tl_type",
                                         "display_name"};

// "available", "devices" and "reason" of an enumeration, from a harvester
// with the producers registered.
void describe_devices(const SharedHarvester &shared, std::size_t producer_count, py::dict result) {
    if (shared.loaded == 0) {  // no producer to ask: the cabling is not the question
        result["reason"] = none_registered(producer_count) + " - " + glue::str(shared.failures[0]);
        return;
    }
    result["available"] = true;
    py::list devices;
    long i = 0;
    for (py::handle info : shared.harvester.attr("device_info_list")) {
        py::dict record;
        record["index"] = i++;
        for (const char *field : kRecordFields) record[field] = safe_info(info, field);
        devices.append(record);
    }
    result["devices"] = devices;
    if (devices.empty()) result["reason"] = kEnumNoDevice;
}

}  // namespace

py::dict enumerate_devices(py::object cti_path) {
    py::dict result;
    result["devices"] = py::list();
    result["available"] = false;
    result["reason"] = py::none();

    py::object harvester_cls = glue::try_except(
        []() -> py::object { return py::module_::import("harvesters.core").attr("Harvester"); },
        [&](const py::error_already_set &err) -> py::object {
            // A package that is there but fails to load is a failure like any other.
            result["reason"] = err.matches(PyExc_ImportError)
                                   ? py::str(kEnumNotInstalled)
                                   : py::str(std::string(kEnumFailed) + glue::str(err.value()));
            return py::none();
        });
    if (harvester_cls.is_none()) return result;

    py::object h;
    auto give_back = [&] {
        if (h) glue::ignoring_exceptions([&] { release_harvester(h); });
    };
    try {
        py::object producers = glue::global("discover_producers")(cti_path);
        if (!truthy(producers)) {
            result["reason"] = kEnumNoProducer;
            return result;
        }
        const SharedHarvester shared =
            share_harvester(harvester_cls, producers, Registration::enumeration);
        h = shared.harvester;
        describe_devices(shared, py::len(producers), result);
    } catch (py::error_already_set &err) {
        if (!glue::is_exception(err)) {
            give_back();
            throw;
        }
        result["reason"] = std::string(kEnumFailed) + glue::str(err.value());
    }
    give_back();
    return result;
}

}  // namespace vantix::camera
