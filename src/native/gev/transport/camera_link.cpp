#include "camera_link.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "gentl_core/errors.hpp"
#include "gev/protocol/xml_location.hpp"
#include "gentl_core/producer.hpp"
#include "stream_source.hpp"

namespace vantix::gev {

using namespace gentl;

namespace {

constexpr std::size_t kMaxDocument = 16u << 20;

GC_ERROR failed(const Result &result) { return core::fail(result.code, "%s", result.text.c_str()); }

// The camera names the file; harvesters writes it under that name, so
// only a plain file name goes on.
std::string plain_file_name(const std::string &name) {
    std::string base = name.substr(name.find_last_of("/\\") + 1);
    for (char &c : base)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-')
            c = '_';
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".zip") == 0)
        base.replace(base.size() - 4, 4, ".xml");
    if (base.empty() || base[0] == '.') base = "Camera" + base;
    if (base.size() < 4 || base.compare(base.size() - 4, 4, ".xml") != 0) base += ".xml";
    return base;
}

}  // namespace

CameraLink::CameraLink(const DiscoveredCamera &camera, std::string id)
    : camera_(camera),
      id_(std::move(id)),
      channel_(Endpoint{camera.ip, kControlPort}, camera.via.address,
               camera.identity.serial.empty() ? id_ : camera.identity.serial),
      privilege_(channel_) {}

CameraLink::~CameraLink() { privilege_.release(); }

std::string CameraLink::lost_reason() const {
    return "camera " + channel_.name() + " does not answer: " + channel_.lost_reason();
}

