// Finding cameras: a DISCOVERY broadcast through every interface, plus a
// unicast one to each address listed in VANTIX_GEV_DEVICES (for cameras
// behind a router, which no broadcast reaches), answers collected for a
// bounded time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "gev/protocol/gvcp.hpp"
#include "interfaces.hpp"

namespace vantix::gev {

constexpr const char *kDevicesVariable = "VANTIX_GEV_DEVICES";

struct DiscoveredCamera {
    Identity identity;
    std::uint32_t ip = 0;  // where its answer came from, host order
    NetworkInterface via;  // the host's interface it answered through
};

struct DiscoverySettings {
    std::chrono::milliseconds wait{200};
    bool broadcast = true;
    std::vector<std::uint32_t> unicast;  // besides those of VANTIX_GEV_DEVICES
    bool from_environment = true;
};

// "10.0.0.5, 10.0.0.6": the well-formed IPv4 addresses, the rest ignored.
std::vector<std::uint32_t> parse_address_list(const std::string &text);
// A dotted IPv4 address, host order.
bool parse_ipv4(const std::string &text, std::uint32_t &ip);

// Through `interfaces` (all of them when empty); one entry per camera and
// address, in the order they answered.
std::vector<DiscoveredCamera> discover(const DiscoverySettings &settings = {},
                                       std::vector<NetworkInterface> interfaces = {});

}  // namespace vantix::gev
