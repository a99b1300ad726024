#include "socket.hpp"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/filter.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantix::gev {
namespace {

sockaddr_in to_sockaddr(const Endpoint &e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(e.ip);
    a.sin_port = htons(e.port);
    return a;
}

Endpoint from_sockaddr(const sockaddr_in &a) {
    return Endpoint{ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
}

int poll_ms(std::chrono::milliseconds timeout) {
    const auto ms = timeout.count();
    return ms < 0 ? 0 : ms > 1000000 ? 1000000 : static_cast<int>(ms);
}

// One datagram of a batch: its bytes and its peer's address.
mmsghdr one_datagram(iovec &bytes, sockaddr_in &peer) {
    mmsghdr m{};
    m.msg_hdr.msg_name = &peer;
    m.msg_hdr.msg_namelen = sizeof peer;
    m.msg_hdr.msg_iov = &bytes;
    m.msg_hdr.msg_iovlen = 1;
    return m;
}

}  // namespace

UdpSocket &UdpSocket::operator=(UdpSocket &&other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        reuse_ = other.reuse_;
        other.fd_ = -1;
    }
    return *this;
}

bool UdpSocket::open(const Endpoint &local, std::string &error) {
    close();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        error = "cannot open a UDP socket: " + last_error();
        return false;
    }
    const int on = 1;
    if (reuse_) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = to_sockaddr(local);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        error = "cannot bind a UDP socket to " + std::to_string(local.port) + "@" +
                std::to_string(local.ip >> 24) + "." + std::to_string((local.ip >> 16) & 255) +
                "." + std::to_string((local.ip >> 8) & 255) + "." + std::to_string(local.ip & 255) +
                ": " + last_error();
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void UdpSocket::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Endpoint UdpSocket::local() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0) return {};
    return from_sockaddr(a);
}

bool UdpSocket::enable_broadcast() {
    const int on = 1;
    return ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

std::size_t UdpSocket::grow_receive_buffer(std::size_t bytes) {
    const int wanted = bytes > (1u << 30) ? (1 << 30) : static_cast<int>(bytes);
    // SO_RCVBUFFORCE passes net.core.rmem_max but needs CAP_NET_ADMIN;
    // without it SO_RCVBUF is silently capped at rmem_max.
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) != 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    int granted = 0;
    socklen_t len = sizeof granted;
    if (::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &granted, &len) != 0) return 0;
    // Linux reports twice the payload room (bookkeeping included).
    return static_cast<std::size_t>(granted) / 2;
}

bool UdpSocket::set_do_not_fragment(bool on) {
    const int mode = on ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    return ::setsockopt(fd_, IPPROTO_IP, IP_MTU_DISCOVER, &mode, sizeof mode) == 0;
}

bool UdpSocket::send_to(const Endpoint &to, const std::uint8_t *data, std::size_t size) {
    const sockaddr_in a = to_sockaddr(to);
    ssize_t sent;
    do {
        sent = ::sendto(fd_, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&a),
                        sizeof a);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(size);
}

bool UdpSocket::set_discard(bool on) {
    if (!on)
        return ::setsockopt(fd_, SOL_SOCKET, SO_DETACH_FILTER, nullptr, 0) == 0 || errno == ENOENT;
    sock_filter keep_nothing[] = {BPF_STMT(BPF_RET | BPF_K, 0)};
    const sock_fprog program{1, keep_nothing};
    return ::setsockopt(fd_, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

int UdpSocket::send_batch(const SendSlot *slots, std::size_t count) {
    constexpr std::size_t kMax = 64;
    mmsghdr msgs[kMax];
    iovec iovs[kMax];
    sockaddr_in addrs[kMax];
    std::size_t done = 0;
    while (done < count) {
        const std::size_t n = std::min(count - done, kMax);
        for (std::size_t i = 0; i < n; ++i) {
            const SendSlot &s = slots[done + i];
            addrs[i] = to_sockaddr(s.to);
            iovs[i] = iovec{const_cast<std::uint8_t *>(s.data), s.size};
            msgs[i] = one_datagram(iovs[i], addrs[i]);
        }
        int sent;
        do {
            sent = ::sendmmsg(fd_, msgs, static_cast<unsigned>(n), MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent <= 0) return done ? static_cast<int>(done) : -1;
        done += static_cast<std::size_t>(sent);
    }
    return static_cast<int>(done);
}

UdpSocket::Wait UdpSocket::wait_readable(std::chrono::milliseconds timeout) {
    if (fd_ < 0) return Wait::error;
    pollfd p{fd_, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int n = ::poll(&p, 1, poll_ms(left));
        if (n > 0) return (p.revents & POLLIN) ? Wait::ready : Wait::error;
        if (n == 0) return Wait::timeout;
        if (errno != EINTR) return Wait::error;
    }
}

long UdpSocket::receive(std::uint8_t *data, std::size_t capacity, Endpoint &from,
                        std::chrono::milliseconds timeout) {
    const Wait w = wait_readable(timeout);
    if (w == Wait::timeout) return 0;
    if (w == Wait::error) return -1;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ssize_t n;
    do {
        n = ::recvfrom(fd_, data, capacity, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&a), &len);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    from = from_sockaddr(a);
    return static_cast<long>(n);
}

int UdpSocket::receive_batch(ReceiveSlot *slots, std::size_t count,
                             std::chrono::milliseconds timeout) {
    if (count == 0) return 0;
    const Wait w = wait_readable(timeout);
    if (w == Wait::timeout) return 0;
    if (w == Wait::error) return -1;
    // Small batches live on the stack; the receiver's are a few dozen.
    constexpr std::size_t kMax = 256;
    if (count > kMax) count = kMax;
    mmsghdr msgs[kMax];
    iovec iovs[kMax];
    sockaddr_in addrs[kMax];
    for (std::size_t i = 0; i < count; ++i) {
        iovs[i] = iovec{slots[i].data, slots[i].capacity};
        msgs[i] = one_datagram(iovs[i], addrs[i]);
    }
    int n;
    do {
        n = ::recvmmsg(fd_, msgs, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    for (int i = 0; i < n; ++i) {
        slots[i].size = msgs[i].msg_len;
        slots[i].truncated = (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        slots[i].from = from_sockaddr(addrs[i]);
    }
    return n;
}

std::uint32_t UdpSocket::source_toward(std::uint32_t ip) {
    // Connecting a UDP socket sends nothing; it only picks the route.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) return 0;
    const sockaddr_in to = to_sockaddr(Endpoint{ip, 9});
    sockaddr_in a{};
    socklen_t len = sizeof a;
    std::uint32_t source = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        source = ntohl(a.sin_addr.s_addr);
    ::close(fd);
    return source;
}

std::string UdpSocket::last_error() {
    const int e = errno;
    return std::strerror(e);
}

}  // namespace vantix::gev
