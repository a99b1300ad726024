#include "control_server.hpp"

#include <algorithm>
#include <cstring>

#include "gev/protocol/big_endian.hpp"
#include "gev/protocol/gvcp.hpp"

namespace vantix::gev::device {

using namespace gentl;

namespace {

constexpr std::uint8_t kKey = 0x42, kFlagAck = 0x01, kFlagExtended = 0x10;
constexpr auto kPendingAfter = std::chrono::milliseconds(50);
constexpr std::uint16_t kPendingMs = 1000;  // what a slow command is still expected to take
constexpr std::size_t kMaxRegisters = (576 - kHeaderSize) / 4;
constexpr std::uint32_t kMinPacketSize = 96, kMaxPacketSize = 16384;

std::uint16_t status_of(GC_ERROR e) {
    switch (e) {
        case GC_ERR_SUCCESS:
            return kSuccess;
        case GC_ERR_ACCESS_DENIED:
            return kAccessDenied;
        case GC_ERR_INVALID_ADDRESS:
            return kInvalidAddress;
        case GC_ERR_INVALID_PARAMETER:
            return kInvalidParameter;
        case GC_ERR_BUSY:
            return kBusy;
        default:
            return kError;
    }
}

std::vector<std::uint8_t> ack(std::uint16_t status, std::uint16_t code, std::uint16_t request,
                              const std::vector<std::uint8_t> &payload) {
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + payload.size());
    be::put16(out, status);
    be::put16(out, code);
    be::put16(out, static_cast<std::uint16_t>(payload.size()));
    be::put16(out, request);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

bool writable_bootstrap(std::uint32_t a) {
    return a == reg::kHeartbeatTimeout || a == reg::kControlPrivilege || a == kGvspConfiguration ||
           a == reg::stream_port(0) || a == reg::stream_packet_size(0) ||
           a == reg::stream_packet_delay(0) || a == reg::stream_destination(0) ||
           a == reg::stream_configuration(0);
}

}  // namespace

ControlServer::ControlServer(const DeviceIdentity &identity, std::vector<std::uint8_t> document,
                             SimLink &link, StreamSender &sender)
    : bootstrap_(identity), document_(std::move(document)), link_(link), sender_(sender) {}

ChannelSettings ControlServer::channel() const {
    ChannelSettings c;
    c.to = Endpoint{bootstrap_.get(reg::stream_destination(0)),
                    static_cast<std::uint16_t>(bootstrap_.get(reg::stream_port(0)))};
    const std::uint32_t size = bootstrap_.get(reg::stream_packet_size(0));
    c.packet_size = size & kPacketSizeMask;
    c.do_not_fragment = (size & kPacketSizeDoNotFragment) != 0;
    c.extended = (bootstrap_.get(kGvspConfiguration) & kGvspExtendedIds) != 0;
    return c;
}

bool ControlServer::streaming(ChannelSettings &out) const {
    std::lock_guard<std::mutex> hold(mutex_);
    out = channel();
    return controlled_ && out.to.ip != 0 && out.to.port != 0;
}

void ControlServer::drop_control() {
    controlled_ = false;
    bootstrap_.reset();
    sender_.forget();
    // The camera stops acquiring, as when its controller goes.
    std::uint64_t address = 0;
    std::uint32_t length = 0;
    if (link_.feature_register("AcquisitionStop", address, length)) {
        const std::uint8_t one[8] = {1};
        link_.write(address, one, length);
    }
}

void ControlServer::tick(UdpSocket &socket, Clock::time_point now) {
    {
        std::lock_guard<std::mutex> hold(busy_mutex_);
        if (busy_ && !pending_sent_ && now - busy_since_ > kPendingAfter) {
            std::vector<std::uint8_t> payload;
            be::put16(payload, 0);
            be::put16(payload, kPendingMs);
            const auto bytes = ack(kSuccess, kPendingAck, busy_request_, payload);
            socket.send_to(busy_from_, bytes.data(), bytes.size());
            pending_sent_ = true;
        }
    }
    std::lock_guard<std::mutex> hold(mutex_);
    const auto timeout = std::chrono::milliseconds(bootstrap_.get(reg::kHeartbeatTimeout));
    if (controlled_ && now - last_heard_ > timeout) drop_control();
}

void ControlServer::handle(const std::uint8_t *data, std::size_t size, const Endpoint &from,
                           UdpSocket &socket) {
    if (size < kHeaderSize || data[0] != kKey) return;
    const std::uint8_t flags = data[1];
    const std::uint16_t command = be::get16(data + 2), request = be::get16(data + 6);
    const std::size_t length = be::get16(data + 4);
    if (length > size - kHeaderSize) return;
    const std::uint8_t *p = data + kHeaderSize;
    if (command == kPacketResend) {
        packet_resend(p, length, (flags & kFlagExtended) != 0);
        return;
    }
    bool controls;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        controls = controlled_ && from == controller_;
        if (controls) last_heard_ = Clock::now();
        // Under exclusive control nobody else may even read.
        const bool exclusive = (bootstrap_.get(reg::kControlPrivilege) & kPrivilegeExclusive) != 0;
        if (controlled_ && !controls && exclusive && command != kDiscovery) {
            const auto bytes = ack(kAccessDenied, command + 1, request, {});
            socket.send_to(from, bytes.data(), bytes.size());
            return;
        }
    }
    {
        std::lock_guard<std::mutex> hold(busy_mutex_);
        busy_ = true;
        pending_sent_ = false;
        busy_from_ = from;
        busy_request_ = request;
        busy_since_ = Clock::now();
    }
    Answer a;
    switch (command) {
        case kDiscovery:
            break;
        case kReadReg:
            a = read_registers(p, length, controls);
            break;
        case kWriteReg:
            a = write_registers(p, length, from, controls);
            break;
        case kReadMem:
            a = read_memory(p, length);
            break;
        case kWriteMem:
            a = write_memory(p, length, from, controls);
            break;
        default:
            a.status = kNotImplemented;
    }
    {
        std::lock_guard<std::mutex> hold(busy_mutex_);
        busy_ = false;
    }
    // A lost camera answers nothing: the client sees what a dead link shows.
    if (link_.lost()) return;
    if (command == kDiscovery) {
        std::lock_guard<std::mutex> hold(mutex_);
        a.payload.assign(bootstrap_.bytes(), bootstrap_.bytes() + kDiscoveryMemorySize);
    }
    const auto bytes = ack(a.status, command + 1, request, a.payload);
    socket.send_to(from, bytes.data(), bytes.size());
}

