// The interface module (IF*): the cameras the transport reaches through one
// interface, and opening them with the access they grant.
#include <algorithm>

#include "entry.hpp"
#include "info.hpp"

namespace vantix::gentl_core {

using namespace gentl;

std::string device_text(const DeviceEntry &entry, std::int32_t cmd) {
    std::size_t size = 0;
    if (entry.info(cmd, InfoOut{nullptr, nullptr, &size}) || size == 0) return "";
    std::string text(size, '\0');
    if (entry.info(cmd, InfoOut{nullptr, text.data(), &size})) return "";
    text.resize(std::min(size, text.size()) - 1);
    return text;
}

namespace {

std::shared_ptr<DeviceEntry> listed(const Interface &iface, const char *id) {
    if (!id) return nullptr;
    for (const auto &entry : iface.devices)
        if (entry->id() == id) return entry;
    return nullptr;
}

GC_ERROR unknown_device(const Interface &iface, const char *id) {
    return fail(GC_ERR_INVALID_ID,
                "interface %s lists no device \"%s\" (update the device list first)",
                iface.entry.id.c_str(), id ? id : "(NULL)");
}

bool same_ids(const std::vector<std::shared_ptr<DeviceEntry>> &a,
              const std::vector<std::shared_ptr<DeviceEntry>> &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && a[i]->id() != b[i]->id()) return false;
    return true;
}

}  // namespace

}  // namespace vantix::gentl_core

using namespace vantix::gentl_core;

GENTL_EXPORT GC_ERROR IFClose(IF_HANDLE hIface) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &lock) {
        close_interface(iface, lock);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR IFGetInfo(IF_HANDLE hIface, std::int32_t cmd, INFO_DATATYPE *type,
                                void *buffer, std::size_t *size) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &) {
        return interface_info(iface.entry, cmd, InfoOut{type, buffer, size});
    });
}

GENTL_EXPORT GC_ERROR IFGetNumDevices(IF_HANDLE hIface, std::uint32_t *count) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &) -> GC_ERROR {
        if (!count) return null_argument("piNumDevices");
        *count = static_cast<std::uint32_t>(iface.devices.size());
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR IFGetDeviceID(IF_HANDLE hIface, std::uint32_t index, char *id,
                                    std::size_t *size) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &) -> GC_ERROR {
        if (index >= iface.devices.size())
            return fail(GC_ERR_INVALID_INDEX, "device index %u is out of range (%zu devices on %s)",
                        index, iface.devices.size(), iface.entry.id.c_str());
        return copy_text(iface.devices[index]->id(), id, size);
    });
}

GENTL_EXPORT GC_ERROR IFUpdateDeviceList(IF_HANDLE hIface, bool8_t *changed,
                                         std::uint64_t timeout_ms) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &lock) -> GC_ERROR {
        auto devices = transport().devices(iface.entry, timeout_ms, lock);
        if (changed) *changed = !same_ids(devices, iface.devices);
        iface.devices = std::move(devices);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR IFGetDeviceInfo(IF_HANDLE hIface, const char *deviceId, std::int32_t cmd,
                                      INFO_DATATYPE *type, void *buffer, std::size_t *size) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &) -> GC_ERROR {
        std::shared_ptr<DeviceEntry> entry = listed(iface, deviceId);
        if (!entry) return unknown_device(iface, deviceId);
        return entry->info(cmd, InfoOut{type, buffer, size});
    });
}

GENTL_EXPORT GC_ERROR IFOpenDevice(IF_HANDLE hIface, const char *deviceId, std::int32_t flags,
                                   DEV_HANDLE *phDevice) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &lock) -> GC_ERROR {
        if (!phDevice) return null_argument("phDevice");
        std::shared_ptr<DeviceEntry> entry = listed(iface, deviceId);
        if (!entry) return unknown_device(iface, deviceId);
        Grant wanted;
        switch (flags) {
            case DEVICE_ACCESS_READONLY:
                wanted = Grant::read_only;
                break;
            case DEVICE_ACCESS_CONTROL:
                wanted = Grant::control;
                break;
            case DEVICE_ACCESS_EXCLUSIVE:
                wanted = Grant::exclusive;
                break;
            default:
                return fail(GC_ERR_INVALID_PARAMETER,
                            "access flags %d are not read-only, control or exclusive", flags);
        }
        std::shared_ptr<DeviceLink> link;
        if (const GC_ERROR e = entry->open(wanted, lock, link)) return e;
        if (!library().holds(iface)) {  // closed while the camera was asked
            link->close(lock);
            return fail(GC_ERR_ABORT, "the interface was closed while the device opened");
        }
        auto device = std::make_shared<Device>();
        device->id = entry->id();
        device->entry = std::move(entry);
        device->link = link;
        device->parent = std::static_pointer_cast<Interface>(iface.shared_from_this());
        device->access = wanted;
        auto remote = std::make_shared<RemotePort>();
        remote->id = device->id;
        remote->link = std::move(link);
        remote->device = device;
        device->remote = remote;
        build_device_nodes(*device);
        iface.open_devices.push_back(device);
        Library &lib = library();
        lib.add(remote);
        *phDevice = lib.add(device);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR IFGetParentTL(IF_HANDLE hIface, TL_HANDLE *phSystem) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &, Lock &) -> GC_ERROR {
        if (!phSystem) return null_argument("phSystem");
        if (!library().system) return fail(GC_ERR_NOT_AVAILABLE, "the system module is closed");
        *phSystem = library().system->handle;
        return GC_ERR_SUCCESS;
    });
}
