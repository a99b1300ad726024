// The system module (TL*): one per process, listing the interfaces.
#include "entry.hpp"
#include "info.hpp"

namespace vantix::sim {

using namespace gentl;

namespace {

// Interface IDs in the order their first camera is configured.
std::vector<std::string> interface_ids() {
    std::vector<std::string> ids;
    for (const auto &camera : library().cameras) {
        bool seen = false;
        for (const std::string &id : ids) seen |= id == camera->config.interface;
        if (!seen) ids.push_back(camera->config.interface);
    }
    return ids;
}

// An interface's TL type: its devices' when they agree.
std::string interface_tl_type(const std::string &id) {
    std::string type;
    for (const auto &camera : library().cameras) {
        if (camera->config.interface != id) continue;
        if (!type.empty() && type != camera->config.tl_type) return "Custom";
        type = camera->config.tl_type;
    }
    return type.empty() ? "Custom" : type;
}

bool listed(const System &system, const char *id) {
    if (!id) return false;
    for (const std::string &known : system.interface_ids)
        if (known == id) return true;
    return false;
}

GC_ERROR unknown_interface(const char *id) {
    return fail(GC_ERR_INVALID_ID, "there is no interface \"%s\" (update the interface list first)",
                id ? id : "(NULL)");
}

}  // namespace

GC_ERROR interface_info(const std::string &id, const std::string &tl_type, std::int32_t cmd,
                        const InfoOut &out) {
    switch (cmd) {
        case INTERFACE_INFO_ID:
            return out.text(id);
        case INTERFACE_INFO_DISPLAYNAME:
            return out.text("Simulated " + tl_type + " interface " + id);
        case INTERFACE_INFO_TLTYPE:
            return out.text(tl_type);
        default:
            return unknown_command("interface info command", cmd);
    }
}

std::string System::port_id() const { return kTlId; }

std::vector<std::shared_ptr<Camera>> reachable_cameras(const std::string &interface_id) {
    std::vector<std::shared_ptr<Camera>> found;
    const Clock::time_point now = Clock::now();
    for (const auto &camera : library().cameras)
        if (camera->config.interface == interface_id && camera->reachable(now))
            found.push_back(camera);
    return found;
}

}  // namespace vantix::sim

using namespace vantix::sim;

GENTL_EXPORT GC_ERROR TLOpen(TL_HANDLE *phSystem) {
    return locked([&](Lock &) -> GC_ERROR {
        if (!phSystem) return null_argument("phSystem");
        Library &lib = library();
        if (lib.system)
            return fail(GC_ERR_RESOURCE_IN_USE,
                        "the system module is already open in this process");
        auto system = std::make_shared<System>();
        system->interface_ids = interface_ids();
        build_system_nodes(*system);
        lib.system = system;
        *phSystem = lib.add(system);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR TLClose(TL_HANDLE hSystem) {
    return with<System>(hSystem, Kind::system, [&](System &, Lock &lock) {
        close_system(lock);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR TLGetInfo(TL_HANDLE hSystem, std::int32_t cmd, INFO_DATATYPE *type,
                                void *buffer, std::size_t *size) {
    return with<System>(hSystem, Kind::system, [&](System &, Lock &) {
        return tl_info(cmd, InfoOut{type, buffer, size});
    });
}

GENTL_EXPORT GC_ERROR TLGetNumInterfaces(TL_HANDLE hSystem, std::uint32_t *count) {
    return with<System>(hSystem, Kind::system, [&](System &system, Lock &) -> GC_ERROR {
        if (!count) return null_argument("piNumIfaces");
        *count = static_cast<std::uint32_t>(system.interface_ids.size());
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR TLGetInterfaceID(TL_HANDLE hSystem, std::uint32_t index, char *id,
                                       std::size_t *size) {
    return with<System>(hSystem, Kind::system, [&](System &system, Lock &) -> GC_ERROR {
        if (index >= system.interface_ids.size())
            return fail(GC_ERR_INVALID_INDEX, "interface index %u is out of range (%zu interfaces)",
                        index, system.interface_ids.size());
        return copy_text(system.interface_ids[index], id, size);
    });
}

GENTL_EXPORT GC_ERROR TLGetInterfaceInfo(TL_HANDLE hSystem, const char *ifaceId, std::int32_t cmd,
                                         INFO_DATATYPE *type, void *buffer, std::size_t *size) {
    return with<System>(hSystem, Kind::system, [&](System &system, Lock &) -> GC_ERROR {
        if (!listed(system, ifaceId)) return unknown_interface(ifaceId);
        return interface_info(ifaceId, interface_tl_type(ifaceId), cmd,
                              InfoOut{type, buffer, size});
    });
}

GENTL_EXPORT GC_ERROR TLOpenInterface(TL_HANDLE hSystem, const char *ifaceId, IF_HANDLE *phIface) {
    return with<System>(hSystem, Kind::system, [&](System &system, Lock &) -> GC_ERROR {
        if (!phIface) return null_argument("phIface");
        if (!listed(system, ifaceId)) return unknown_interface(ifaceId);
        for (const auto &open : system.open_interfaces)
            if (open->id == ifaceId)
                return fail(GC_ERR_RESOURCE_IN_USE, "interface %s is already open", ifaceId);
        auto iface = std::make_shared<Interface>();
        iface->id = ifaceId;
        iface->tl_type = interface_tl_type(iface->id);
        iface->devices = reachable_cameras(iface->id);
        build_interface_nodes(*iface);
        system.open_interfaces.push_back(iface);
        *phIface = library().add(iface);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR TLUpdateInterfaceList(TL_HANDLE hSystem, bool8_t *changed, std::uint64_t) {
    return with<System>(hSystem, Kind::system, [&](System &system, Lock &) -> GC_ERROR {
        std::vector<std::string> ids = interface_ids();
        if (changed) *changed = ids != system.interface_ids;
        system.interface_ids = std::move(ids);
        return GC_ERR_SUCCESS;
    });
}
