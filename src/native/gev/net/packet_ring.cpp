#include "packet_ring.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include "interfaces.hpp"

namespace vantix::gev {
namespace {

constexpr std::size_t kBlockSize = 1u << 20;  // holds 100 packets of 9000 bytes
constexpr std::size_t kMinBlocks = 4, kMaxBlocks = 256;
constexpr unsigned kFrameSize = 2048;  // only checked by the kernel in this ring version
// A block not yet full is handed over after this long: the last packets
// of a frame wait at most this for the reader.
constexpr unsigned kRetireMs = 2;
constexpr std::uint32_t kUdp = 17;

std::uint16_t get16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
std::uint32_t get32(const std::uint8_t *p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

sock_filter op(std::uint16_t code, std::uint32_t k, std::uint8_t jt = 0, std::uint8_t jf = 0) {
    return sock_filter{code, jt, jf, k};
}

// Over the IPv4 header (the packet socket strips the link layer): keeps
// datagrams that arrive for this host (not the loopback's outgoing copy),
// UDP, unfragmented, to `ip`:`port`. Everything else stays in the kernel.
bool attach_filter(int fd, std::uint32_t ip, std::uint16_t port) {
    constexpr std::uint8_t kDrop = 12;
    sock_filter code[] = {
        op(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
        op(BPF_JMP | BPF_JEQ | BPF_K, PACKET_HOST, 0, kDrop - 2),
        op(BPF_LD | BPF_B | BPF_ABS, 9),  // protocol
        op(BPF_JMP | BPF_JEQ | BPF_K, kUdp, 0, kDrop - 4),
        op(BPF_LD | BPF_H | BPF_ABS, 6),  // more fragments, fragment offset
        op(BPF_JMP | BPF_JSET | BPF_K, 0x3FFF, kDrop - 6, 0),
        op(BPF_LD | BPF_W | BPF_ABS, 16),  // destination address
        op(BPF_JMP | BPF_JEQ | BPF_K, ip, 0, kDrop - 8),
        op(BPF_LDX | BPF_B | BPF_MSH, 0),  // header length
        op(BPF_LD | BPF_H | BPF_IND, 2),   // destination port
        op(BPF_JMP | BPF_JEQ | BPF_K, port, 0, 1),
        op(BPF_RET | BPF_K, 0xFFFFFFFF),
        op(BPF_RET | BPF_K, 0),
    };
    static_assert(sizeof code / sizeof code[0] == kDrop + 1, "kDrop is the last instruction");
    const sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

unsigned interface_index(std::uint32_t ip) {
    for (const NetworkInterface &i : list_interfaces())
        if (i.address == ip) return ::if_nametoindex(i.name.c_str());
    return 0;
}

tpacket_block_desc *block_at(std::uint8_t *ring, std::size_t block_size, std::size_t i) {
    return reinterpret_cast<tpacket_block_desc *>(ring + i * block_size);
}

bool user_owns(const tpacket_block_desc *b) {
    return (__atomic_load_n(&b->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) != 0;
}

}  // namespace

bool PacketRing::open(const Endpoint &local, std::size_t bytes, std::string &error) {
    close();
    auto fail = [&](const std::string &what) {
        error = what + ": " + UdpSocket::last_error();
        close();
        return false;
    };
    if (local.ip == 0 || local.port == 0) {
        error = "a packet ring needs the stream's address and port";
        return false;
    }
    const unsigned index = interface_index(local.ip);
    if (index == 0) {
        error = "no interface holds the stream's address";
        return false;
    }
    // Protocol 0: nothing arrives before the filter and the ring are in place.
    fd_ = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return fail("cannot open a packet socket");
    if (!attach_filter(fd_, local.ip, local.port)) return fail("cannot filter a packet socket");
#ifdef PACKET_IGNORE_OUTGOING
    // Spares the loopback's outgoing copies before the filter (Linux 4.20+).
    const int ignore = 1;
    ::setsockopt(fd_, SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore);
#endif
    const int version = TPACKET_V3;
    if (::setsockopt(fd_, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0)
        return fail("no TPACKET_V3 ring");
    blocks_ = std::min(std::max(bytes / kBlockSize, kMinBlocks), kMaxBlocks);
    block_size_ = kBlockSize;
    tpacket_req3 request{};
    request.tp_block_size = static_cast<unsigned>(block_size_);
    request.tp_block_nr = static_cast<unsigned>(blocks_);
    request.tp_frame_size = kFrameSize;
    request.tp_frame_nr = static_cast<unsigned>(block_size_ / kFrameSize * blocks_);
    request.tp_retire_blk_tov = kRetireMs;
    if (::setsockopt(fd_, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0)
        return fail("cannot set up a receive ring");
    ring_size_ = block_size_ * blocks_;
    void *memory = ::mmap(nullptr, ring_size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (memory == MAP_FAILED) {
        ring_size_ = 0;
        return fail("cannot map a receive ring");
    }
    ring_ = static_cast<std::uint8_t *>(memory);
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_IP);
    at.sll_ifindex = static_cast<int>(index);
    if (::bind(fd_, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0)
        return fail("cannot bind a packet socket");
    block_ = 0;
    left_ = 0;
    holding_ = false;
    return true;
}

void PacketRing::close() {
    if (ring_ != nullptr) ::munmap(ring_, ring_size_);
    ring_ = nullptr;
    ring_size_ = 0;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    holding_ = false;
    left_ = 0;
}

void PacketRing::release_block() {
    tpacket_block_desc *b = block_at(ring_, block_size_, block_);
    __atomic_store_n(&b->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    block_ = (block_ + 1) % blocks_;
    holding_ = false;
}

int PacketRing::receive_batch(ReceiveSlot *slots, std::size_t count,
                              std::chrono::milliseconds timeout) {
    if (fd_ < 0) return -1;
    if (count == 0) return 0;
    // The previous call's packets have been read by now.
    if (holding_ && left_ == 0) release_block();
    if (!holding_) {
        tpacket_block_desc *b = block_at(ring_, block_size_, block_);
        if (!user_owns(b)) {
            const auto ms = timeout.count();
            pollfd p{fd_, POLLIN, 0};
            const int n = ::poll(&p, 1, ms < 0 ? 0 : ms > 1000000 ? 1000000 : static_cast<int>(ms));
            if (n < 0 && errno != EINTR) return -1;
            if (!user_owns(b)) return 0;
        }
        holding_ = true;
        left_ = b->hdr.bh1.num_pkts;
        next_ = reinterpret_cast<std::uint8_t *>(b) + b->hdr.bh1.offset_to_first_pkt;
        if (left_ == 0) return 0;
    }
    int n = 0;
    for (; static_cast<std::size_t>(n) < count && left_ > 0; ++n) {
        const auto *h = reinterpret_cast<const tpacket3_hdr *>(next_);
        std::uint8_t *ip = next_ + h->tp_net;
        const std::size_t have = h->tp_snaplen;
        ReceiveSlot &s = slots[n];
        s = ReceiveSlot{};
        const std::size_t header = have >= 20 ? std::size_t{ip[0] & 0x0Fu} * 4 : 0;
        if (header < 20 || have < header + 8) {
            s.truncated = true;  // the filter let nothing this short through; counted, not read
        } else {
            std::uint8_t *udp = ip + header;
            const std::size_t length = get16(udp + 4), room = have - header;
            s.from = Endpoint{get32(ip + 12), get16(udp)};
            s.data = udp + 8;
            s.size = s.capacity = (length < 8 ? 8 : std::min(length, room)) - 8;
            s.truncated = length > room || h->tp_len > h->tp_snaplen;
        }
        next_ += h->tp_next_offset;
        --left_;
    }
    return n;
}

}  // namespace vantix::gev
