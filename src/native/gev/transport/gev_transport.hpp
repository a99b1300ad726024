// The GigE Vision transport under the GenTL core: the host's network
// interfaces as GenTL interfaces, the cameras that answer discovery on
// each, and opening them over the control channel.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gev/net/discovery.hpp"
#include "gev/net/interfaces.hpp"
#include "gentl_core/transport.hpp"

namespace vantix::gev {

namespace core = gentl_core;

class GevTransport final : public core::Transport {
public:
    const core::ProducerInfo &producer() const override;
    gentl::GC_ERROR init() override;
    void close() override;
    std::vector<core::InterfaceEntry> interfaces(core::Lock &lock) override;
    std::vector<std::shared_ptr<core::DeviceEntry>> devices(const core::InterfaceEntry &iface,
                                                            std::uint64_t timeout_ms,
                                                            core::Lock &lock) override;

private:
    // One discovery answers for every interface: updating them one after
    // the other within this time reuses it.
    static constexpr std::chrono::milliseconds kReuse{500};
    // How long answers are collected, at most.
    static constexpr std::uint64_t kWaitMs = 250;

    void discover_all(std::uint64_t timeout_ms, core::Lock &lock);

    std::vector<NetworkInterface> nics_;                 // by interface id, as listed
    std::map<std::string, NetworkInterface> nic_by_id_;  // id -> interface
    std::vector<DiscoveredCamera> found_;
    core::Clock::time_point found_at_{};
    bool discovered_ = false;
    // The same camera keeps its entry, so an open one stays marked open.
    std::map<std::string, std::shared_ptr<core::DeviceEntry>> entries_;
};

}  // namespace vantix::gev
