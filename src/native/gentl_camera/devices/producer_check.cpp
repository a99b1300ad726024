// Refusing a library that is no GenTL producer before it is registered.
#include <string>
#include <vector>

#include "../../gentl_core/gentl_entry_points.hpp"
#include "../camera.hpp"

namespace vantix::camera {
namespace {

// The entry points that harvesters and genicam call: those the list marks
// REQUIRED. genicam keeps a null pointer for one a library lacks and crashes
// on the first call through it.
#define VANTIX_GENTL_NAME(name, parameters) #name,
#define VANTIX_GENTL_SKIP(name, parameters)
constexpr const char *kProducerEntryPoints[] = {
    VANTIX_GENTL_ENTRY_POINTS(VANTIX_GENTL_NAME, VANTIX_GENTL_SKIP)};
#undef VANTIX_GENTL_NAME
#undef VANTIX_GENTL_SKIP

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

}  // namespace vantix::camera
