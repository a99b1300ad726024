#include "discovery.hpp"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "socket.hpp"

namespace vantix::gev {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
constexpr std::uint16_t kRequestId = 1;
constexpr int kAsks = 3;

struct Sender {
    NetworkInterface iface;
    UdpSocket socket;
};

bool same_camera(const DiscoveredCamera &a, const DiscoveredCamera &b) {
    return a.ip == b.ip && std::memcmp(a.identity.mac, b.identity.mac, 6) == 0;
}

}  // namespace

bool parse_ipv4(const std::string &text, std::uint32_t &ip) {
    std::uint32_t value = 0;
    int octets = 0;
    std::size_t i = 0;
    while (octets < 4) {
        std::uint32_t octet = 0;
        std::size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4)
            octet = octet * 10 + static_cast<std::uint32_t>(text[i++] - '0'), ++digits;
        if (digits == 0 || digits > 3 || octet > 255) return false;
        value = value << 8 | octet;
        if (++octets < 4) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
    }
    if (i != text.size()) return false;
    ip = value;
    return true;
}

std::vector<std::uint32_t> parse_address_list(const std::string &text) {
    std::vector<std::uint32_t> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(start, end - start);
        const auto first = item.find_first_not_of(" \t");
        const auto last = item.find_last_not_of(" \t");
        std::uint32_t ip = 0;
        if (first != std::string::npos && parse_ipv4(item.substr(first, last - first + 1), ip))
            out.push_back(ip);
        start = end + 1;
    }
    return out;
}

std::vector<DiscoveredCamera> discover(const DiscoverySettings &settings,
                                       std::vector<NetworkInterface> interfaces) {
    if (interfaces.empty()) interfaces = list_interfaces();
    std::vector<std::uint32_t> unicast = settings.unicast;
    if (settings.from_environment) {
        if (const char *listed = std::getenv(kDevicesVariable))
            for (std::uint32_t ip : parse_address_list(listed)) unicast.push_back(ip);
    }

    // One socket per interface address: a limited broadcast (255.255.255.255)
    // leaves through the interface that owns the socket's address, the
    // loopback included, and the answer comes back to that socket.
    std::vector<std::unique_ptr<Sender>> senders;
    for (const auto &iface : interfaces) {
        auto s = std::make_unique<Sender>();
        std::string error;
        if (!s->socket.open(Endpoint{iface.address, 0}, error)) continue;
        s->socket.enable_broadcast();
        s->iface = iface;
        senders.push_back(std::move(s));
    }
    const auto command = discovery_command(kRequestId, false);
    auto ask = [&] {
        if (settings.broadcast)
            for (auto &s : senders)
                s->socket.send_to(Endpoint{kLimitedBroadcast, kControlPort}, command.data(),
                                  command.size());
        for (std::uint32_t ip : unicast) {
            const std::uint32_t source = UdpSocket::source_toward(ip);
            for (auto &s : senders)
                if (s->iface.address == source) {
                    s->socket.send_to(Endpoint{ip, kControlPort}, command.data(), command.size());
                    break;
                }
        }
    };

    std::vector<DiscoveredCamera> found;
    std::uint8_t buffer[1500];
    // Asked three times within the wait: one lost datagram, either way, must
    // not hide a camera for a whole update. Answers to the repeats are the
    // same cameras again, and counted once.
    const auto started = Clock::now(), deadline = started + settings.wait;
    int asked = 0;
    while (!senders.empty() && Clock::now() < deadline) {
        if (asked < kAsks && Clock::now() >= started + settings.wait * asked / kAsks) {
            ask();
            ++asked;
        }
        for (auto &s : senders) {
            Endpoint from;
            const long n =
                s->socket.receive(buffer, sizeof buffer, from, std::chrono::milliseconds(2));
            Ack ack;
            if (n <= 0 || !parse_ack(buffer, static_cast<std::size_t>(n), ack)) continue;
            if (ack.ack_code != kDiscovery + 1 || ack.request_id != kRequestId ||
                ack.status != kSuccess)
                continue;
            DiscoveredCamera camera;
            if (!parse_discovery_ack(ack, camera.identity)) continue;
            camera.ip = from.ip;
            camera.via = s->iface;
            bool known = false;
            for (const auto &f : found) known = known || same_camera(f, camera);
            if (!known) found.push_back(std::move(camera));
        }
    }
    return found;
}

}  // namespace vantix::gev
