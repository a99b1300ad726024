// One stream channel of a camera: where its packets go (the host address
// on the camera's interface, an ephemeral port, written into the camera's
// stream registers), how large they may be, and a thread that reads them
// in batches and hands them to a FrameAssembler: from a packet socket's
// ring where the process may open one, from the UDP socket otherwise.
// Resend requests leave through the control channel's socket.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "control_channel.hpp"
#include "gev/protocol/frame_assembler.hpp"
#include "packet_ring.hpp"
#include "socket.hpp"

namespace vantix::gev {

struct ReceiverSettings {
    unsigned channel = 0;
    std::size_t receive_buffer = 64u << 20;  // asked for; the system may grant less
    // Largest first; each tried with a test packet that may not be cut.
    std::vector<std::uint16_t> packet_sizes = {9000, 8192, 1500, 576};
    bool negotiate_packet_size = true;
    bool resend = true;  // ask for lost packets when the camera offers PACKETRESEND
    std::chrono::milliseconds test_packet_wait{60};
    std::size_t batch = 64;                   // packets per system call
    bool packet_ring = true;                  // where the process may (CAP_NET_RAW)
    std::size_t ring_bytes = 32u << 20;       // a few frames of the largest cameras
    std::chrono::milliseconds tick{2};        // on_tick at least this often while frames are open
    std::chrono::milliseconds idle_wait{20};  // between frames; bounds stop()
    AssemblerSettings assembler;              // packet size and resend filled in by configure()
};

struct ReceiverStatistics {
    StreamStatistics stream;
    std::uint64_t foreign_packets = 0;  // not from the camera
    std::uint64_t truncated_packets = 0;
    std::size_t receive_buffer = 0;  // granted by the system
    bool packet_ring = false;        // the stream is read from a packet ring
};

class StreamReceiver {
public:
    StreamReceiver(ControlChannel &control, ReceiverSettings settings = {});
    ~StreamReceiver() { stop(); }
    StreamReceiver(const StreamReceiver &) = delete;
    StreamReceiver &operator=(const StreamReceiver &) = delete;

    // Binds the stream socket on `host_ip` (the host's address on the
    // interface the camera was found through), points the camera's
    // channel at it, reads what the channel offers and settles the
    // packet size.
    Result configure(std::uint32_t host_ip);
    Endpoint local() const { return socket_.local(); }
    std::uint32_t packet_size() const { return packet_size_; }
    std::uint32_t stream_capability() const { return capability_; }
    const AssemblerSettings &assembler_settings() const { return settings_.assembler; }

    // Starts the thread; `sink` lends the buffers and takes the frames,
    // from the receiver's thread.
    Result start(FrameSink &sink);
    // Joins the thread; frames in progress go back through the sink,
    // incomplete. Bounded by the idle wait and a few ticks.
    void stop();
    bool running() const { return thread_.joinable(); }

    ReceiverStatistics statistics() const;

private:
    class ResendingSink;
    void run(FrameSink &sink);
    bool test_packet_arrives(std::uint32_t size, std::uint32_t flags);

    ControlChannel &control_;
    ReceiverSettings settings_;
    UdpSocket socket_;
    PacketRing ring_;  // open while running, when the process may
    std::uint32_t packet_size_ = 0, capability_ = 0;
    std::size_t granted_buffer_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex stats_mutex_;
    ReceiverStatistics stats_;
};

}  // namespace vantix::gev
