// The interface module (IF*): the cameras on one simulated link, and
// opening them with the access they grant.
#include "entry.hpp"
#include "info.hpp"

namespace vantix::sim {

using namespace gentl;

std::int32_t access_status(const Camera &camera) {
    if (camera.lost) return DEVICE_ACCESS_STATUS_NOACCESS;
    if (camera.open)
        return camera.open_access == Grant::read_only ? DEVICE_ACCESS_STATUS_OPEN_READONLY
                                                      : DEVICE_ACCESS_STATUS_OPEN_READWRITE;
    return camera.config.access == Grant::read_only ? DEVICE_ACCESS_STATUS_READONLY
                                                    : DEVICE_ACCESS_STATUS_READWRITE;
}

GC_ERROR device_info(const Camera &camera, std::int32_t cmd, const InfoOut &out) {
    const DeviceConfig &c = camera.config;
    switch (cmd) {
        case DEVICE_INFO_ID:
            return out.text(c.id);
        case DEVICE_INFO_VENDOR:
            return out.text(c.vendor);
        case DEVICE_INFO_MODEL:
            return out.text(c.model);
        case DEVICE_INFO_TLTYPE:
            return out.text(c.tl_type);
        case DEVICE_INFO_DISPLAYNAME:
            return out.text(c.display_name);
        case DEVICE_INFO_ACCESS_STATUS:
            return out.value(access_status(camera), INFO_DATATYPE_INT32);
        case DEVICE_INFO_USER_DEFINED_NAME: {
            const RegisterMap &r = camera.nodes.registers();
            return out.text(r.get_string(r.find("DeviceUserIDReg")));
        }
        case DEVICE_INFO_SERIAL_NUMBER:
            return out.text(c.serial);
        case DEVICE_INFO_VERSION:
            return out.text(c.version);
        case DEVICE_INFO_TIMESTAMP_FREQUENCY:
            return out.u64(Camera::kTimestampFrequency);
        default:
            return unknown_command("device info command", cmd);
    }
}

namespace {

std::shared_ptr<Camera> listed(const Interface &iface, const char *id) {
    if (!id) return nullptr;
    for (const auto &camera : iface.devices)
        if (camera->config.id == id) return camera;
    return nullptr;
}

GC_ERROR unknown_device(const Interface &iface, const char *id) {
    return fail(GC_ERR_INVALID_ID,
                "interface %s lists no device \"%s\" (update the device list first)",
                iface.id.c_str(), id ? id : "(NULL)");
}

const char *grant_name(Grant g) {
    return g == Grant::exclusive ? "exclusive" : g == Grant::control ? "control" : "read-only";
}

}  // namespace

}  // namespace vantix::sim

using namespace vantix::sim;

GENTL_EXPORT GC_ERROR IFClose(IF_HANDLE hIface) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &lock) {
        close_interface(iface, lock);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR IFGetInfo(IF_HANDLE hIface, std::int32_t cmd, INFO_DATATYPE *type,
                                void *buffer, std::size_t *size) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &) {
        return interface_info(iface.id, iface.tl_type, cmd, InfoOut{type, buffer, size});
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
                        index, iface.devices.size(), iface.id.c_str());
        return copy_text(iface.devices[index]->config.id, id, size);
    });
}

GENTL_EXPORT GC_ERROR IFUpdateDeviceList(IF_HANDLE hIface, bool8_t *changed, std::uint64_t) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &) -> GC_ERROR {
        auto devices = reachable_cameras(iface.id);
        if (changed) *changed = devices != iface.devices;
        iface.devices = std::move(devices);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR IFGetDeviceInfo(IF_HANDLE hIface, const char *deviceId, std::int32_t cmd,
                                      INFO_DATATYPE *type, void *buffer, std::size_t *size) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &) -> GC_ERROR {
        std::shared_ptr<Camera> camera = listed(iface, deviceId);
        if (!camera) return unknown_device(iface, deviceId);
        return device_info(*camera, cmd, InfoOut{type, buffer, size});
    });
}

GENTL_EXPORT GC_ERROR IFOpenDevice(IF_HANDLE hIface, const char *deviceId, std::int32_t flags,
                                   DEV_HANDLE *phDevice) {
    return with<Interface>(hIface, Kind::interface, [&](Interface &iface, Lock &) -> GC_ERROR {
        if (!phDevice) return null_argument("phDevice");
        std::shared_ptr<Camera> camera = listed(iface, deviceId);
        if (!camera) return unknown_device(iface, deviceId);
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
        const std::string &serial = camera->config.serial;
        if (!camera->reachable(Clock::now()))
            return fail(GC_ERR_IO, "camera %s does not answer: it was lost", serial.c_str());
        if (camera->open)
            return fail(GC_ERR_ACCESS_DENIED, "camera %s is already open", serial.c_str());
        if (wanted > camera->config.access)
            return fail(GC_ERR_ACCESS_DENIED,
                        "camera %s grants at most %s access, %s was asked for", serial.c_str(),
                        grant_name(camera->config.access), grant_name(wanted));
        auto device = std::make_shared<Device>();
        device->camera = camera;
        device->generation = camera->generation;
        device->parent = std::static_pointer_cast<Interface>(iface.shared_from_this());
        device->access = wanted;
        auto remote = std::make_shared<RemotePort>();
        remote->camera = camera;
        remote->device = device;
        device->remote = remote;
        build_device_nodes(*device);
        camera->open = true;
        camera->open_access = wanted;
        camera->frames_delivered = 0;
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