GC_ERROR CameraLink::open(core::Grant wanted) {
    Result opened = channel_.open();
    if (!opened.ok()) return failed(opened);
    // One register per command: some cameras answer only the first of several.
    std::uint32_t values[3] = {};
    const std::uint32_t addresses[3] = {reg::kCapability, reg::kTimestampFrequencyHigh,
                                        reg::kTimestampFrequencyLow};
    for (int i = 0; i < 3; ++i)
        if (Result r = channel_.read_register(addresses[i], values[i]); !r.ok()) {
            // A camera that does not answer at all is not there.
            if (r.code == gc::kTimeout) r.code = GC_ERR_IO;
            return failed(r);
        }
    capability_ = values[0];
    timestamp_frequency_ = std::uint64_t(values[1]) << 32 | values[2];
    channel_.set_write_memory((capability_ & kCapabilityWriteMem) != 0);
    if (const GC_ERROR e = take_access(wanted)) return e;
    if (const GC_ERROR e = read_document()) {
        privilege_.release();
        return e;
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR CameraLink::take_access(core::Grant wanted) {
    if (wanted == core::Grant::read_only) {
        channel_.set_read_only(true);
        return GC_ERR_SUCCESS;
    }
    // Held by another application: refused at once, rather than after a
    // write the camera may leave unanswered.
    std::uint32_t privilege = 0;
    if (Result r = channel_.read_register(reg::kControlPrivilege, privilege); !r.ok())
        return failed(r);
    if (privilege & (kPrivilegeControl | kPrivilegeExclusive))
        return core::fail(GC_ERR_ACCESS_DENIED,
                          "camera %s is controlled by another application (privilege 0x%" PRIX32
                          ")",
                          channel_.name().c_str(), privilege);
    const Access access = wanted == core::Grant::exclusive ? Access::exclusive : Access::control;
    std::weak_ptr<CameraLink> self = weak_from_this();
    Result taken = privilege_.take(access, [self](const std::string &) {
        if (std::shared_ptr<CameraLink> link = self.lock()) link->on_lost();
    });
    if (taken.ok()) return GC_ERR_SUCCESS;
    if (taken.code == gc::kTimeout || taken.code == gc::kAccessDenied)
        return core::fail(
            GC_ERR_ACCESS_DENIED, "camera %s did not grant %s access: %s", channel_.name().c_str(),
            access == Access::exclusive ? "exclusive" : "control", taken.text.c_str());
    return failed(taken);
}

void CameraLink::on_lost() {
    // Under the lock, so a waiter between its check and its wait sees it.
    {
        std::lock_guard<std::mutex> hold(core::library().mutex);
    }
    changed_.notify_all();
}

GC_ERROR CameraLink::read_document() {
    char text[reg::kUrlSize + 1] = {};
    if (Result r = channel_.read_memory(reg::kFirstUrl, text, reg::kUrlSize); !r.ok())
        return failed(r);
    XmlLocation where;
    std::string error;
    if (!parse_xml_location(text, reg::kUrlSize, where, error))
        return core::fail(GC_ERR_INVALID_PARAMETER, "camera %s: its document's location: %s",
                          channel_.name().c_str(), error.c_str());
    std::string stored;
    if (where.scheme == XmlLocation::Scheme::local) {
        if (where.size == 0 || where.size > kMaxDocument)
            return core::fail(GC_ERR_INVALID_PARAMETER,
                              "camera %s says its document takes %" PRIu64 " bytes",
                              channel_.name().c_str(), where.size);
        stored.resize(where.size);
        if (Result r = channel_.read_memory(where.address, stored.data(), stored.size()); !r.ok())
            return failed(r);
    } else if (where.scheme == XmlLocation::Scheme::file) {
        std::FILE *file = std::fopen(where.file_name.c_str(), "rb");
        if (!file)
            return core::fail(GC_ERR_IO, "camera %s: its document %s cannot be read",
                              channel_.name().c_str(), where.file_name.c_str());
        stored.resize(kMaxDocument + 1);
        stored.resize(std::fread(stored.data(), 1, stored.size(), file));
        std::fclose(file);
        if (stored.size() > kMaxDocument)
            return core::fail(GC_ERR_IO, "camera %s: its document %s is larger than %zu bytes",
                              channel_.name().c_str(), where.file_name.c_str(), kMaxDocument);
    } else {
        return core::fail(GC_ERR_NOT_IMPLEMENTED,
                          "camera %s keeps its document on the web, which is not supported",
                          channel_.name().c_str());
    }
    if (where.zipped && !unzip_first_entry(reinterpret_cast<const std::uint8_t *>(stored.data()),
                                           stored.size(), document_, error, kMaxDocument)) {
        // A plain document under a .zip name is still a document.
        if (stored.rfind("<?xml", 0) != 0 &&
            stored.find("<RegisterDescription") == std::string::npos)
            return core::fail(GC_ERR_INVALID_PARAMETER, "camera %s: its zipped document: %s",
                              channel_.name().c_str(), error.c_str());
        document_ = std::move(stored);
    } else if (!where.zipped) {
        document_ = std::move(stored);
    }
    document_.resize(std::strlen(document_.c_str()));  // padding after the text
    document_name_ = plain_file_name(where.file_name);
    return GC_ERR_SUCCESS;
}

GC_ERROR CameraLink::read(std::uint64_t address, void *data, std::size_t size, core::Lock &lock) {
    if (address >= kDocumentAddress) {
        const std::uint64_t offset = address - kDocumentAddress;
        if (offset > document_.size() || size > document_.size() - offset)
            return core::fail(GC_ERR_INVALID_ADDRESS,
                              "the document of camera %s has no bytes at 0x%" PRIX64 "..0x%" PRIX64,
                              channel_.name().c_str(), address, address + size);
        std::memcpy(data, document_.data() + offset, size);
        return GC_ERR_SUCCESS;
    }
    lock.unlock();
    Result r = size == 4 && address % 4 == 0 ? [&] {
        std::uint32_t value = 0;
        Result got = channel_.read_register(static_cast<std::uint32_t>(address), value);
        // Registers travel big-endian, as the camera holds them.
        const std::uint8_t bytes[4] = {std::uint8_t(value >> 24), std::uint8_t(value >> 16),
                                       std::uint8_t(value >> 8), std::uint8_t(value)};
        if (got.ok()) std::memcpy(data, bytes, 4);
        return got;
    }()
                                             : channel_.read_memory(address, data, size);
    lock.lock();
    return r.ok() ? GC_ERR_SUCCESS : failed(r);
}

GC_ERROR CameraLink::write(std::uint64_t address, const void *data, std::size_t size,
                           core::Lock &lock) {
    if (address >= kDocumentAddress)
        return core::fail(GC_ERR_ACCESS_DENIED, "the document of camera %s is read-only",
                          channel_.name().c_str());
    lock.unlock();
    Result r;
    if (size == 4 && address % 4 == 0) {
        const auto *b = static_cast<const std::uint8_t *>(data);
        const std::uint32_t value =
            std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
        r = channel_.write_register(static_cast<std::uint32_t>(address), value);
    } else {
        r = channel_.write_memory(address, data, size);
    }
    lock.lock();
    return r.ok() ? GC_ERR_SUCCESS : failed(r);
}

std::vector<core::PortUrl> CameraLink::urls(core::Lock &) {
    core::PortUrl url;
    char place[64];
    std::snprintf(place, sizeof place, ";%" PRIX64 ";%zX", kDocumentAddress, document_.size());
    url.url = "Local:" + document_name_ + place;
    url.file_name = document_name_;
    url.address = kDocumentAddress;
    url.size = document_.size();
    return {url};
}

GC_ERROR CameraLink::port_info(std::int32_t cmd, const core::InfoOut &out) {
    const Identity &who = camera_.identity;
    switch (cmd) {
        case PORT_INFO_VENDOR:
            return out.text(who.manufacturer);
        case PORT_INFO_MODEL:
            return out.text(who.model);
        case PORT_INFO_TLTYPE:
            return out.text("GEV");
        case PORT_INFO_LITTLE_ENDIAN:
            return out.boolean(false);
        case PORT_INFO_BIG_ENDIAN:
            return out.boolean(true);
        case PORT_INFO_VERSION:
            return out.text(who.device_version);
        case PORT_INFO_PORTNAME:
            return out.text("Device");
        default:
            return core::unknown_command("port info command", cmd);
    }
}

GC_ERROR CameraLink::open_stream(const std::string &id, core::Lock &lock,
                                 std::unique_ptr<core::StreamSource> &out) {
    if (id != "Stream0")
        return core::fail(GC_ERR_INVALID_ID,
                          "there is no data stream \"%s\" (the camera has Stream0)", id.c_str());
    auto source = std::make_unique<StreamSource>(shared_from_this());
    lock.unlock();
    const GC_ERROR configured = source->configure();
    lock.lock();
    if (configured != GC_ERR_SUCCESS) return configured;
    out = std::move(source);
    return GC_ERR_SUCCESS;
}

void CameraLink::close(core::Lock &lock) {
    // The heartbeat thread may be waiting for the lock to report a loss.
    lock.unlock();
    privilege_.release();
    lock.lock();
}

}  // namespace vantix::gev
