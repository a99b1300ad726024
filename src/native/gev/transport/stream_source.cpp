#include "stream_source.hpp"

#include "gentl_core/errors.hpp"
#include "gentl_core/node_map.hpp"
#include "gentl_core/producer.hpp"

namespace vantix::gev {

using namespace gentl;

namespace {

ReceiverSettings settings_for(const CameraLink &link) {
    ReceiverSettings settings;
    settings.resend = link.offers_resend();
    return settings;
}

// Bytes of one image line: PFNC codes carry the bits per pixel in bits 16-23.
std::size_t line_bytes(const ImageLeader &leader) {
    const std::size_t bits = (leader.pixel_format >> 16) & 0xFF;
    return (std::size_t(leader.width) * bits + 7) / 8 + leader.padding_x;
}

std::uint64_t to_ns(std::uint64_t ticks, std::uint64_t frequency) {
    if (frequency == 0) return 0;
    return static_cast<std::uint64_t>(static_cast<unsigned __int128>(ticks) * 1000000000u /
                                      frequency);
}

core::FrameInfo frame_info(const AssembledFrame &frame, std::uint64_t frequency) {
    core::FrameInfo info;
    info.id = frame.block_id;
    if (!frame.has_leader) return info;
    const ImageLeader &l = frame.leader;
    info.has_image = (l.payload_type & ~kPayloadTypeChunkFlag) == kPayloadTypeImage;
    info.timestamp = l.timestamp;
    info.timestamp_ns = to_ns(l.timestamp, frequency);
    info.pixel_format = l.pixel_format;
    info.width = l.width;
    info.height = l.height;
    info.offset_x = l.offset_x;
    info.offset_y = l.offset_y;
    info.padding_x = l.padding_x;
    info.padding_y = l.padding_y;
    const std::size_t line = line_bytes(l);
    info.data_size = line * l.height + l.padding_y;
    info.delivered_height = line ? std::min<std::size_t>(l.height, frame.filled / line) : 0;
    return info;
}

}  // namespace

StreamSource::StreamSource(std::shared_ptr<CameraLink> link)
    : link_(std::move(link)), receiver_(link_->channel(), settings_for(*link_)) {}

StreamSource::~StreamSource() { receiver_.stop(); }

GC_ERROR StreamSource::configure() {
    if (link_->read_only()) return GC_ERR_SUCCESS;
    const Result r = receiver_.configure(link_->camera().via.address);
    if (!r.ok()) return core::fail(r.code, "%s", r.text.c_str());
    configured_ = true;
    return GC_ERR_SUCCESS;
}

GC_ERROR StreamSource::start(core::Stream &stream, std::uint64_t frames, core::Lock &) {
    stream_ = stream.self();
    frames_left_ = frames;
    stopping_ = false;
    if (!configured_) return GC_ERR_SUCCESS;  // a monitor: nothing comes
    const Result r = receiver_.start(*this);
    return r.ok() ? GC_ERR_SUCCESS : core::fail(r.code, "%s", r.text.c_str());
}

void StreamSource::stop(core::Stream &, core::Lock &lock, bool) {
    // Frames still in the assembler come back through deliver(), which
    // returns their buffers to the input pool while stopping.
    stopping_ = true;
    lock.unlock();
    receiver_.stop();
    lock.lock();
    stopping_ = false;
}

bool StreamSource::acquire(Target &target) {
    core::Lock lock(core::library().mutex);
    std::shared_ptr<core::Stream> stream = stream_.lock();
    if (!stream || stopping_ || frames_left_ == 0) return false;
    core::Buffer *buffer = stream->take_input();
    if (!buffer) {
        stream->count_underrun();
        return false;
    }
    target = {buffer->memory, buffer->size, buffer};
    return true;
}

void StreamSource::deliver(const Target &target, const AssembledFrame &frame) {
    core::Lock lock(core::library().mutex);
    std::shared_ptr<core::Stream> stream = stream_.lock();
    auto *buffer = static_cast<core::Buffer *>(target.tag);
    if (!stream) return;
    if (stopping_ || frames_left_ == 0) {
        stream->give_back(buffer);
        return;
    }
    stream->deliver(buffer, frame_info(frame, link_->timestamp_frequency()), frame.filled,
                    frame.incomplete);
    if (frames_left_ != kInfinite) --frames_left_;
}

GC_ERROR StreamSource::info(std::int32_t cmd, const core::InfoOut &out) {
    const ReceiverStatistics s = receiver_.statistics();
    switch (cmd) {
        case kIncompleteFrames:
            return out.u64(s.stream.frames_incomplete);
        case kMissingPackets:
            return out.u64(s.stream.packets_missing);
        case kResendRequestedPackets:
            return out.u64(s.stream.packets_resend_requested);
        case kRecoveredPackets:
            return out.u64(s.stream.packets_recovered);
        case kDroppedPackets:
            return out.u64(s.stream.packets_dropped + s.foreign_packets + s.truncated_packets);
        case kPacketSize:
            return out.u64(receiver_.packet_size());
        default:
            return core::unknown_command("stream info command", cmd);
    }
}

namespace {
constexpr const char *kCounterNodes[] = {
    "StreamIncompleteFrameCount", "StreamMissingPacketCount", "StreamResendRequestedPacketCount",
    "StreamRecoveredPacketCount", "StreamDroppedPacketCount", "StreamPacketSize"};
}

void StreamSource::add_nodes(core::NodeMap &nodes) {
    for (const char *name : kCounterNodes)
        nodes.add(core::read_only_integer(name, "StreamStatistics", 8));
}

void StreamSource::refresh(core::Stream &stream) {
    const ReceiverStatistics s = receiver_.statistics();
    const std::uint64_t values[] = {
        s.stream.frames_incomplete,
        s.stream.packets_missing,
        s.stream.packets_resend_requested,
        s.stream.packets_recovered,
        s.stream.packets_dropped + s.foreign_packets + s.truncated_packets,
        receiver_.packet_size()};
    core::RegisterMap &r = stream.nodes.registers();
    for (std::size_t i = 0; i < std::size(kCounterNodes); ++i)
        r.set_int(stream.nodes.find(kCounterNodes[i])->reg, static_cast<std::int64_t>(values[i]));
}

}  // namespace vantix::gev