std::uint16_t ControlServer::read_bytes(std::uint32_t address, std::uint8_t *out,
                                        std::size_t size) {
    if (address < kBootstrapSize) {
        if (size > kBootstrapSize - address) return kInvalidAddress;
        std::lock_guard<std::mutex> hold(mutex_);
        std::memcpy(out, bootstrap_.bytes() + address, size);
        return kSuccess;
    }
    if (address >= kDocumentAddress && address - kDocumentAddress < document_.size()) {
        const std::size_t at = address - kDocumentAddress;
        std::memset(out, 0, size);  // past the end reads as zeros (chunks of 4 bytes)
        std::memcpy(out, document_.data() + at, std::min(size, document_.size() - at));
        return kSuccess;
    }
    return status_of(link_.read(address, out, size));
}

ControlServer::Answer ControlServer::read_registers(const std::uint8_t *p, std::size_t n, bool) {
    Answer a;
    if (n == 0 || n % 4 || n / 4 > kMaxRegisters) {
        a.status = kInvalidParameter;
        return a;
    }
    for (std::size_t i = 0; i < n / 4; ++i) {
        const std::uint32_t address = be::get32(p + 4 * i);
        if (address % 4) {
            a.status = kBadAlignment;
            break;
        }
        // The word on the wire is the four bytes of memory in their order.
        std::uint8_t word[4];
        a.status = read_bytes(address, word, 4);
        if (a.status != kSuccess) break;
        a.payload.insert(a.payload.end(), word, word + 4);
    }
    return a;
}

std::uint16_t ControlServer::write_privilege(std::uint32_t value, const Endpoint &from,
                                             bool controls) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (controlled_ && !controls) return kAccessDenied;
    const std::uint32_t bits = value & (kPrivilegeExclusive | kPrivilegeControl);
    if (bits == 0) {
        if (controlled_) drop_control();
        return kSuccess;
    }
    bootstrap_.set(reg::kControlPrivilege, bits);
    controlled_ = true;
    controller_ = from;
    last_heard_ = Clock::now();
    return kSuccess;
}

std::uint16_t ControlServer::write_remote(std::uint32_t address, const std::uint8_t *data,
                                          std::size_t size) {
    if (address >= kDocumentAddress && address - kDocumentAddress < document_.size())
        return kWriteProtect;
    const std::uint16_t status = status_of(link_.write(address, data, size));
    if (status == kSuccess) {
        // A new image size may need larger buffers before the first frame.
        SimLink::ControlLock hold(link_);
        link_.fit_buffers();
    }
    return status;
}

