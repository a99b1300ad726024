#include "camera_entry.hpp"

#include "camera_link.hpp"
#include "gentl_core/errors.hpp"

namespace vantix::gev {

using namespace gentl;

CameraEntry::CameraEntry(const DiscoveredCamera &camera, std::string interface_id)
    : id_(id_of(camera)), interface_id_(std::move(interface_id)), camera_(camera) {}

std::string CameraEntry::id_of(const DiscoveredCamera &camera) {
    const std::string &serial = camera.identity.serial;
    return (serial.empty() ? mac_text(camera.identity.mac) : serial) + "@" + ip_text(camera.ip);
}

void CameraEntry::update(const DiscoveredCamera &camera, const std::string &interface_id) {
    camera_ = camera;
    interface_id_ = interface_id;
}

GC_ERROR CameraEntry::info(std::int32_t cmd, const core::InfoOut &out) const {
    const Identity &who = camera_.identity;
    switch (cmd) {
        case DEVICE_INFO_ID:
            return out.text(id_);
        case DEVICE_INFO_VENDOR:
            return out.text(who.manufacturer);
        case DEVICE_INFO_MODEL:
            return out.text(who.model);
        case DEVICE_INFO_TLTYPE:
            return out.text("GEV");
        case DEVICE_INFO_DISPLAYNAME:
            return out.text(who.manufacturer + " " + who.model + " (" + who.serial + ") at " +
                            ip_text(camera_.ip) + " [" + mac_text(who.mac) + "] via " +
                            camera_.via.name);
        case DEVICE_INFO_ACCESS_STATUS: {
            std::int32_t status = DEVICE_ACCESS_STATUS_READWRITE;
            if (std::shared_ptr<core::DeviceLink> link = open_link.lock())
                status = !link->connected() ? DEVICE_ACCESS_STATUS_NOACCESS
                         : open_access == core::Grant::read_only
                             ? DEVICE_ACCESS_STATUS_OPEN_READONLY
                             : DEVICE_ACCESS_STATUS_OPEN_READWRITE;
            return out.value(status, INFO_DATATYPE_INT32);
        }
        case DEVICE_INFO_USER_DEFINED_NAME:
            return out.text(who.user_name);
        case DEVICE_INFO_SERIAL_NUMBER:
            return out.text(who.serial);
        case DEVICE_INFO_VERSION:
            return out.text(who.device_version);
        case DEVICE_INFO_TIMESTAMP_FREQUENCY:
            if (std::shared_ptr<core::DeviceLink> link = open_link.lock())
                return out.u64(static_cast<CameraLink &>(*link).timestamp_frequency());
            return core::fail(GC_ERR_NOT_AVAILABLE,
                              "the timestamp frequency is read when the camera is opened");
        default:
            return core::unknown_command("device info command", cmd);
    }
}

GC_ERROR CameraEntry::open(core::Grant wanted, core::Lock &lock,
                           std::shared_ptr<core::DeviceLink> &out) {
    if (std::shared_ptr<core::DeviceLink> link = open_link.lock(); link && link->connected())
        return core::fail(GC_ERR_ACCESS_DENIED, "camera %s is already open in this process",
                          id_.c_str());
    auto link = std::make_shared<CameraLink>(camera_, id_);
    lock.unlock();
    const GC_ERROR opened = link->open(wanted);
    lock.lock();
    if (opened != GC_ERR_SUCCESS) return opened;
    open_link = link;
    open_access = wanted;
    out = link;
    return GC_ERR_SUCCESS;
}

}  // namespace vantix::gev
