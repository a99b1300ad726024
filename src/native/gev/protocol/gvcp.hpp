// The control protocol, as bytes: commands to a camera, its acknowledges,
// the discovery answer and the bootstrap registers. Pure functions, every
// field big-endian; nothing here touches a socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vantix::gev {

constexpr std::uint16_t kControlPort = 3956;
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kMaxMemoryChunk = 512;  // bytes per READMEM / WRITEMEM
constexpr std::size_t kDiscoveryMemorySize = 0xF8;

enum Command : std::uint16_t {
    kDiscovery = 0x0002,
    kForceIp = 0x0004,
    kPacketResend = 0x0040,
    kReadReg = 0x0080,
    kWriteReg = 0x0082,
    kReadMem = 0x0084,
    kWriteMem = 0x0086,
    kPendingAck = 0x0089,
};

enum Status : std::uint16_t {
    kSuccess = 0x0000,
    kPacketResendStatus = 0x0100,
    kNotImplemented = 0x8001,
    kInvalidParameter = 0x8002,
    kInvalidAddress = 0x8003,
    kWriteProtect = 0x8004,
    kBadAlignment = 0x8005,
    kAccessDenied = 0x8006,
    kBusy = 0x8007,
    kPacketUnavailable = 0x800C,
    kError = 0x8FFF,
};
const char *status_name(std::uint16_t status);  // "access denied", ...; "status 0x8123"

// Bootstrap registers (device memory addresses).
namespace reg {
constexpr std::uint32_t kVersion = 0x0000, kDeviceMode = 0x0004, kMacHigh = 0x0008,
                        kMacLow = 0x000C, kCurrentIp = 0x0024, kSubnetMask = 0x0034,
                        kGateway = 0x0044, kManufacturer = 0x0048, kModel = 0x0068,
                        kDeviceVersion = 0x0088, kManufacturerInfo = 0x00A8, kSerial = 0x00D8,
                        kUserName = 0x00E8, kFirstUrl = 0x0200, kSecondUrl = 0x0400, kUrlSize = 512,
                        kStreamChannels = 0x0904, kCapability = 0x0934, kHeartbeatTimeout = 0x0938,
                        kTimestampFrequencyHigh = 0x093C, kTimestampFrequencyLow = 0x0940,
                        kControlPrivilege = 0x0A00;
// Stream channel i.
constexpr std::uint32_t stream_port(unsigned i) { return 0x0D00 + 0x40 * i; }
constexpr std::uint32_t stream_packet_size(unsigned i) { return 0x0D04 + 0x40 * i; }
constexpr std::uint32_t stream_packet_delay(unsigned i) { return 0x0D08 + 0x40 * i; }
constexpr std::uint32_t stream_destination(unsigned i) { return 0x0D18 + 0x40 * i; }
constexpr std::uint32_t stream_source_port(unsigned i) { return 0x0D1C + 0x40 * i; }
constexpr std::uint32_t stream_capability(unsigned i) { return 0x0D20 + 0x40 * i; }
constexpr std::uint32_t stream_configuration(unsigned i) { return 0x0D24 + 0x40 * i; }
}  // namespace reg

// Bits of the capability, privilege and packet-size registers.
constexpr std::uint32_t kCapabilityWriteMem = 0x2, kCapabilityPacketResend = 0x4,
                        kCapabilityPendingAck = 0x20;
constexpr std::uint32_t kPrivilegeExclusive = 0x1, kPrivilegeControl = 0x2;
constexpr std::uint32_t kPacketSizeFireTest = 0x80000000u, kPacketSizeDoNotFragment = 0x40000000u,
                        kPacketSizeMask = 0xFFFF;

// Commands, ready to send. `request_id` is never 0.
std::vector<std::uint8_t> discovery_command(std::uint16_t request_id, bool broadcast_answer);
std::vector<std::uint8_t> read_registers_command(std::uint16_t request_id,
                                                 const std::vector<std::uint32_t> &addresses);
std::vector<std::uint8_t> write_registers_command(
    std::uint16_t request_id, const std::vector<std::pair<std::uint32_t, std::uint32_t>> &writes);
std::vector<std::uint8_t> read_memory_command(std::uint16_t request_id, std::uint32_t address,
                                              std::uint16_t count);  // count % 4 == 0, <= 512
std::vector<std::uint8_t> write_memory_command(std::uint16_t request_id, std::uint32_t address,
                                               const std::uint8_t *data, std::size_t size);
// Not acknowledged by the camera. With `extended` the ids are 64/32-bit.
std::vector<std::uint8_t> packet_resend_command(std::uint16_t request_id, std::uint16_t channel,
                                                std::uint64_t block_id, std::uint32_t first,
                                                std::uint32_t last, bool extended);

// An acknowledge, checked against the datagram it came in: a header whose
// length runs past the datagram is refused.
struct Ack {
    std::uint16_t status = 0, ack_code = 0, request_id = 0;
    const std::uint8_t *payload = nullptr;
    std::size_t payload_size = 0;
};
bool parse_ack(const std::uint8_t *data, std::size_t size, Ack &out);

// Payloads of particular acknowledges; false when the payload does not
// hold what the command asked for. (Aravis's fake camera answers a READREG
// of several addresses with the first value only: read one per command.)
bool read_registers_values(const Ack &ack, std::size_t count, std::uint32_t *values);
bool read_memory_data(const Ack &ack, std::uint32_t address, std::size_t count,
                      const std::uint8_t *&data);
bool pending_ack_time_ms(const Ack &ack, std::uint32_t &ms);

// What a discovery answer says of the camera.
struct Identity {
    std::uint16_t version_major = 0, version_minor = 0;
    std::uint32_t device_mode = 0;
    std::uint8_t mac[6] = {};
    std::uint32_t ip = 0, subnet_mask = 0, gateway = 0;  // host order
    std::string manufacturer, model, device_version, manufacturer_info, serial, user_name;
};
bool parse_discovery_ack(const Ack &ack, Identity &out);
// A fixed-size text field: up to the first NUL, control characters and
// invalid UTF-8 replaced, so it is safe to show and to hand on.
std::string field_text(const std::uint8_t *data, std::size_t size);
std::string mac_text(const std::uint8_t mac[6]);  // "00:11:22:33:44:55"
std::string ip_text(std::uint32_t ip);            // "127.0.0.1"

}  // namespace vantix::gev