std::uint16_t ControlServer::write_word(std::uint32_t address, std::uint32_t value,
                                        const Endpoint &from, bool controls) {
    if (address % 4) return kBadAlignment;
    if (address == reg::kControlPrivilege) return write_privilege(value, from, controls);
    if (!controls) return kAccessDenied;
    if (address >= kBootstrapSize) {
        const std::uint8_t bytes[4] = {std::uint8_t(value >> 24), std::uint8_t(value >> 16),
                                       std::uint8_t(value >> 8), std::uint8_t(value)};
        return write_remote(address, bytes, 4);
    }
    if (!writable_bootstrap(address)) return kWriteProtect;
    ChannelSettings test;
    bool fire = false;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (address == reg::stream_packet_size(0)) {
            fire = (value & kPacketSizeFireTest) != 0;
            const std::uint32_t size =
                std::clamp(value & kPacketSizeMask, kMinPacketSize, kMaxPacketSize);
            value = (value & kPacketSizeDoNotFragment) | size;
        } else if (address == kGvspConfiguration) {
            value &= kGvspExtendedIds;
        } else if (address == reg::kHeartbeatTimeout) {
            value = std::max<std::uint32_t>(value, 500);
        }
        bootstrap_.set(address, value);
        test = channel();
    }
    if (fire && test.to.ip && test.to.port) sender_.send_test_packet(test);
    return kSuccess;
}

ControlServer::Answer ControlServer::write_registers(const std::uint8_t *p, std::size_t n,
                                                     const Endpoint &from, bool controls) {
    Answer a;
    std::uint16_t written = 0;
    if (n == 0 || n % 8 || n / 8 > kMaxRegisters / 2) {
        a.status = kInvalidParameter;
    } else {
        for (std::size_t i = 0; i < n / 8; ++i) {
            a.status = write_word(be::get32(p + 8 * i), be::get32(p + 8 * i + 4), from, controls);
            if (a.status != kSuccess) break;
            ++written;
        }
    }
    be::put16(a.payload, 0);
    be::put16(a.payload, written);
    return a;
}

ControlServer::Answer ControlServer::read_memory(const std::uint8_t *p, std::size_t n) {
    Answer a;
    if (n < 8) {
        a.status = kInvalidParameter;
        return a;
    }
    const std::uint32_t address = be::get32(p);
    const std::uint16_t count = be::get16(p + 6);
    if (count == 0 || count % 4 || count > kMaxMemoryChunk) {
        a.status = kInvalidParameter;
        return a;
    }
    std::vector<std::uint8_t> data(count);
    a.status = read_bytes(address, data.data(), count);
    be::put32(a.payload, address);
    if (a.status == kSuccess) a.payload.insert(a.payload.end(), data.begin(), data.end());
    return a;
}

ControlServer::Answer ControlServer::write_memory(const std::uint8_t *p, std::size_t n,
                                                  const Endpoint &from, bool controls) {
    Answer a;
    std::uint16_t written = 0;
    const std::size_t count = n >= 4 ? n - 4 : 0;
    const std::uint32_t address = n >= 4 ? be::get32(p) : 0;
    if (n < 8 || count % 4 || count > kMaxMemoryChunk) {
        a.status = kInvalidParameter;
    } else if (address < kBootstrapSize) {
        // Bootstrap registers word by word, with their own rules.
        for (std::size_t i = 0; i < count; i += 4) {
            a.status = write_word(address + static_cast<std::uint32_t>(i), be::get32(p + 4 + i),
                                  from, controls);
            if (a.status != kSuccess) break;
            written = static_cast<std::uint16_t>(i + 4);
        }
    } else if (!controls) {
        a.status = kAccessDenied;
    } else {
        a.status = write_remote(address, p + 4, count);
        if (a.status == kSuccess) written = static_cast<std::uint16_t>(count);
    }
    be::put16(a.payload, 0);
    be::put16(a.payload, written);
    return a;
}

void ControlServer::packet_resend(const std::uint8_t *p, std::size_t n, bool extended) {
    ChannelSettings c;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!(bootstrap_.get(reg::kCapability) & kCapabilityPacketResend)) return;
        c = channel();
        if (!controlled_ || !c.to.ip || !c.to.port) return;
    }
    if (extended && n >= 20) {
        sender_.resend(be::get64(p + 12), be::get32(p + 4), be::get32(p + 8), c);
    } else if (!extended && n >= 12) {
        sender_.resend(be::get16(p + 2), be::get32(p + 4) & 0xFFFFFF, be::get32(p + 8) & 0xFFFFFF,
                       c);
    }
}

}  // namespace vantix::gev::device
