// Port access (GCReadPort, GCWritePort and their stacked forms) and the port
// descriptions a consumer needs to load each module's GenApi document.
#include "ports.hpp"

#include <cctype>
#include <cstdio>

#include "entry.hpp"
#include "info.hpp"

namespace vantix::gentl_core {

using namespace gentl;

GC_ERROR read_nodes(const NodeMap &nodes, std::uint64_t address, void *buffer, std::size_t size) {
    switch (nodes.registers().read(address, buffer, size)) {
        case PortResult::ok:
            return GC_ERR_SUCCESS;
        case PortResult::not_readable:
            return fail(GC_ERR_ACCESS_DENIED, "the register at 0x%llX of port %s is write-only",
                        static_cast<unsigned long long>(address), nodes.port_name().c_str());
        case PortResult::bad_size:
            return fail(GC_ERR_INVALID_PARAMETER, "a read of 0 bytes");
        default:
            return fail(GC_ERR_INVALID_ADDRESS, "port %s has nothing to read at 0x%llX..0x%llX",
                        nodes.port_name().c_str(), static_cast<unsigned long long>(address),
                        static_cast<unsigned long long>(address) + size);
    }
}

PortUrl local_url(const std::string &stem, const NodeMap &nodes) {
    PortUrl url;
    url.file_name = stem;
    for (char &c : url.file_name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
    url.file_name += ".xml";
    url.address = RegisterMap::kDocumentAddress;
    url.size = nodes.registers().document().size();
    char text[96];
    std::snprintf(text, sizeof text, ";%llX;%llX", static_cast<unsigned long long>(url.address),
                  static_cast<unsigned long long>(url.size));
    url.url = "Local:" + url.file_name + text;
    return url;
}

namespace {

// A port: one of the producer's own modules (its node map), or a camera's
// (its link), with the access it has now.
struct PortRef {
    std::shared_ptr<Object> object;
    NodeMap *nodes = nullptr;          // the producer's own modules
    std::shared_ptr<DeviceLink> link;  // a camera
    bool read_only = false;            // the device was opened read-only
};

bool resolve(void *handle, PortRef &out) {
    out.object = library().find_any(handle);
    if (!out.object || !handle) return false;
    if (out.object->kind == Kind::remote) {
        auto &remote = static_cast<RemotePort &>(*out.object);
        out.link = remote.link;
        std::shared_ptr<Device> device = remote.device.lock();
        out.read_only = device && device->access == Grant::read_only;
        return true;
    }
    out.nodes = out.object->port();
    return out.nodes != nullptr;
}

GC_ERROR not_a_port(void *handle) {
    return fail(GC_ERR_INVALID_HANDLE, "%p is not the handle of an open port", handle);
}

template <typename Body>
GC_ERROR with_port(void *handle, Body &&body) noexcept {
    return locked([&](Lock &lock) -> GC_ERROR {
        PortRef port;
        if (!resolve(handle, port)) return not_a_port(handle);
        return body(port, lock);
    });
}

std::vector<PortUrl> urls(const PortRef &port, Lock &lock) {
    if (port.link) return port.link->urls(lock);
    return {local_url(port.object->module_name(), *port.nodes)};
}

GC_ERROR read(const PortRef &port, std::uint64_t address, void *buffer, std::size_t *size,
              Lock &lock) {
    if (!size) return null_argument("piSize");
    if (!buffer) return null_argument("pBuffer");
    if (port.link) return port.link->read(address, buffer, *size, lock);
    port.object->refresh();
    return read_nodes(*port.nodes, address, buffer, *size);
}

GC_ERROR write(const PortRef &port, std::uint64_t address, const void *buffer, std::size_t *size,
               Lock &lock) {
    if (!size) return null_argument("piSize");
    if (!buffer) return null_argument("pBuffer");
    if (port.link) return port.link->write(address, buffer, *size, lock);
    int id;
    switch (port.nodes->registers().locate_write(address, *size, id)) {
        case PortResult::invalid_address:
            return fail(GC_ERR_INVALID_ADDRESS, "port %s has no register at 0x%llX",
                        port.nodes->port_name().c_str(), static_cast<unsigned long long>(address));
        case PortResult::bad_size:
            return fail(GC_ERR_INVALID_PARAMETER, "the write does not match the register's size");
        default:
            return fail(GC_ERR_ACCESS_DENIED, "the features of %s are read-only",
                        port.object->module_name());
    }
}

// Runs the entries one after the other; stops at the first failure, with
// `count` then the number done.
template <typename Access>
GC_ERROR stacked(const PortRef &port, PORT_REGISTER_STACK_ENTRY *entries, std::size_t *count,
                 Lock &lock, Access access) {
    if (!count) return null_argument("piNumEntries");
    if (!entries && *count) return null_argument("pEntries");
    for (std::size_t i = 0; i < *count; ++i) {
        std::size_t size = entries[i].Size;
        if (const GC_ERROR e = access(port, entries[i].Address, entries[i].pBuffer, &size, lock)) {
            *count = i;
            return e;
        }
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR url_info(const PortUrl &url, std::int32_t cmd, const InfoOut &out) {
    switch (cmd) {
        case URL_INFO_URL:
            return out.text(url.url);
        case URL_INFO_SCHEMA_VER_MAJOR:
            return out.value(url.schema_major, INFO_DATATYPE_INT32);
        case URL_INFO_SCHEMA_VER_MINOR:
            return out.value(url.schema_minor, INFO_DATATYPE_INT32);
        case URL_INFO_FILE_VER_MAJOR:
            return out.value(url.file_major, INFO_DATATYPE_INT32);
        case URL_INFO_FILE_VER_MINOR:
            return out.value(url.file_minor, INFO_DATATYPE_INT32);
        case URL_INFO_FILE_VER_SUBMINOR:
            return out.value(url.file_subminor, INFO_DATATYPE_INT32);
        case URL_INFO_FILE_REGISTER_ADDRESS:
            return out.u64(url.address);
        case URL_INFO_FILE_SIZE:
            return out.u64(url.size);
        case URL_INFO_SCHEME:
            return out.value(url.scheme, INFO_DATATYPE_INT32);
        case URL_INFO_FILENAME:
            return out.text(url.file_name);
        case URL_INFO_FILE_SHA1_HASH:
            return fail(GC_ERR_NOT_AVAILABLE, "the documents carry no SHA-1 hash");
        default:
            return unknown_command("URL info command", cmd);
    }
}

}  // namespace

}  // namespace vantix::gentl_core

using namespace vantix::gentl_core;

GENTL_EXPORT GC_ERROR GCReadPort(PORT_HANDLE hPort, std::uint64_t iAddress, void *pBuffer,
                                 std::size_t *piSize) {
    return with_port(hPort, [&](PortRef &port, Lock &lock) {
        return read(port, iAddress, pBuffer, piSize, lock);
    });
}

GENTL_EXPORT GC_ERROR GCWritePort(PORT_HANDLE hPort, std::uint64_t iAddress, const void *pBuffer,
                                  std::size_t *piSize) {
    return with_port(hPort, [&](PortRef &port, Lock &lock) {
        return write(port, iAddress, pBuffer, piSize, lock);
    });
}

GENTL_EXPORT GC_ERROR GCReadPortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY *entries,
                                        std::size_t *count) {
    return with_port(hPort, [&](PortRef &port, Lock &lock) {
        return stacked(port, entries, count, lock, read);
    });
}

GENTL_EXPORT GC_ERROR GCWritePortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY *entries,
                                         std::size_t *count) {
    return with_port(hPort, [&](PortRef &port, Lock &lock) {
        return stacked(port, entries, count, lock, write);
    });
}

GENTL_EXPORT GC_ERROR GCGetPortURL(PORT_HANDLE hPort, char *pURL, std::size_t *piSize) {
    return with_port(hPort, [&](PortRef &port, Lock &lock) -> GC_ERROR {
        const std::vector<PortUrl> all = urls(port, lock);
        if (all.empty()) return fail(GC_ERR_NOT_AVAILABLE, "the port names no document");
        return copy_text(all.front().url, pURL, piSize);
    });
}

GENTL_EXPORT GC_ERROR GCGetNumPortURLs(PORT_HANDLE hPort, std::uint32_t *count) {
    return with_port(hPort, [&](PortRef &port, Lock &lock) -> GC_ERROR {
        if (!count) return null_argument("piNumURLs");
        *count = static_cast<std::uint32_t>(urls(port, lock).size());
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR GCGetPortURLInfo(PORT_HANDLE hPort, std::uint32_t index, std::int32_t cmd,
                                       INFO_DATATYPE *type, void *buffer, std::size_t *size) {
    return with_port(hPort, [&](PortRef &port, Lock &lock) -> GC_ERROR {
        const std::vector<PortUrl> all = urls(port, lock);
        if (index >= all.size())
            return fail(GC_ERR_INVALID_INDEX, "URL index %u: the port has %s", index,
                        index_range(all.size(), "URL").c_str());
        return url_info(all[index], cmd, InfoOut{type, buffer, size});
    });
}

GENTL_EXPORT GC_ERROR GCGetPortInfo(PORT_HANDLE hPort, std::int32_t cmd, INFO_DATATYPE *type,
                                    void *buffer, std::size_t *size) {
    return with_port(hPort, [&](PortRef &port, Lock &) -> GC_ERROR {
        const InfoOut out{type, buffer, size};
        const bool connected = !port.link || port.link->connected();
        switch (cmd) {
            case PORT_INFO_ID:
                return out.text(port.object->port_id());
            case PORT_INFO_MODULE:
                return out.text(port.object->module_name());
            case PORT_INFO_ACCESS_READ:
                return out.boolean(connected);
            case PORT_INFO_ACCESS_WRITE:
                return out.boolean(connected && port.link && !port.read_only);
            case PORT_INFO_ACCESS_NA:
                return out.boolean(!connected);
            case PORT_INFO_ACCESS_NI:
                return out.boolean(false);
            default:
                break;
        }
        if (port.link) return port.link->port_info(cmd, out);
        const ProducerInfo &producer = transport().producer();
        switch (cmd) {
            case PORT_INFO_VENDOR:
                return out.text(producer.vendor);
            case PORT_INFO_MODEL:
                return out.text(producer.model);
            case PORT_INFO_TLTYPE:
                return out.text("Custom");
            case PORT_INFO_LITTLE_ENDIAN:
                return out.boolean(true);
            case PORT_INFO_BIG_ENDIAN:
                return out.boolean(false);
            case PORT_INFO_VERSION:
                return out.text("1.0");
            case PORT_INFO_PORTNAME:
                return out.text(port.nodes->port_name());
            default:
                return unknown_command("port info command", cmd);
        }
    });
}
