// The device's stream channel: each frame the camera delivers goes out as a
// block of GVSP packets, many per system call, to where the controller
// pointed the channel; the last blocks stay in a ring so that packets asked
// for again (PACKETRESEND) can be sent again. A block no longer held is not
// answered: the receiver's time-out decides. Thread-safe: the stream
// thread sends frames, the control thread resends and fires test packets.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "gev/net/socket.hpp"
#include "loss_injector.hpp"
#include "sim_link.hpp"
#include "stream_packets.hpp"

namespace vantix::gev::device {

struct ChannelSettings {
    Endpoint to;
    std::size_t packet_size = 0;  // the register's value: IP and UDP headers included
    bool extended = false, do_not_fragment = false;
};

class StreamSender {
public:
    StreamSender(std::uint32_t device_ip, double loss_percent, std::uint64_t seed)
        : device_ip_(device_ip), loss_(loss_percent, seed) {}

    bool open(std::string &error);
    void send_frame(const SimFrame &frame, const ChannelSettings &channel);
    void resend(std::uint64_t block_id, std::uint32_t first, std::uint32_t last,
                const ChannelSettings &channel);
    // A datagram of the packet size less the IP and UDP headers.
    void send_test_packet(const ChannelSettings &channel);
    void forget();  // a new controller: the old blocks are gone

    static std::uint64_t block_id_of(std::uint64_t frame_id, bool extended) {
        return extended ? frame_id + 1 : frame_id % 0xFFFF + 1;  // 0 is never used
    }

private:
    void send(std::vector<SendSlot> &slots, const ChannelSettings &channel);

    static constexpr std::size_t kRingBlocks = 16, kRingBytes = 160u << 20;
    static constexpr std::size_t kBatch = 16;  // packets per system call
    static constexpr std::uint64_t kLinkBitsPerSecond = 1000000000;
    const std::uint32_t device_ip_;
    std::mutex mutex_;
    UdpSocket socket_;
    LossInjector loss_;
    bool do_not_fragment_ = false;
    std::deque<Block> ring_;
    std::size_t ring_bytes_ = 0;
};

}  // namespace vantix::gev::device
