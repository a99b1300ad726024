#include "control_channel.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vantix::gev {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kRegistersPerCommand = 64;  // well inside one datagram
constexpr std::uint64_t kAddressSpace = 1ull << 32;

std::string hex32(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

}  // namespace

std::int32_t gentl_code(std::uint16_t status) {
    switch (status) {
        case kSuccess:
            return gc::kSuccess;
        case kAccessDenied:
        case kWriteProtect:
            return gc::kAccessDenied;
        case kInvalidAddress:
            return gc::kInvalidAddress;
        case kNotImplemented:
            return gc::kNotImplemented;
        case kBusy:
            return gc::kBusy;
        default:
            return gc::kIo;
    }
}

ControlChannel::ControlChannel(const Endpoint &camera, std::uint32_t local_ip, std::string name,
                               ControlSettings settings)
    : camera_(camera),
      local_ip_(local_ip),
      name_(std::move(name)),
      settings_(settings),
      receive_buffer_(2048) {}

Result ControlChannel::open() {
    std::string error;
    if (!socket_.open(Endpoint{local_ip_, 0}, error))
        return {gc::kIo, "camera " + name_ + " (" + ip_text(camera_.ip) + "): " + error};
    return {};
}

std::uint16_t ControlChannel::next_request_id() {
    // Wraps past 65535 to 1: 0 is not a request id.
    for (;;) {
        const std::uint16_t id = static_cast<std::uint16_t>(request_id_.fetch_add(1) + 1);
        if (id != 0) return id;
    }
}

Result ControlChannel::failure(std::int32_t code, const char *what, std::uint32_t address,
                               std::size_t size, const std::string &why) const {
    std::string text = what;
    text += ' ' + hex32(address);
    if (size) text += " (" + std::to_string(size) + " bytes)";
    text += " on camera " + name_ + " (" + ip_text(camera_.ip) + "): " + why;
    return {code, text};
}

Result ControlChannel::check_usable(const char *what, std::uint32_t address, bool write) const {
    if (lost_)
        return failure(gc::kIo, what, address, 0, "the camera does not answer: " + lost_reason());
    if (!socket_.is_open()) return failure(gc::kIo, what, address, 0, "the channel is not open");
    if (write && read_only_)
        return failure(gc::kAccessDenied, what, address, 0,
                       "opened for reading only (another application may control it)");
    return {};
}

Result ControlChannel::transact(const char *what, std::uint32_t address, std::size_t size,
                                const std::vector<std::uint8_t> &command, std::uint16_t ack_code,
                                const ControlSettings &settings, Reply &reply) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (lost_)
        return failure(gc::kIo, what, address, size,
                       "the camera does not answer: " + lost_reason());
    // The command's own request id, which its acknowledge echoes.
    const std::uint16_t id = static_cast<std::uint16_t>(command[6] << 8 | command[7]);
    ++stats_.commands;
    for (unsigned attempt = 0; attempt <= settings.retries; ++attempt) {
        if (attempt) ++stats_.resends;
        if (!socket_.send_to(camera_, command.data(), command.size()))
            return failure(gc::kIo, what, address, size, "cannot send: " + UdpSocket::last_error());
        auto deadline = Clock::now() + settings.timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            Endpoint from;
            const long n =
                socket_.receive(receive_buffer_.data(), receive_buffer_.size(), from, left);
            if (n < 0)
                return failure(gc::kIo, what, address, size,
                               "cannot receive: " + UdpSocket::last_error());
            if (n == 0) continue;  // time-out, or an empty datagram
            Ack ack;
            if (from != camera_ ||
                !parse_ack(receive_buffer_.data(), static_cast<std::size_t>(n), ack)) {
                ++stats_.foreign;
                continue;
            }
            if (ack.request_id != id) {  // late or duplicated answer to an earlier command
                ++stats_.stale_acks;
                continue;
            }
            if (ack.ack_code == kPendingAck) {
                // The camera needs longer: wait that long from now, unsent.
                std::uint32_t ms = 0;
                ++stats_.pending_acks;
                if (pending_ack_time_ms(ack, ms)) deadline = Clock::now() + milliseconds(ms);
                continue;
            }
            if (ack.ack_code != ack_code) {
                ++stats_.stale_acks;
                continue;
            }
            if (ack.status != kSuccess)
                return failure(gentl_code(ack.status), what, address, size,
                               std::string("the camera answers ") + status_name(ack.status));
            reply.status = ack.status;
            reply.ack_code = ack.ack_code;
            reply.payload.assign(ack.payload, ack.payload + ack.payload_size);
            return {};
        }
    }
    return failure(gc::kTimeout, what, address, size,
                   "no answer after " + std::to_string(settings.retries + 1) + " tries of " +
                       std::to_string(settings.timeout.count()) + " ms");
}

