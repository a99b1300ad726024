// The data stream of a GigE Vision camera: its stream channel pointed at
// this host, a receiver thread putting packets together in the consumer's
// buffers, and the counters of what the network did.
#pragma once

#include <memory>

#include "camera_link.hpp"
#include "gev/net/receiver.hpp"
#include "gentl_core/transport.hpp"

namespace vantix::gev {

class StreamSource final : public core::StreamSource, private FrameSink {
public:
    // STREAM_INFO_* beyond the standard ones (UINT64 each).
    enum Info : std::int32_t {
        kIncompleteFrames = 1000,
        kMissingPackets,
        kResendRequestedPackets,
        kRecoveredPackets,
        kDroppedPackets,
        kPacketSize,
    };

    explicit StreamSource(std::shared_ptr<CameraLink> link);
    ~StreamSource() override;
    // Points the camera's stream channel here and settles the packet size;
    // without the library lock. A read-only open cannot: it receives
    // nothing.
    gentl::GC_ERROR configure();

    std::size_t payload_size() override { return 0; }  // the camera's PayloadSize says
    gentl::GC_ERROR start(core::Stream &stream, std::uint64_t frames, core::Lock &lock) override;
    void stop(core::Stream &stream, core::Lock &lock, bool kill) override;
    std::condition_variable &changed() override { return link_->changed(); }
    bool connected() const override { return link_->connected(); }
    gentl::GC_ERROR info(std::int32_t cmd, const core::InfoOut &out) override;
    void add_nodes(core::NodeMap &nodes) override;
    void refresh(core::Stream &stream) override;
    const char *tl_type() const override { return "GEV"; }

private:
    bool acquire(Target &target) override;
    void deliver(const Target &target, const AssembledFrame &frame) override;
    void request_resend(std::uint64_t, std::uint32_t, std::uint32_t) override {}

    std::shared_ptr<CameraLink> link_;
    StreamReceiver receiver_;
    bool configured_ = false;
    // Under the library lock.
    std::weak_ptr<core::Stream> stream_;
    std::uint64_t frames_left_ = 0;
    bool stopping_ = false;
};

}  // namespace vantix::gev
