#include "interfaces.hpp"

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <map>

namespace vantix::gev {
namespace {

std::uint32_t host_ip(const sockaddr *a) {
    return a ? ntohl(reinterpret_cast<const sockaddr_in *>(a)->sin_addr.s_addr) : 0;
}

}  // namespace

std::vector<NetworkInterface> list_interfaces() {
    std::vector<NetworkInterface> out;
    ifaddrs *all = nullptr;
    if (::getifaddrs(&all) != 0) return out;
    // The hardware address comes with the AF_PACKET entry of the same name.
    std::map<std::string, const std::uint8_t *> macs;
    for (const ifaddrs *i = all; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_PACKET) continue;
        const auto *ll = reinterpret_cast<const sockaddr_ll *>(i->ifa_addr);
        if (ll->sll_halen == 6) macs[i->ifa_name] = ll->sll_addr;
    }
    for (const ifaddrs *i = all; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP)) continue;
        NetworkInterface n;
        n.name = i->ifa_name;
        n.address = host_ip(i->ifa_addr);
        n.netmask = host_ip(i->ifa_netmask);
        n.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        if ((i->ifa_flags & IFF_BROADCAST) && i->ifa_broadaddr)
            n.broadcast = host_ip(i->ifa_broadaddr);
        else
            n.broadcast = n.address | ~n.netmask;  // lo: 127.255.255.255
        const auto mac = macs.find(n.name);
        if (mac != macs.end()) std::memcpy(n.mac, mac->second, 6);
        out.push_back(n);
    }
    ::freeifaddrs(all);
    return out;
}

const NetworkInterface *interface_for(const std::vector<NetworkInterface> &all, std::uint32_t ip) {
    for (const auto &n : all)
        if ((n.address & n.netmask) == (ip & n.netmask)) return &n;
    return nullptr;
}

}  // namespace vantix::gev
