#include "bootstrap.hpp"

#include <algorithm>

#include "gev/protocol/gvcp.hpp"

namespace vantix::gev::device {

namespace {
constexpr std::uint32_t kDeviceModeBigEndian = 0x80000000u;
constexpr std::uint32_t kCapabilityConcatenation = 0x1;
constexpr std::uint32_t kIpConfigurationLla = 0x4;  // link-local address in use
}  // namespace

void mac_from_serial(const std::string &serial, std::uint8_t mac[6]) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (const char c : serial) h = (h ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<std::uint8_t>(h >> (8 * i));
    mac[0] = static_cast<std::uint8_t>((mac[0] & 0xFC) | 0x02);  // local, unicast
}

Bootstrap::Bootstrap(const DeviceIdentity &id) {
    set(reg::kVersion, 2u << 16);  // 2.0
    set(reg::kDeviceMode, kDeviceModeBigEndian);
    std::uint8_t mac[6];
    mac_from_serial(id.serial, mac);
    set(reg::kMacHigh, std::uint32_t{mac[0]} << 8 | mac[1]);
    set(reg::kMacLow, std::uint32_t{mac[2]} << 24 | std::uint32_t{mac[3]} << 16 |
                          std::uint32_t{mac[4]} << 8 | mac[5]);
    set(0x0010, kIpConfigurationLla);  // supported IP configurations
    set(0x0014, kIpConfigurationLla);  // the current one
    set(reg::kCurrentIp, id.ip);
    set(reg::kSubnetMask, id.subnet_mask);
    text(reg::kManufacturer, 32, id.manufacturer);
    text(reg::kModel, 32, id.model);
    text(reg::kDeviceVersion, 32, id.device_version);
    text(reg::kManufacturerInfo, 48, "vantix simulated camera");
    text(reg::kSerial, 16, id.serial);
    text(reg::kUserName, 16, id.user_name);
    text(reg::kFirstUrl, reg::kUrlSize, id.first_url);
    set(0x0900, 0);  // message channels
    set(reg::kStreamChannels, 1);
    set(reg::kCapability, kCapabilityConcatenation | kCapabilityWriteMem | kCapabilityPendingAck |
                              (id.packet_resend ? kCapabilityPacketResend : 0));
    set(reg::kTimestampFrequencyHigh, 0);
    set(reg::kTimestampFrequencyLow, 1000000000);  // the simulator's ticks are ns
    reset();
}

void Bootstrap::reset() {
    set(reg::kHeartbeatTimeout, kDefaultHeartbeatMs);
    set(reg::kControlPrivilege, 0);
    set(kGvspConfiguration, 0);
    set(reg::stream_port(0), 0);
    set(reg::stream_packet_size(0), kDefaultPacketSize);
    set(reg::stream_packet_delay(0), 0);
    set(reg::stream_destination(0), 0);
    set(reg::stream_source_port(0), 0);
    set(reg::stream_capability(0), 0);
    set(reg::stream_configuration(0), 0);
}

std::uint32_t Bootstrap::get(std::uint32_t a) const {
    return std::uint32_t{bytes_[a]} << 24 | std::uint32_t{bytes_[a + 1]} << 16 |
           std::uint32_t{bytes_[a + 2]} << 8 | bytes_[a + 3];
}

void Bootstrap::set(std::uint32_t a, std::uint32_t v) {
    for (std::uint32_t i = 0; i < 4; ++i)
        bytes_[a + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

void Bootstrap::text(std::uint32_t address, std::size_t size, const std::string &value) {
    std::fill_n(bytes_.begin() + address, size, 0);
    std::copy_n(value.begin(), std::min(size - 1, value.size()), bytes_.begin() + address);
}

}  // namespace vantix::gev::device
