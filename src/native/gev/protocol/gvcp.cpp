#include "gvcp.hpp"

#include <cstdio>

#include "big_endian.hpp"

namespace vantix::gev {

namespace {

constexpr std::uint8_t kKey = 0x42;
constexpr std::uint8_t kFlagAckRequired = 0x01, kFlagBroadcastOrExtended = 0x10;

// The 8-byte command header; the payload length is patched in by finish().
std::vector<std::uint8_t> header(std::uint8_t flags, std::uint16_t command,
                                 std::uint16_t request_id) {
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + 16);
    out.push_back(kKey);
    out.push_back(flags);
    be::put16(out, command);
    be::put16(out, 0);
    be::put16(out, request_id);
    return out;
}

std::vector<std::uint8_t> finish(std::vector<std::uint8_t> out) {
    const std::size_t length = out.size() - kHeaderSize;
    out[4] = static_cast<std::uint8_t>(length >> 8);
    out[5] = static_cast<std::uint8_t>(length);
    return out;
}

}  // namespace

const char *status_name(std::uint16_t status) {
    switch (status) {
        case kSuccess:
            return "success";
        case kPacketResendStatus:
            return "packet resend";
        case kNotImplemented:
            return "not implemented";
        case kInvalidParameter:
            return "invalid parameter";
        case kInvalidAddress:
            return "invalid address";
        case kWriteProtect:
            return "write protect";
        case kBadAlignment:
            return "bad alignment";
        case kAccessDenied:
            return "access denied";
        case kBusy:
            return "busy";
        case kPacketUnavailable:
            return "packet unavailable";
        case kError:
            return "error";
        default:
            break;
    }
    // One buffer per thread: the text outlives the call, as the literals do.
    thread_local char text[16];
    std::snprintf(text, sizeof text, "status 0x%04X", status);
    return text;
}

std::vector<std::uint8_t> discovery_command(std::uint16_t request_id, bool broadcast_answer) {
    const std::uint8_t flags = kFlagAckRequired | (broadcast_answer ? kFlagBroadcastOrExtended : 0);
    return finish(header(flags, kDiscovery, request_id));
}

std::vector<std::uint8_t> read_registers_command(std::uint16_t request_id,
                                                 const std::vector<std::uint32_t> &addresses) {
    auto out = header(kFlagAckRequired, kReadReg, request_id);
    for (const auto address : addresses) be::put32(out, address);
    return finish(std::move(out));
}

std::vector<std::uint8_t> write_registers_command(
    std::uint16_t request_id, const std::vector<std::pair<std::uint32_t, std::uint32_t>> &writes) {
    auto out = header(kFlagAckRequired, kWriteReg, request_id);
    for (const auto &[address, value] : writes) {
        be::put32(out, address);
        be::put32(out, value);
    }
    return finish(std::move(out));
}

std::vector<std::uint8_t> read_memory_command(std::uint16_t request_id, std::uint32_t address,
                                              std::uint16_t count) {
    auto out = header(kFlagAckRequired, kReadMem, request_id);
    be::put32(out, address);
    be::put16(out, 0);
    be::put16(out, count);
    return finish(std::move(out));
}

std::vector<std::uint8_t> write_memory_command(std::uint16_t request_id, std::uint32_t address,
                                               const std::uint8_t *data, std::size_t size) {
    auto out = header(kFlagAckRequired, kWriteMem, request_id);
    be::put32(out, address);
    out.insert(out.end(), data, data + size);
    return finish(std::move(out));
}

std::vector<std::uint8_t> packet_resend_command(std::uint16_t request_id, std::uint16_t channel,
                                                std::uint64_t block_id, std::uint32_t first,
                                                std::uint32_t last, bool extended) {
    auto out = header(extended ? kFlagBroadcastOrExtended : 0, kPacketResend, request_id);
    be::put16(out, channel);
    if (extended) {
        be::put16(out, 0);
        be::put32(out, first);
        be::put32(out, last);
        be::put64(out, block_id);
    } else {
        be::put16(out, static_cast<std::uint16_t>(block_id));
        be::put32(out, first & 0xFFFFFF);
        be::put32(out, last & 0xFFFFFF);
    }
    return finish(std::move(out));
}