Result ControlChannel::read_register(std::uint32_t address, std::uint32_t &value) {
    return read_register(address, value, settings_);
}

Result ControlChannel::read_register(std::uint32_t address, std::uint32_t &value,
                                     const ControlSettings &settings) {
    if (Result r = check_usable("READREG", address, false); !r.ok()) return r;
    Reply reply;
    const auto command = read_registers_command(next_request_id(), {address});
    if (Result r = transact("READREG", address, 0, command, kReadReg + 1, settings, reply); !r.ok())
        return r;
    const Ack ack = reply.view();
    if (!read_registers_values(ack, 1, &value))
        return failure(gc::kIo, "READREG", address, 0, "the acknowledge holds no value");
    return {};
}

Result ControlChannel::read_registers(const std::uint32_t *addresses, std::size_t count,
                                      std::uint32_t *values) {
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(count - done, concatenation_ ? kRegistersPerCommand : 1);
        if (Result r = check_usable("READREG", addresses[done], false); !r.ok()) return r;
        const std::vector<std::uint32_t> batch(addresses + done, addresses + done + n);
        Reply reply;
        if (Result r = transact("READREG", addresses[done], 0,
                                read_registers_command(next_request_id(), batch), kReadReg + 1,
                                settings_, reply);
            !r.ok())
            return r;
        const Ack ack = reply.view();
        if (!read_registers_values(ack, n, values + done))
            return failure(gc::kIo, "READREG", addresses[done], 0,
                           "the acknowledge holds fewer values than asked");
        done += n;
    }
    return {};
}

Result ControlChannel::write_register(std::uint32_t address, std::uint32_t value) {
    return write_registers({{address, value}});
}

Result ControlChannel::write_registers(
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> &writes) {
    for (std::size_t done = 0; done < writes.size();) {
        const std::size_t n =
            std::min(writes.size() - done, concatenation_ ? kRegistersPerCommand : 1);
        const std::uint32_t first = writes[done].first;
        if (Result r = check_usable("WRITEREG", first, true); !r.ok()) return r;
        const std::vector<std::pair<std::uint32_t, std::uint32_t>> batch(
            writes.begin() + static_cast<std::ptrdiff_t>(done),
            writes.begin() + static_cast<std::ptrdiff_t>(done + n));
        Reply reply;
        if (Result r =
                transact("WRITEREG", first, 0, write_registers_command(next_request_id(), batch),
                         kWriteReg + 1, settings_, reply);
            !r.ok())
            return r;
        done += n;
    }
    return {};
}

Result ControlChannel::read_aligned(std::uint32_t address, std::uint8_t *data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min(size - done, kMaxMemoryChunk);
        const std::uint32_t at = address + static_cast<std::uint32_t>(done);
        if (Result r = check_usable("READMEM", at, false); !r.ok()) return r;
        Reply reply;
        if (Result r =
                transact("READMEM", at, n,
                         read_memory_command(next_request_id(), at, static_cast<std::uint16_t>(n)),
                         kReadMem + 1, settings_, reply);
            !r.ok())
            return r;
        const Ack ack = reply.view();
        const std::uint8_t *bytes = nullptr;
        if (!read_memory_data(ack, at, n, bytes))
            return failure(gc::kIo, "READMEM", at, n,
                           "the acknowledge holds another address or fewer bytes");
        std::memcpy(data + done, bytes, n);
        done += n;
    }
    return {};
}

