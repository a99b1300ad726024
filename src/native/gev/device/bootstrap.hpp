// The bootstrap registers a device holds at 0x0000-0x0FFF (big-endian, as
// on the wire), filled from what the camera says of itself. Pure.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vantix::gev::device {

constexpr std::uint32_t kBootstrapSize = 0x1000;
// GVSP configuration: bit 30 asks for 64-bit block ids.
constexpr std::uint32_t kGvspConfiguration = 0x0960, kGvspExtendedIds = 0x40000000u;
constexpr std::uint32_t kDefaultPacketSize = 1500, kDefaultHeartbeatMs = 3000;

struct DeviceIdentity {
    std::string manufacturer, model, device_version, serial, user_name;
    std::uint32_t ip = 0, subnet_mask = 0;  // host order
    std::string first_url;
    bool packet_resend = true;
};

class Bootstrap {
public:
    explicit Bootstrap(const DeviceIdentity &identity);

    std::uint32_t get(std::uint32_t address) const;  // aligned, < kBootstrapSize
    void set(std::uint32_t address, std::uint32_t value);
    const std::uint8_t *bytes() const { return bytes_.data(); }
    // The power-up values of the writable registers (control lapsed, or
    // the camera came back).
    void reset();

private:
    void text(std::uint32_t address, std::size_t size, const std::string &value);
    std::array<std::uint8_t, kBootstrapSize> bytes_{};
};

// A locally administered unicast MAC address derived from the serial, so a
// camera keeps its address across runs.
void mac_from_serial(const std::string &serial, std::uint8_t mac[6]);

}  // namespace vantix::gev::device
