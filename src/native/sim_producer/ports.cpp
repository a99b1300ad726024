// Port access (GCReadPort, GCWritePort and their stacked forms) and the port
// descriptions a consumer needs to load each module's GenApi document.
#include <cctype>
#include <cstdio>

#include "entry.hpp"
#include "info.hpp"

namespace vantix::sim {

using namespace gentl;

namespace {

// The modules that are ports, with the access they have now.
struct PortRef {
    std::shared_ptr<Object> object;
    NodeMap *nodes = nullptr;
    bool connected = true;   // false: the camera behind it was lost
    bool read_only = false;  // the device was opened read-only
};

bool resolve(void *handle, PortRef &out) {
    out.object = library().find_any(handle);
    if (!out.object || !handle) return false;
    out.nodes = out.object->port();
    if (!out.nodes) return false;
    if (out.object->kind == Kind::remote) {
        auto &remote = static_cast<RemotePort &>(*out.object);
        std::shared_ptr<Device> device = remote.device.lock();
        out.connected = device && device->connected();
        out.read_only = device && device->access == Grant::read_only;
    }
    return true;
}

GC_ERROR not_a_port(void *handle) {
    return fail(GC_ERR_INVALID_HANDLE, "%p is not the handle of an open port", handle);
}

GC_ERROR lost(const PortRef &port) {
    return fail(GC_ERR_IO, "camera %s does not answer: it was lost",
                port.object->port_id().c_str());
}

template <typename Body>
GC_ERROR with_port(void *handle, Body &&body) noexcept {
    return locked([&](Lock &) -> GC_ERROR {
        PortRef port;
        if (!resolve(handle, port)) return not_a_port(handle);
        return body(port);
    });
}

std::string xml_name(const PortRef &port) {
    std::string name = port.object->module_name();
    if (port.object->kind == Kind::remote) name = "Camera_" + port.object->port_id();
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
    return name + ".xml";
}

std::string url(const PortRef &port) {
    char text[96];
    std::snprintf(text, sizeof text, ";%llX;%zX",
                  static_cast<unsigned long long>(RegisterMap::kDocumentAddress),
                  port.nodes->registers().document().size());
    return "Local:" + xml_name(port) + text;
}

GC_ERROR read(const PortRef &port, std::uint64_t address, void *buffer, std::size_t *size) {
    if (!size) return null_argument("piSize");
    if (!buffer) return null_argument("pBuffer");
    if (!port.connected) return lost(port);
    port.object->refresh();
    switch (port.nodes->registers().read(address, buffer, *size)) {
        case PortResult::ok:
            return GC_ERR_SUCCESS;
        case PortResult::not_readable:
            return fail(GC_ERR_ACCESS_DENIED, "the register at 0x%llX of port %s is write-only",
                        static_cast<unsigned long long>(address), port.nodes->port_name().c_str());
        case PortResult::bad_size:
            return fail(GC_ERR_INVALID_PARAMETER, "a read of 0 bytes");
        default:
            return fail(GC_ERR_INVALID_ADDRESS, "port %s has nothing to read at 0x%llX..0x%llX",
                        port.nodes->port_name().c_str(), static_cast<unsigned long long>(address),
                        static_cast<unsigned long long>(address + *size));
    }
}

GC_ERROR write(const PortRef &port, std::uint64_t address, const void *buffer, std::size_t *size) {
    if (!size) return null_argument("piSize");
    if (!buffer) return null_argument("pBuffer");
    if (!port.connected) return lost(port);
    if (port.object->kind == Kind::remote)
        return static_cast<RemotePort &>(*port.object)
            .camera->write(address, buffer, *size, port.read_only);
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
                 Access access) {
    if (!count) return null_argument("piNumEntries");
    if (!entries && *count) return null_argument("pEntries");
    for (std::size_t i = 0; i < *count; ++i) {
        std::size_t size = entries[i].Size;
        if (const GC_ERROR e = access(port, entries[i].Address, entries[i].pBuffer, &size)) {
            *count = i;
            return e;
        }
    }
    return GC_ERR_SUCCESS;
}

}  // namespace

}  // namespace vantix::sim

using namespace vantix::sim;

GENTL_EXPORT GC_ERROR GCReadPort(PORT_HANDLE hPort, std::uint64_t iAddress, void *pBuffer,
                                 std::size_t *piSize) {
    return with_port(hPort, [&](PortRef &port) { return read(port, iAddress, pBuffer, piSize); });
}

GENTL_EXPORT GC_ERROR GCWritePort(PORT_HANDLE hPort, std::uint64_t iAddress, const void *pBuffer,
                                  std::size_t *piSize) {
    return with_port(hPort, [&](PortRef &port) { return write(port, iAddress, pBuffer, piSize); });
}

