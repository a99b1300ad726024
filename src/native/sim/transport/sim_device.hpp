// A simulated camera as the GenTL core sees it: an entry in an interface's
// device list, and once opened a link to its registers and its stream.
#pragma once

#include <memory>

#include "gentl_core/transport.hpp"
#include "sim/model/camera.hpp"

namespace vantix::sim {

using gentl_core::DeviceLink;
using gentl_core::InfoOut;
using gentl_core::Lock;

class SimDevice final : public gentl_core::DeviceEntry {
public:
    explicit SimDevice(std::shared_ptr<Camera> camera) : camera_(std::move(camera)) {}
    const std::shared_ptr<Camera> &camera() const { return camera_; }

    std::string id() const override { return camera_->config.id; }
    gentl::GC_ERROR info(std::int32_t cmd, const InfoOut &out) const override;
    gentl::GC_ERROR open(Grant wanted, Lock &lock, std::shared_ptr<DeviceLink> &out) override;

private:
    std::shared_ptr<Camera> camera_;
};

}  // namespace vantix::sim
