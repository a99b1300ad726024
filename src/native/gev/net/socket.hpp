// A UDP socket over IPv4, the only place with system socket calls: the
// rest of the network layer sees addresses as host-order numbers and
// waits with time-outs, never on a bare blocking call.
//
// Linux/POSIX only. A Windows build would need:
// - Winsock started once per process (WSAStartup / WSACleanup), SOCKET
//   handles instead of descriptors, closesocket(), WSAGetLastError();
// - WSAPoll (or select) instead of poll for the time-outs;
// - no recvmmsg: batches through WSARecvMsg (a function pointer fetched
//   with WSAIoctl SIO_GET_EXTENSION_FUNCTION_POINTER), one datagram per
//   call, or overlapped I/O / registered I/O (RIO) for many in flight;
// - SO_RCVBUF only (no SO_RCVBUFFORCE), and no IP_MTU_DISCOVER: the
//   don't-fragment flag is IP_DONTFRAGMENT;
// - interfaces from GetAdaptersAddresses instead of getifaddrs, and a
//   firewall rule for the stream ports (inbound UDP from the camera).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vantix::gev {

struct Endpoint {
    std::uint32_t ip = 0;  // host order
    std::uint16_t port = 0;
    bool operator==(const Endpoint &o) const { return ip == o.ip && port == o.port; }
    bool operator!=(const Endpoint &o) const { return !(*this == o); }
};

// One datagram of a batch, in memory the caller owns.
// One datagram of an outgoing batch.
struct SendSlot {
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
    Endpoint to;
};

struct ReceiveSlot {
    std::uint8_t *data = nullptr;
    std::size_t capacity = 0;
    std::size_t size = 0;    // filled by receive_batch
    bool truncated = false;  // the datagram was longer than capacity
    Endpoint from;
};

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket() { close(); }
    UdpSocket(UdpSocket &&other) noexcept : fd_(other.fd_), reuse_(other.reuse_) { other.fd_ = -1; }
    UdpSocket &operator=(UdpSocket &&other) noexcept;
    UdpSocket(const UdpSocket &) = delete;
    UdpSocket &operator=(const UdpSocket &) = delete;

    // Binds to `local` (ip 0: any address; port 0: an ephemeral one).
    // False, with the reason in `error`, when the system refuses.
    bool open(const Endpoint &local, std::string &error);
    void close();
    bool is_open() const { return fd_ >= 0; }
    Endpoint local() const;

    bool enable_broadcast();
    // Lets other sockets bind the same address and port (each camera of a
    // server binds the broadcast address's control port); before open().
    void reuse_address() { reuse_ = true; }
    // Asks for `bytes` of receive buffer (forced past the system's limit
    // where the process may); returns what the system granted.
    std::size_t grow_receive_buffer(std::size_t bytes);
    // Outgoing datagrams with the don't-fragment flag; a datagram larger
    // than the path allows is then refused by send_to, not cut.
    bool set_do_not_fragment(bool on);

    // True when the whole datagram went out.
    bool send_to(const Endpoint &to, const std::uint8_t *data, std::size_t size);
    // Many datagrams in as few system calls as the system allows: how many
    // went out (the first ones), or -1 when none could.
    int send_batch(const SendSlot *slots, std::size_t count);

    enum class Wait { ready, timeout, error };
    // Waits up to `timeout` until a datagram can be read.
    Wait wait_readable(std::chrono::milliseconds timeout);
    // One datagram: its size (cut to `capacity`), 0 on time-out, -1 on error.
    long receive(std::uint8_t *data, std::size_t capacity, Endpoint &from,
                 std::chrono::milliseconds timeout);
    // Up to `count` datagrams in one system call once one is there: how
    // many slots were filled, 0 on time-out, -1 on error.
    int receive_batch(ReceiveSlot *slots, std::size_t count, std::chrono::milliseconds timeout);

    // The host address the system would send from toward `ip` (0 when
    // there is no route).
    static std::uint32_t source_toward(std::uint32_t ip);
    // The system's text for this thread's last failed call.
    static std::string last_error();

private:
    int fd_ = -1;
    bool reuse_ = false;
};

}  // namespace vantix::gev
