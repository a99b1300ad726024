#include "stream_sender.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vantix::gev::device {

bool StreamSender::open(std::string &error) {
    if (!socket_.open(Endpoint{device_ip_, 0}, error)) return false;
    socket_.set_do_not_fragment(false);
    return true;
}

void StreamSender::send(std::vector<SendSlot> &slots, const ChannelSettings &channel) {
    if (channel.do_not_fragment != do_not_fragment_) {
        socket_.set_do_not_fragment(channel.do_not_fragment);
        do_not_fragment_ = channel.do_not_fragment;
    }
    loss_.apply(slots);
    // Paced as a gigabit link would carry them: at memory speed a frame's
    // burst would overrun the receiver's socket buffer, which no camera on
    // a wire does.
    const auto start = std::chrono::steady_clock::now();
    std::size_t done = 0, bytes = 0;
    while (done < slots.size()) {
        const std::size_t n = std::min<std::size_t>(kBatch, slots.size() - done);
        const int sent = socket_.send_batch(slots.data() + done, n);
        const std::size_t went =
            sent > 0 ? static_cast<std::size_t>(sent) : 1;  // a refused one is skipped
        for (std::size_t i = 0; i < went; ++i) bytes += slots[done + i].size + kIpUdpOverhead;
        done += went;
        std::this_thread::sleep_until(
            start + std::chrono::nanoseconds(bytes * 8 * 1000000000ull / kLinkBitsPerSecond));
    }
}

void StreamSender::send_frame(const SimFrame &frame, const ChannelSettings &channel) {
    BlockImage image;
    image.extended = channel.extended;
    image.block_id = block_id_of(frame.frame_id, channel.extended);
    image.timestamp = frame.timestamp;
    image.pixel_format = static_cast<std::uint32_t>(frame.pixel_format);
    image.width = static_cast<std::uint32_t>(frame.width);
    image.height = static_cast<std::uint32_t>(frame.height);
    image.offset_x = static_cast<std::uint32_t>(frame.offset_x);
    image.offset_y = static_cast<std::uint32_t>(frame.offset_y);
    ImageLeader leader;
    leader.pixel_format = image.pixel_format;
    leader.width = image.width;
    leader.height = image.height;
    const std::size_t total = static_cast<std::size_t>(image_size(leader, std::uint64_t{1} << 40));
    const std::size_t sent = frame.incomplete ? std::min(frame.filled, total) : total;

    std::lock_guard<std::mutex> hold(mutex_);
    // The oldest block's memory is reused when the ring is full.
    Block block;
    if (ring_.size() >= kRingBlocks || ring_bytes_ > kRingBytes) {
        ring_bytes_ -= ring_.front().bytes.size();
        block = std::move(ring_.front());
        ring_.pop_front();
    }
    build_block(image, frame.data, std::min(sent, frame.filled), total, channel.packet_size, block);
    std::vector<SendSlot> slots(block.count());
    for (std::size_t i = 0; i < slots.size(); ++i)
        slots[i] = SendSlot{block.packet(i), block.packet_size(i), channel.to};
    send(slots, channel);
    ring_bytes_ += block.bytes.size();
    ring_.push_back(std::move(block));
}

void StreamSender::resend(std::uint64_t block_id, std::uint32_t first, std::uint32_t last,
                          const ChannelSettings &channel) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const Block &block : ring_) {
        if (block.block_id != block_id) continue;
        std::vector<SendSlot> slots;
        for (std::size_t i = 0; i < block.count(); ++i)
            if (block.ids[i] >= first && block.ids[i] <= last)
                slots.push_back(SendSlot{block.packet(i), block.packet_size(i), channel.to});
        send(slots, channel);
        return;
    }
}

void StreamSender::send_test_packet(const ChannelSettings &channel) {
    const std::size_t size = channel.packet_size > kIpUdpOverhead + kStreamHeaderSize
                                 ? channel.packet_size - kIpUdpOverhead
                                 : kStreamHeaderSize;
    std::vector<std::uint8_t> packet;
    put_stream_header(packet, 0, 0, PacketFormat::payload, 0, false);
    packet.resize(size, 0);
    std::lock_guard<std::mutex> hold(mutex_);
    if (channel.do_not_fragment != do_not_fragment_) {
        socket_.set_do_not_fragment(channel.do_not_fragment);
        do_not_fragment_ = channel.do_not_fragment;
    }
    socket_.send_to(channel.to, packet.data(), packet.size());
}

void StreamSender::forget() {
    std::lock_guard<std::mutex> hold(mutex_);
    ring_.clear();
    ring_bytes_ = 0;
}

}  // namespace vantix::gev::device
