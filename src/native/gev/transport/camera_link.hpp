// An open GigE Vision camera: its control channel and privilege, the
// remote port (device memory over the network, and the camera's GenICam
// document served from a copy read once at opening), and its stream.
#pragma once

#include <condition_variable>
#include <memory>
#include <string>

#include "gev/net/control_channel.hpp"
#include "gev/net/discovery.hpp"
#include "gev/net/privilege.hpp"
#include "gentl_core/transport.hpp"

namespace vantix::gev {

namespace core = gentl_core;

class CameraLink final : public core::DeviceLink, public std::enable_shared_from_this<CameraLink> {
public:
    // Device memory addresses are 32-bit: the document's copy lives above
    // them, where no register of the camera can be.
    static constexpr std::uint64_t kDocumentAddress = 0x100000000ull;

    CameraLink(const DiscoveredCamera &camera, std::string id);
    ~CameraLink() override;

    // Takes the access asked for and reads the document; called without
    // the library lock (it talks to the camera).
    gentl::GC_ERROR open(core::Grant wanted);

    bool connected() const override { return !channel_.lost(); }
    std::string lost_reason() const override;
    gentl::GC_ERROR read(std::uint64_t address, void *data, std::size_t size,
                         core::Lock &lock) override;
    gentl::GC_ERROR write(std::uint64_t address, const void *data, std::size_t size,
                          core::Lock &lock) override;
    std::vector<core::PortUrl> urls(core::Lock &lock) override;
    gentl::GC_ERROR port_info(std::int32_t cmd, const core::InfoOut &out) override;
    gentl::GC_ERROR open_stream(const std::string &id, core::Lock &lock,
                                std::unique_ptr<core::StreamSource> &out) override;
    void close(core::Lock &lock) override;

    std::uint64_t timestamp_frequency() const { return timestamp_frequency_; }
    bool offers_resend() const { return (capability_ & kCapabilityPacketResend) != 0; }
    bool read_only() const { return channel_.read_only(); }
    const DiscoveredCamera &camera() const { return camera_; }
    ControlChannel &channel() { return channel_; }
    // Notified when the camera is lost, so waits for its buffers end.
    std::condition_variable &changed() { return changed_; }

private:
    gentl::GC_ERROR take_access(core::Grant wanted);
    gentl::GC_ERROR read_document();
    void on_lost();

    const DiscoveredCamera camera_;
    const std::string id_;
    ControlChannel channel_;
    Privilege privilege_;
    std::uint32_t capability_ = 0;
    std::uint64_t timestamp_frequency_ = 0;
    std::string document_, document_name_;
    std::condition_variable changed_;
};

}  // namespace vantix::gev
