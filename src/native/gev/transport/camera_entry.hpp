// A GigE Vision camera as discovery found it (DEVICE_INFO_* from its
// discovery answer), and opening it: a control channel, the privilege
// the access flag asks for, its GenICam document.
#pragma once

#include <memory>
#include <string>

#include "gev/net/discovery.hpp"
#include "gentl_core/transport.hpp"

namespace vantix::gev {

namespace core = gentl_core;

class CameraEntry final : public core::DeviceEntry {
public:
    CameraEntry(const DiscoveredCamera &camera, std::string interface_id);
    // "<serial>@<ip>" (the MAC where a camera has no serial): unique per
    // address, and readable in a device list.
    static std::string id_of(const DiscoveredCamera &camera);
    void update(const DiscoveredCamera &camera, const std::string &interface_id);

    std::string id() const override { return id_; }
    gentl::GC_ERROR info(std::int32_t cmd, const core::InfoOut &out) const override;
    gentl::GC_ERROR open(core::Grant wanted, core::Lock &lock,
                         std::shared_ptr<core::DeviceLink> &out) override;

    const DiscoveredCamera &camera() const { return camera_; }
    // The open link, while there is one (access status).
    std::weak_ptr<core::DeviceLink> open_link;
    core::Grant open_access = core::Grant::exclusive;

private:
    std::string id_, interface_id_;
    DiscoveredCamera camera_;
};

}  // namespace vantix::gev