GENTL_EXPORT GC_ERROR GCReadPortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY *entries,
                                        std::size_t *count) {
    return with_port(hPort, [&](PortRef &port) { return stacked(port, entries, count, read); });
}

GENTL_EXPORT GC_ERROR GCWritePortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY *entries,
                                         std::size_t *count) {
    return with_port(hPort, [&](PortRef &port) { return stacked(port, entries, count, write); });
}

GENTL_EXPORT GC_ERROR GCGetPortURL(PORT_HANDLE hPort, char *pURL, std::size_t *piSize) {
    return with_port(hPort, [&](PortRef &port) { return copy_text(url(port), pURL, piSize); });
}

GENTL_EXPORT GC_ERROR GCGetNumPortURLs(PORT_HANDLE hPort, std::uint32_t *count) {
    return with_port(hPort, [&](PortRef &) -> GC_ERROR {
        if (!count) return null_argument("piNumURLs");
        *count = 1;
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR GCGetPortURLInfo(PORT_HANDLE hPort, std::uint32_t index, std::int32_t cmd,
                                       INFO_DATATYPE *type, void *buffer, std::size_t *size) {
    return with_port(hPort, [&](PortRef &port) -> GC_ERROR {
        if (index != 0)
            return fail(GC_ERR_INVALID_INDEX, "URL index %u: the port has one URL (0)", index);
        const InfoOut out{type, buffer, size};
        const std::string &document = port.nodes->registers().document();
        switch (cmd) {
            case URL_INFO_URL:
                return out.text(url(port));
            case URL_INFO_SCHEMA_VER_MAJOR:
            case URL_INFO_FILE_VER_MAJOR:
                return out.value<std::int32_t>(1, INFO_DATATYPE_INT32);
            case URL_INFO_SCHEMA_VER_MINOR:
                return out.value<std::int32_t>(1, INFO_DATATYPE_INT32);
            case URL_INFO_FILE_VER_MINOR:
            case URL_INFO_FILE_VER_SUBMINOR:
                return out.value<std::int32_t>(0, INFO_DATATYPE_INT32);
            case URL_INFO_FILE_REGISTER_ADDRESS:
                return out.u64(RegisterMap::kDocumentAddress);
            case URL_INFO_FILE_SIZE:
                return out.u64(document.size());
            case URL_INFO_SCHEME:
                return out.value<std::int32_t>(kUrlSchemeLocal, INFO_DATATYPE_INT32);
            case URL_INFO_FILENAME:
                return out.text(xml_name(port));
            case URL_INFO_FILE_SHA1_HASH:
                return fail(GC_ERR_NOT_AVAILABLE, "the documents carry no SHA-1 hash");
            default:
                return unknown_command("URL info command", cmd);
        }
    });
}

GENTL_EXPORT GC_ERROR GCGetPortInfo(PORT_HANDLE hPort, std::int32_t cmd, INFO_DATATYPE *type,
                                    void *buffer, std::size_t *size) {
    return with_port(hPort, [&](PortRef &port) -> GC_ERROR {
        const InfoOut out{type, buffer, size};
        const bool remote = port.object->kind == Kind::remote;
        const DeviceConfig *camera =
            remote ? &static_cast<RemotePort &>(*port.object).camera->config : nullptr;
        switch (cmd) {
            case PORT_INFO_ID:
                return out.text(port.object->port_id());
            case PORT_INFO_VENDOR:
                return out.text(camera ? camera->vendor : kTlVendor);
            case PORT_INFO_MODEL:
                return out.text(camera ? camera->model : kTlModel);
            case PORT_INFO_TLTYPE:
                return out.text(camera ? camera->tl_type : "Custom");
            case PORT_INFO_MODULE:
                return out.text(port.object->module_name());
            case PORT_INFO_LITTLE_ENDIAN:
                return out.boolean(true);
            case PORT_INFO_BIG_ENDIAN:
                return out.boolean(false);
            case PORT_INFO_ACCESS_READ:
                return out.boolean(port.connected);
            case PORT_INFO_ACCESS_WRITE:
                return out.boolean(port.connected && remote && !port.read_only);
            case PORT_INFO_ACCESS_NA:
                return out.boolean(!port.connected);
            case PORT_INFO_ACCESS_NI:
                return out.boolean(false);
            case PORT_INFO_VERSION:
                return out.text(camera ? camera->version : "1.0");
            case PORT_INFO_PORTNAME:
                return out.text(port.nodes->port_name());
            default:
                return unknown_command("port info command", cmd);
        }
    });
}
