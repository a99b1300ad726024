// The host's IPv4 interfaces that are up, loopback included: where
// discovery sends from and where stream packets are received.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantix::gev {

struct NetworkInterface {
    std::string name;                                       // "eth0", "lo"
    std::uint32_t address = 0, netmask = 0, broadcast = 0;  // host order
    std::uint8_t mac[6] = {};                               // all zero for the loopback
    bool loopback = false;
};

// In the system's order; an interface with several addresses is listed
// once per address.
std::vector<NetworkInterface> list_interfaces();

// The interface whose subnet holds `ip`, or nullptr.
const NetworkInterface *interface_for(const std::vector<NetworkInterface> &all, std::uint32_t ip);

}  // namespace vantix::gev
