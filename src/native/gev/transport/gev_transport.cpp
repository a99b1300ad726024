#include "gev_transport.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "camera_entry.hpp"

namespace vantix::gev {

namespace {

// Several addresses on one interface: one GenTL interface per address.
std::string interface_id(const NetworkInterface &nic, const std::vector<NetworkInterface> &all) {
    const auto same_name = std::count_if(
        all.begin(), all.end(), [&](const NetworkInterface &n) { return n.name == nic.name; });
    return same_name > 1 ? nic.name + "/" + ip_text(nic.address) : nic.name;
}

}  // namespace

const core::ProducerInfo &GevTransport::producer() const {
    static const core::ProducerInfo info{"vantix-gev",
                                         "vantix",
                                         "vantix GigE Vision",
                                         "0.1.0",
                                         "GEV",
                                         "vantix GigE Vision producer",
                                         "the GigE Vision producer",
                                         "vantix GigE Vision"};
    return info;
}

gentl::GC_ERROR GevTransport::init() { return gentl::GC_ERR_SUCCESS; }

void GevTransport::close() {
    nics_.clear();
    nic_by_id_.clear();
    found_.clear();
    entries_.clear();
    discovered_ = false;
}

std::vector<core::InterfaceEntry> GevTransport::interfaces(core::Lock &) {
    nics_ = list_interfaces();
    nic_by_id_.clear();
    std::vector<core::InterfaceEntry> listed;
    for (const NetworkInterface &nic : nics_) {
        const std::string id = interface_id(nic, nics_);
        nic_by_id_[id] = nic;
        listed.push_back(
            {id, "GEV", "GigE Vision on " + nic.name + " (" + ip_text(nic.address) + ")"});
    }
    return listed;
}

// One camera can answer through several interfaces (a broadcast that
// leaves by each); it is listed once, where its answer is most believable.
static std::vector<DiscoveredCamera> one_per_camera(std::vector<DiscoveredCamera> found) {
    auto rank = [](const DiscoveredCamera &c) {
        if (c.ip == c.identity.ip) return 0;  // answered from the address it reports
        const std::uint32_t mask = c.via.netmask;
        return (c.ip & mask) == (c.via.address & mask) ? 1 : 2;  // on the interface's subnet
    };
    auto same = [](const DiscoveredCamera &a, const DiscoveredCamera &b) {
        return std::memcmp(a.identity.mac, b.identity.mac, 6) == 0 &&
               a.identity.serial == b.identity.serial && a.identity.model == b.identity.model &&
               a.identity.manufacturer == b.identity.manufacturer;
    };
    std::vector<DiscoveredCamera> kept;
    for (DiscoveredCamera &camera : found) {
        auto known = std::find_if(kept.begin(), kept.end(),
                                  [&](const DiscoveredCamera &k) { return same(k, camera); });
        if (known == kept.end())
            kept.push_back(std::move(camera));
        else if (rank(camera) < rank(*known))
            *known = std::move(camera);
    }
    return kept;
}

void GevTransport::discover_all(std::uint64_t timeout_ms, core::Lock &lock) {
    const core::Clock::time_point now = core::Clock::now();
    if (discovered_ && now - found_at_ < kReuse) return;
    DiscoverySettings settings;
    settings.wait = std::chrono::milliseconds(std::min<std::uint64_t>(timeout_ms, kWaitMs));
    std::vector<NetworkInterface> nics = nics_;
    lock.unlock();
    std::vector<DiscoveredCamera> found = one_per_camera(discover(settings, nics));
    lock.lock();
    found_ = std::move(found);
    found_at_ = core::Clock::now();
    discovered_ = true;
}

std::vector<std::shared_ptr<core::DeviceEntry>> GevTransport::devices(
    const core::InterfaceEntry &iface, std::uint64_t timeout_ms, core::Lock &lock) {
    // Opening an interface asks without waiting: the first time, the
    // answers are still worth the wait.
    if (timeout_ms > 0 || !discovered_) discover_all(timeout_ms ? timeout_ms : kWaitMs, lock);
    auto nic = nic_by_id_.find(iface.id);
    std::vector<std::shared_ptr<core::DeviceEntry>> listed;
    if (nic == nic_by_id_.end()) return listed;
    for (const DiscoveredCamera &camera : found_) {
        if (camera.via.name != nic->second.name || camera.via.address != nic->second.address)
            continue;
        const std::string id = CameraEntry::id_of(camera);
        std::shared_ptr<core::DeviceEntry> &entry = entries_[id];
        if (entry)
            static_cast<CameraEntry &>(*entry).update(camera, iface.id);
        else
            entry = std::make_shared<CameraEntry>(camera, iface.id);
        if (std::none_of(listed.begin(), listed.end(),
                         [&](const auto &e) { return e->id() == id; }))
            listed.push_back(entry);
    }
    return listed;
}

}  // namespace vantix::gev

namespace vantix::gentl_core {

Transport &transport() {
    // Never destroyed, like the core's library state.
    alignas(gev::GevTransport) static unsigned char storage[sizeof(gev::GevTransport)];
    static gev::GevTransport *instance = new (storage) gev::GevTransport;
    return *instance;
}

}  // namespace vantix::gentl_core