bool parse_ack(const std::uint8_t *data, std::size_t size, Ack &out) {
    if (data == nullptr || size < kHeaderSize) return false;
    const std::size_t length = be::get16(data + 4);
    if (length > size - kHeaderSize) return false;
    out.status = be::get16(data);
    out.ack_code = be::get16(data + 2);
    out.request_id = be::get16(data + 6);
    out.payload = data + kHeaderSize;
    out.payload_size = length;
    return true;
}

bool read_registers_values(const Ack &ack, std::size_t count, std::uint32_t *values) {
    if (ack.ack_code != kReadReg + 1 || ack.status != kSuccess) return false;
    if (count > ack.payload_size / 4) return false;
    for (std::size_t i = 0; i < count; ++i) values[i] = be::get32(ack.payload + 4 * i);
    return true;
}

bool read_memory_data(const Ack &ack, std::uint32_t address, std::size_t count,
                      const std::uint8_t *&data) {
    if (ack.ack_code != kReadMem + 1 || ack.status != kSuccess) return false;
    if (ack.payload_size < 4 || count > ack.payload_size - 4) return false;
    if (be::get32(ack.payload) != address) return false;
    data = ack.payload + 4;
    return true;
}

bool pending_ack_time_ms(const Ack &ack, std::uint32_t &ms) {
    // reserved 16, time to completion 16
    if (ack.ack_code != kPendingAck || ack.payload_size < 4) return false;
    ms = be::get16(ack.payload + 2);
    return true;
}

bool parse_discovery_ack(const Ack &ack, Identity &out) {
    if (ack.ack_code != kDiscovery + 1 || ack.status != kSuccess) return false;
    if (ack.payload_size < kDiscoveryMemorySize) return false;
    const std::uint8_t *m = ack.payload;
    out.version_major = be::get16(m + reg::kVersion);
    out.version_minor = be::get16(m + reg::kVersion + 2);
    out.device_mode = be::get32(m + reg::kDeviceMode);
    out.mac[0] = m[reg::kMacHigh + 2];
    out.mac[1] = m[reg::kMacHigh + 3];
    for (std::size_t i = 0; i < 4; ++i) out.mac[2 + i] = m[reg::kMacLow + i];
    out.ip = be::get32(m + reg::kCurrentIp);
    out.subnet_mask = be::get32(m + reg::kSubnetMask);
    out.gateway = be::get32(m + reg::kGateway);
    out.manufacturer = field_text(m + reg::kManufacturer, 32);
    out.model = field_text(m + reg::kModel, 32);
    out.device_version = field_text(m + reg::kDeviceVersion, 32);
    out.manufacturer_info = field_text(m + reg::kManufacturerInfo, 48);
    out.serial = field_text(m + reg::kSerial, 16);
    out.user_name = field_text(m + reg::kUserName, 16);
    return true;
}

std::string field_text(const std::uint8_t *data, std::size_t size) {
    static const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
    std::string out;
    std::size_t i = 0;
    while (i < size && data[i] != 0) {
        const std::uint8_t lead = data[i];
        std::size_t n = 0;
        std::uint32_t cp = 0, min = 0;
        if (lead < 0x80) {
            n = 1, cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            n = 2, cp = lead & 0x1F, min = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            n = 3, cp = lead & 0x0F, min = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            n = 4, cp = lead & 0x07, min = 0x10000;
        }
        bool valid = n != 0 && i + n <= size;
        for (std::size_t k = 1; valid && k < n; ++k) {
            if ((data[i + k] & 0xC0) != 0x80) valid = false;
            cp = cp << 6 | (data[i + k] & 0x3F);
        }
        valid = valid && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!valid) {
            // One replacement per bad byte; the next byte may start a character.
            out += kReplacement;
            ++i;
            continue;
        }
        const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
        if (control) {
            out += kReplacement;
        } else {
            out.append(reinterpret_cast<const char *>(data + i), n);
        }
        i += n;
    }
    return out;
}

std::string mac_text(const std::uint8_t mac[6]) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string ip_text(std::uint32_t ip) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, ip >> 16 & 0xFF, ip >> 8 & 0xFF,
                  ip & 0xFF);
    return text;
}

}  // namespace vantix::gev
