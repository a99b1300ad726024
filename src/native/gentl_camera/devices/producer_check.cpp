// Refusing a library that is no GenTL producer before it is registered.
#include <string>
#include <vector>

#include "../camera.hpp"

namespace vantix::camera {
namespace {

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

}  // namespace vantix::camera
