// The system module (TL*): one per process, listing the interfaces the
// transport offers.
#include "entry.hpp"
#include "info.hpp"

namespace vantix::gentl_core {

using namespace gentl;

namespace {

const InterfaceEntry *listed(const System &system, const char *id) {
    if (!id) return nullptr;
    for (const InterfaceEntry &known : system.interfaces)
        if (known.id == id) return &known;
    return nullptr;
}

GC_ERROR unknown_interface(const char *id) {
    return fail(GC_ERR_INVALID_ID, "there is no interface \"%s\" (update the interface list first)",
                id ? id : "(NULL)");
}

GC_ERROR already_open() {
    return fail(GC_ERR_RESOURCE_IN_USE, "the system module is already open in this process");
}

bool same_ids(const std::vector<InterfaceEntry> &a, const std::vector<InterfaceEntry> &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].id != b[i].id) return false;
    return true;
}

}  // namespace

GC_ERROR interface_info(const InterfaceEntry &entry, std::int32_t cmd, const InfoOut &out) {
    switch (cmd) {
        case INTERFACE_INFO_ID:
            return out.text(entry.id);
        case INTERFACE_INFO_DISPLAYNAME:
            return out.text(entry.display_name);
        case INTERFACE_INFO_TLTYPE:
            return out.text(entry.tl_type);
        default:
            return transport().interface_info(entry, cmd, out);
    }
}

std::string System::port_id() const { return transport().producer().id; }

}  // namespace vantix::gentl_core

using namespace vantix::gentl_core;

GENTL_EXPORT GC_ERROR TLOpen(TL_HANDLE *phSystem) {
    return locked([&](Lock &lock) -> GC_ERROR {
        if (!phSystem) return null_argument("phSystem");
        Library &lib = library();
        if (lib.system) return already_open();
        auto system = std::make_shared<System>();
        system->interfaces = transport().interfaces(lock);
        if (lib.system) return already_open();  // opened while the transport looked
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
        *count = static_cast<std::uint32_t>(system.interfaces.size());
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR TLGetInterfaceID(TL_HANDLE hSystem, std::uint32_t index, char *id,
                                       std::size_t *size) {
    return with<System>(hSystem, Kind::system, [&](System &system, Lock &) -> GC_ERROR {
        if (index >= system.interfaces.size())
            return fail(GC_ERR_INVALID_INDEX, "interface index %u is out of range (%zu interfaces)",
                        index, system.interfaces.size());
        return copy_text(system.interfaces[index].id, id, size);
    });
}

GENTL_EXPORT GC_ERROR TLGetInterfaceInfo(TL_HANDLE hSystem, const char *ifaceId, std::int32_t cmd,
                                         INFO_DATATYPE *type, void *buffer, std::size_t *size) {
    return with<System>(hSystem, Kind::system, [&](System &system, Lock &) -> GC_ERROR {
        const InterfaceEntry *entry = listed(system, ifaceId);
        if (!entry) return unknown_interface(ifaceId);
        return interface_info(*entry, cmd, InfoOut{type, buffer, size});
    });
}

GENTL_EXPORT GC_ERROR TLOpenInterface(TL_HANDLE hSystem, const char *ifaceId, IF_HANDLE *phIface) {
    return with<System>(hSystem, Kind::system, [&](System &system, Lock &lock) -> GC_ERROR {
        if (!phIface) return null_argument("phIface");
        const InterfaceEntry *entry = listed(system, ifaceId);
        if (!entry) return unknown_interface(ifaceId);
        auto is_open = [&] {
            for (const auto &open : system.open_interfaces)
                if (open->entry.id == ifaceId) return true;
            return false;
        };
        if (is_open()) return fail(GC_ERR_RESOURCE_IN_USE, "interface %s is already open", ifaceId);
        auto iface = std::make_shared<Interface>();
        iface->entry = *entry;
        iface->devices = transport().devices(iface->entry, 0, lock);
        // The lock may have been released meanwhile.
        if (!library().holds(system))
            return fail(GC_ERR_ABORT, "the system module was closed meanwhile");
        if (is_open()) return fail(GC_ERR_RESOURCE_IN_USE, "interface %s is already open", ifaceId);
        build_interface_nodes(*iface);
        system.open_interfaces.push_back(iface);
        *phIface = library().add(iface);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR TLUpdateInterfaceList(TL_HANDLE hSystem, bool8_t *changed, std::uint64_t) {
    return with<System>(hSystem, Kind::system, [&](System &system, Lock &lock) -> GC_ERROR {
        std::vector<InterfaceEntry> interfaces = transport().interfaces(lock);
        if (changed) *changed = !same_ids(interfaces, system.interfaces);
        system.interfaces = std::move(interfaces);
        return GC_ERR_SUCCESS;
    });
}