Result ControlChannel::read_memory(std::uint64_t address, void *data, std::size_t size) {
    if (size == 0) return {};
    if (address >= kAddressSpace || size > kAddressSpace - address)
        return failure(gc::kInvalidAddress, "READMEM", static_cast<std::uint32_t>(address), size,
                       "outside the camera's 32-bit address space");
    const std::uint64_t start = address & ~3ull, end = (address + size + 3) & ~3ull;
    auto *out = static_cast<std::uint8_t *>(data);
    if (start == address && end == address + size)
        return read_aligned(static_cast<std::uint32_t>(address), out, size);
    std::vector<std::uint8_t> wide(static_cast<std::size_t>(end - start));
    if (Result r = read_aligned(static_cast<std::uint32_t>(start), wide.data(), wide.size());
        !r.ok())
        return r;
    std::memcpy(out, wide.data() + (address - start), size);
    return {};
}

Result ControlChannel::write_aligned(std::uint32_t address, const std::uint8_t *data,
                                     std::size_t size) {
    if (size == 4 || !write_memory_) {
        // One register, or a camera without WRITEMEM: word by word.
        std::vector<std::pair<std::uint32_t, std::uint32_t>> words;
        for (std::size_t i = 0; i < size; i += 4)
            words.emplace_back(address + static_cast<std::uint32_t>(i),
                               std::uint32_t(data[i]) << 24 | std::uint32_t(data[i + 1]) << 16 |
                                   std::uint32_t(data[i + 2]) << 8 | data[i + 3]);
        return write_registers(words);
    }
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min(size - done, kMaxMemoryChunk);
        const std::uint32_t at = address + static_cast<std::uint32_t>(done);
        if (Result r = check_usable("WRITEMEM", at, true); !r.ok()) return r;
        Reply reply;
        if (Result r = transact("WRITEMEM", at, n,
                                write_memory_command(next_request_id(), at, data + done, n),
                                kWriteMem + 1, settings_, reply);
            !r.ok())
            return r;
        done += n;
    }
    return {};
}

Result ControlChannel::write_memory(std::uint64_t address, const void *data, std::size_t size) {
    if (size == 0) return {};
    if (address >= kAddressSpace || size > kAddressSpace - address)
        return failure(gc::kInvalidAddress, "WRITEMEM", static_cast<std::uint32_t>(address), size,
                       "outside the camera's 32-bit address space");
    if (Result r = check_usable("WRITEMEM", static_cast<std::uint32_t>(address), true); !r.ok())
        return r;
    const auto *in = static_cast<const std::uint8_t *>(data);
    const std::uint64_t start = address & ~3ull, end = (address + size + 3) & ~3ull;
    if (start == address && end == address + size)
        return write_aligned(static_cast<std::uint32_t>(address), in, size);
    // The words only partly written keep the rest of their bytes.
    std::vector<std::uint8_t> wide(static_cast<std::size_t>(end - start));
    if (start != address) {
        if (Result r = read_aligned(static_cast<std::uint32_t>(start), wide.data(), 4); !r.ok())
            return r;
    }
    if (end != address + size && (end - 4 != start || start == address)) {
        if (Result r =
                read_aligned(static_cast<std::uint32_t>(end - 4), wide.data() + wide.size() - 4, 4);
            !r.ok())
            return r;
    }
    std::memcpy(wide.data() + (address - start), in, size);
    return write_aligned(static_cast<std::uint32_t>(start), wide.data(), wide.size());
}

void ControlChannel::request_resend(std::uint16_t channel, std::uint64_t block_id,
                                    std::uint32_t first, std::uint32_t last, bool extended_ids) {
    if (lost_ || !socket_.is_open()) return;
    const auto command =
        packet_resend_command(next_request_id(), channel, block_id, first, last, extended_ids);
    socket_.send_to(camera_, command.data(), command.size());
}

void ControlChannel::mark_lost(const std::string &reason) {
    {
        std::lock_guard<std::mutex> hold(lost_mutex_);
        if (lost_) return;
        lost_reason_ = reason;
    }
    lost_ = true;
}

std::string ControlChannel::lost_reason() const {
    std::lock_guard<std::mutex> hold(lost_mutex_);
    return lost_reason_;
}

ControlStatistics ControlChannel::statistics() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return stats_;
}

}  // namespace vantix::gev
