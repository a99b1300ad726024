// A packet socket's receive ring (Linux, TPACKET_V3) for one stream: the
// kernel writes the stream's datagrams into memory shared with us, block by
// block, so a burst of thousands of packets costs a wake-up per block
// instead of a system call per few dozen, and the kernel's copy is made
// by the sending side's context, not ours. A filter in the kernel keeps
// only unfragmented UDP datagrams to our address and port that arrive for
// this host (on the loopback a packet socket would also see each packet
// leave). Needs CAP_NET_RAW; without it open() fails and the receiver
// stays on its UDP socket, which stays bound either way so that the host
// never answers the camera's packets with "port unreachable".
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "socket.hpp"

namespace vantix::gev {

class PacketRing {
public:
    PacketRing() = default;
    ~PacketRing() { close(); }
    PacketRing(const PacketRing &) = delete;
    PacketRing &operator=(const PacketRing &) = delete;

    // A ring of about `bytes` on the interface holding `local.ip`, for
    // datagrams to `local`. False, with the reason, when the system or
    // the process's rights refuse.
    bool open(const Endpoint &local, std::size_t bytes, std::string &error);
    void close();
    bool is_open() const { return fd_ >= 0; }

    // Up to `count` datagrams, waiting up to `timeout` for the first: how
    // many slots were filled, 0 on time-out, -1 on error. The slots point
    // into the ring (their capacity is the datagram's size) and stay valid
    // until the next call.
    int receive_batch(ReceiveSlot *slots, std::size_t count, std::chrono::milliseconds timeout);

private:
    // Gives the block being read back to the kernel and moves on.
    void release_block();

    int fd_ = -1;
    std::uint8_t *ring_ = nullptr;
    std::size_t ring_size_ = 0, block_size_ = 0, blocks_ = 0;
    std::size_t block_ = 0;         // the block being read
    std::uint32_t left_ = 0;        // its packets not yet handed out; 0 when not taken
    std::uint8_t *next_ = nullptr;  // its next packet
    bool holding_ = false;          // the block is ours until released
};

}  // namespace vantix::gev
