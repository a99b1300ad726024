// Producer registration, device enumeration and selection, and opening the
// acquirer with the strongest access right that the device grants.
#include <string>
#include <vector>

#include "camera.hpp"
#include "producer_probe.hpp"

namespace vantix::camera {

namespace {

constexpr const char *kEnumNotInstalled =
    "the GenICam extra is not installed. Run: pip install \"vantix[genicam]\"";
constexpr const char *kEnumNoProducer =
    "no GenTL producer (.cti) found - install the camera vendor SDK";
constexpr const char *kEnumNoDevice =
    "producers loaded but no camera detected - check power, cabling and subnet";
constexpr const char *kEnumFailed = "device enumeration failed: ";
constexpr const char *kLogEnumRegisterFailed = "프로듀서 등록 실패(열거): %s";
constexpr const char *kLogOpenRegisterFailed = "producer registration failed (skipped) %s: %s";
constexpr const char *kLogNoDeviceBecause = "producer %s offers no device: %s";
constexpr const char *kNoMatch = "no camera matched. devices found: ";
constexpr const char *kAllRefusedHead = "카메라를 열 수 없습니다(권한 ";
constexpr const char *kAllRefusedMiddle = " 모두 거부): ";
constexpr const char *kAllRefusedTail =
    " — 벤더 뷰어나 다른 프로그램이 카메라를 잡고 있는지 확인하세요.";

// The device-info fields of one enumeration record, in record order.
constexpr const char *kRecordFields[] = {"vendor", "model", "serial_number", "tl_type",
                                         "display_name"};

// The entry points that harvesters and genicam call. genicam keeps a null
// pointer for one a library lacks and crashes on the first call through it,
// so a library without all of them is refused before it is registered.
constexpr const char *kProducerEntryPoints[] = {
    "GCGetInfo",
    "GCGetLastError",
    "GCInitLib",
    "GCCloseLib",
    "GCReadPort",
    "GCWritePort",
    "GCGetPortInfo",
    "GCRegisterEvent",
    "GCGetNumPortURLs",
    "GCGetPortURLInfo",
    "EventGetData",
    "EventGetInfo",
    "EventFlush",
    "TLOpen",
    "TLClose",
    "TLGetNumInterfaces",
    "TLGetInterfaceID",
    "TLOpenInterface",
    "TLUpdateInterfaceList",
    "IFClose",
    "IFGetInfo",
    "IFGetNumDevices",
    "IFGetDeviceID",
    "IFUpdateDeviceList",
    "IFGetDeviceInfo",
    "IFOpenDevice",
    "DevGetPort",
    "DevGetNumDataStreams",
    "DevGetDataStreamID",
    "DevOpenDataStream",
    "DevGetInfo",
    "DevClose",
    "DSAnnounceBuffer",
    "DSFlushQueue",
    "DSStartAcquisition",
    "DSStopAcquisition",
    "DSGetInfo",
    "DSClose",
    "DSRevokeBuffer",
    "DSQueueBuffer",
    "DSGetBufferInfo",
    "DSGetBufferChunkData",
};
constexpr std::size_t kMissingShown = 3;  // entry points named in the message

}  // namespace

void check_producer(py::object path) {
    py::object library = py::module_::import("ctypes").attr("CDLL")(path);
    std::vector<std::string> missing;
    for (const char *name : kProducerEntryPoints)
        if (!py::hasattr(library, name)) missing.emplace_back(name);
    if (missing.empty()) return;
    std::string names;
    for (std::size_t i = 0; i < missing.size() && i < kMissingShown; ++i)
        names += (i ? ", " : "") + missing[i];
    if (missing.size() > kMissingShown)
        names += " and " + std::to_string(missing.size() - kMissingShown) + " more";
    camera_error(glue::str(path) + " is not a GenTL producer: it lacks the entry points " + names);
}

namespace {

// One producer reached through several spellings (a symlinked SDK folder)
// is one library, which can be initialised only once.
py::tuple producer_key(py::handle producers) {
    py::object path_module = py::module_::import("os").attr("path");
    py::list paths;
    for (py::handle p : producers)
        paths.append(path_module.attr("normcase")(path_module.attr("realpath")(p["path"])));
    return py::tuple(paths);
}

struct Registered {
    long loaded = 0;
    py::list failures;  // why each producer that failed did (texts name the file)
};

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

// Registers the producers on a new harvester and updates its device list.
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

// Keeps the process's SIGINT handler across a call that may replace it:
// creating an acquirer on the main thread installs a handler that only
// destroys the acquirer, so Ctrl+C would no longer interrupt the program.
class SigintKeeper {
public:
    SigintKeeper() : signal_(py::module_::import("signal")) {
        py::object threading = glue::global("threading");
        if (threading.attr("current_thread")().is(threading.attr("main_thread")()))
            saved_ = signal_.attr("getsignal")(signal_.attr("SIGINT"));
    }
    void restore() {
        if (saved_.is_none()) return;
        py::object sigint = signal_.attr("SIGINT");
        if (!signal_.attr("getsignal")(sigint).is(saved_)) signal_.attr("signal")(sigint, saved_);
    }

private:
    py::object signal_;
    py::object saved_ = py::none();
};

py::object create_acquirer(py::object h, const py::int_ &index, py::object config) {
    SigintKeeper sigint;
    try {
        py::object ia = with_context(glue::global("_tolerate_unsupported_module_events")(), [&] {
            return h.attr("create")(index, py::arg("config") = config);
        });
        sigint.restore();
        return ia;
    } catch (py::error_already_set &) {
        sigint.restore();
        throw;
    }
}

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

bool is_access_refusal(const py::error_already_set &err) {
    const std::string type_name = py::str(py::type::handle_of(err.value()).attr("__name__"));
    return type_name.find("AccessDenied") != std::string::npos ||
           glue::str(err.value()).find("not allowed") != std::string::npos;
}

py::object safe_info(py::handle obj, const char *name) { return read_or(obj, name, py::none()); }

std::string none_registered(std::size_t count) {
    return "none of the " + std::to_string(count) +
           " producers could be opened (32/64-bit mismatch?)";
}

SharedHarvester share_harvester(py::object harvester_cls, py::object producers,
                                Registration purpose) {
    glue::HeldLock held(glue::global("_HARVESTERS_LOCK"));
    py::dict shared = glue::global("_SHARED_HARVESTERS");
    py::tuple key = producer_key(producers);
    if (shared.contains(key)) {
        py::dict entry = shared[key];
        entry["users"] = entry["users"].cast<long>() + 1;
        return {entry["harvester"], entry["loaded"].cast<long>(), entry["failures"]};
    }
    py::object h = harvester_cls();
    Registered registered;
    try {
        registered = register_producers(h, producers, purpose);
    } catch (py::error_already_set &) {
        glue::ignoring_exceptions([&] { h.attr("reset")(); });
        throw;
    }
    py::dict entry;
    entry["harvester"] = h;
    entry["users"] = 1;
    entry["loaded"] = registered.loaded;
    entry["failures"] = registered.failures;
    shared[key] = entry;
    return {h, registered.loaded, registered.failures};
}

void release_harvester(py::handle harvester) {
    glue::HeldLock held(glue::global("_HARVESTERS_LOCK"));
    py::dict shared = glue::global("_SHARED_HARVESTERS");
    for (auto item : shared) {
        py::dict entry = py::reinterpret_borrow<py::dict>(item.second);
        if (!py::object(entry["harvester"]).is(harvester)) continue;
        const long users = entry["users"].cast<long>() - 1;
        if (users > 0) {
            entry["users"] = users;
            return;
        }
        shared.attr("pop")(item.first);
        break;
    }
    harvester.attr("reset")();
}

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

py::tuple open_acquirer(py::object h, py::object index) {
    py::module_ core = py::module_::import("harvesters.core");
    py::object parameter_key = core.attr("ParameterKey");
    py::object parameter_set = core.attr("ParameterSet");
    // Harvester.create takes a position only as an exact int.
    const py::int_ position(py::module_::import("operator").attr("index")(index));

    py::object privileges = glue::global("_PRIVILEGES");
    std::optional<py::error_already_set> last;
    for (py::handle privilege : privileges) {
        py::dict settings;
        settings[parameter_key.attr("DEVICE_OWNERSHIP_PRIVILEGE")] = privilege;
        try {
            py::object ia = create_acquirer(h, position, parameter_set(settings));
            return py::make_tuple(ia, privilege);
        } catch (py::error_already_set &err) {
            if (!glue::is_exception(err) || !is_access_refusal(err)) throw;
            glue::log(logger(), "debug", "access '%s' refused: %s", privilege, err.value());
            last = err;
        }
    }
    const std::string message =
        kAllRefusedHead + glue::str(py::list(privileges)) + kAllRefusedMiddle +
        (last ? glue::str(last->value()) : std::string("None")) + kAllRefusedTail;
    if (last) camera_error(message, *last);
    camera_error(message);
}

}  // namespace vantix::camera
