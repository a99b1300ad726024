// The control channel of one device: GVCP commands in, acknowledges out.
// It holds the bootstrap registers, the GenICam document (zipped or plain)
// at an address of its own, and the control privilege with its heartbeat;
// every other address goes to the simulated camera's remote port, bytes as
// they are (its registers are little-endian and its document says so).
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "bootstrap.hpp"
#include "gev/net/socket.hpp"
#include "sim_link.hpp"
#include "stream_sender.hpp"

namespace vantix::gev::device {

using Clock = std::chrono::steady_clock;

// Where the document is kept in device memory, below the camera's own
// document address (0x100000 + its registers' 0x1000...).
constexpr std::uint32_t kDocumentAddress = 0x00200000;

class ControlServer {
public:
    ControlServer(const DeviceIdentity &identity, std::vector<std::uint8_t> document, SimLink &link,
                  StreamSender &sender);

    // Handles one datagram from `from` and answers through `socket`
    // (nothing for a malformed datagram or a PACKETRESEND). A slow command
    // is preceded by a PENDING_ACK sent by pending_tick().
    void handle(const std::uint8_t *data, std::size_t size, const Endpoint &from,
                UdpSocket &socket);
    // Called every few ms by another thread: sends the PENDING_ACK of a
    // command running for more than ~50 ms, and drops control whose
    // heartbeat lapsed.
    void tick(UdpSocket &socket, Clock::time_point now);

    // What the stream thread needs: whether a frame goes out, and where.
    bool streaming(ChannelSettings &out) const;

private:
    struct Answer {
        std::uint16_t status = 0;
        std::vector<std::uint8_t> payload;
    };
    Answer read_registers(const std::uint8_t *p, std::size_t n, bool controls);
    Answer write_registers(const std::uint8_t *p, std::size_t n, const Endpoint &from,
                           bool controls);
    Answer read_memory(const std::uint8_t *p, std::size_t n);
    Answer write_memory(const std::uint8_t *p, std::size_t n, const Endpoint &from, bool controls);
    void packet_resend(const std::uint8_t *p, std::size_t n, bool extended);

    // One 32-bit word / a block of bytes at a device address.
    std::uint16_t read_bytes(std::uint32_t address, std::uint8_t *out, std::size_t size);
    std::uint16_t write_word(std::uint32_t address, std::uint32_t value, const Endpoint &from,
                             bool controls);
    std::uint16_t write_remote(std::uint32_t address, const std::uint8_t *data, std::size_t size);
    std::uint16_t write_privilege(std::uint32_t value, const Endpoint &from, bool controls);
    void drop_control();  // under mutex_
    ChannelSettings channel() const;

    mutable std::mutex mutex_;  // the bootstrap registers and the controller
    Bootstrap bootstrap_;
    const std::vector<std::uint8_t> document_;
    SimLink &link_;
    StreamSender &sender_;
    bool controlled_ = false;
    Endpoint controller_;
    Clock::time_point last_heard_;

    // The command in progress, for its PENDING_ACK.
    std::mutex busy_mutex_;
    bool busy_ = false, pending_sent_ = false;
    Endpoint busy_from_;
    std::uint16_t busy_request_ = 0;
    Clock::time_point busy_since_;
};

}  // namespace vantix::gev::device
