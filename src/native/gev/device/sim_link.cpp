#include "sim_link.hpp"

#include <cstdlib>
#include <cstring>

#include "gentl_core/gentl_api.hpp"

namespace vantix::gev::device {

using namespace gentl;

namespace {

constexpr std::size_t kBuffers = 4;

std::string device_text(IF_HANDLE iface, const std::string &id, std::int32_t command) {
    char text[256] = {};
    std::size_t size = sizeof text;
    INFO_DATATYPE type = 0;
    if (IFGetDeviceInfo(iface, id.c_str(), command, &type, text, &size) != GC_ERR_SUCCESS)
        return {};
    return text;
}

template <class T>
T buffer_info(DS_HANDLE stream, BUFFER_HANDLE buffer, std::int32_t command) {
    T value{};
    std::size_t size = sizeof value;
    INFO_DATATYPE type = 0;
    if (DSGetBufferInfo(stream, buffer, command, &type, static_cast<void *>(&value), &size) !=
        GC_ERR_SUCCESS)
        return T{};
    return value;
}

// The text between <tag> and </tag> after `from`, or empty.
std::string element(const std::string &xml, std::size_t from, const std::string &tag) {
    const std::size_t open = xml.find("<" + tag + ">", from);
    if (open == std::string::npos) return {};
    const std::size_t start = open + tag.size() + 2;
    const std::size_t end = xml.find("</" + tag + ">", start);
    return end == std::string::npos ? std::string() : xml.substr(start, end - start);
}

}  // namespace

GC_ERROR SimLink::check(GC_ERROR e) {
    if (e == GC_ERR_IO) lost_ = true;
    return e;
}

bool SimLink::open() {
    bool8_t changed = 0;
    if (IFUpdateDeviceList(iface_, &changed, 0) != GC_ERR_SUCCESS) return false;
    // The strongest access the camera grants.
    const std::int32_t ladder[] = {DEVICE_ACCESS_EXCLUSIVE, DEVICE_ACCESS_CONTROL,
                                   DEVICE_ACCESS_READONLY};
    for (const std::int32_t access : ladder)
        if (IFOpenDevice(iface_, device_id_.c_str(), access, &device_) == GC_ERR_SUCCESS) break;
    if (!device_) return false;
    lost_ = false;
    char url[512] = {};
    std::size_t size = sizeof url;
    if (DevGetPort(device_, &port_) != GC_ERR_SUCCESS ||
        GCGetPortURL(port_, url, &size) != GC_ERR_SUCCESS) {
        close();
        return false;
    }
    // "Local:name.xml;ADDRESS;LENGTH", hex.
    const char *place = std::strchr(url, ';');
    const char *length = place ? std::strchr(place + 1, ';') : nullptr;
    if (!length) {
        close();
        return false;
    }
    const std::uint64_t address = std::strtoull(place + 1, nullptr, 16);
    std::size_t bytes = std::strtoull(length + 1, nullptr, 16);
    document_.assign(bytes, '\0');
    if (GCReadPort(port_, address, document_.data(), &bytes) != GC_ERR_SUCCESS) {
        close();
        return false;
    }
    document_.resize(std::strlen(document_.c_str()));
    if (DevOpenDataStream(device_, "Stream0", &stream_) != GC_ERR_SUCCESS ||
        GCRegisterEvent(stream_, EVENT_NEW_BUFFER, &event_) != GC_ERR_SUCCESS) {
        close();
        return false;
    }
    std::size_t payload = 0, info_size = sizeof payload;
    INFO_DATATYPE type = 0;
    if (DSGetInfo(stream_, STREAM_INFO_PAYLOAD_SIZE, &type, &payload, &info_size) !=
            GC_ERR_SUCCESS ||
        !allocate_buffers(payload)) {
        close();
        return false;
    }
    return true;
}

bool SimLink::allocate_buffers(std::size_t size) {
    for (std::size_t i = 0; i < kBuffers; ++i) {
        BUFFER_HANDLE buffer = nullptr;
        if (DSAllocAndAnnounceBuffer(stream_, size, nullptr, &buffer) != GC_ERR_SUCCESS) break;
        buffers_.push_back(buffer);
        DSQueueBuffer(stream_, buffer);
    }
    buffer_size_ = size;
    return buffers_.size() == kBuffers &&
           check(DSStartAcquisition(stream_, 0, kInfinite)) == GC_ERR_SUCCESS;
}

void SimLink::release_buffers() {
    if (!stream_) return;
    DSStopAcquisition(stream_, ACQ_STOP_FLAGS_KILL);
    DSFlushQueue(stream_, ACQ_QUEUE_ALL_DISCARD);
    for (BUFFER_HANDLE buffer : buffers_) DSRevokeBuffer(stream_, buffer, nullptr, nullptr);
    buffers_.clear();
    buffer_size_ = 0;
}

void SimLink::fit_buffers() {
    std::size_t payload = 0, size = sizeof payload;
    INFO_DATATYPE type = 0;
    if (!stream_ ||
        DSGetInfo(stream_, STREAM_INFO_PAYLOAD_SIZE, &type, &payload, &size) != GC_ERR_SUCCESS)
        return;
    if (payload <= buffer_size_) return;
    release_buffers();
    allocate_buffers(payload);
}

void SimLink::close() {
    release_buffers();
    if (event_) GCUnregisterEvent(stream_, EVENT_NEW_BUFFER);
    if (stream_) DSClose(stream_);
    if (device_) DevClose(device_);
    event_ = stream_ = device_ = port_ = nullptr;
    document_.clear();
}

std::string SimLink::info(std::int32_t command) const {
    return device_text(iface_, device_id_, command);
}

bool SimLink::feature_register(const std::string &feature, std::uint64_t &address,
                               std::uint32_t &length) const {
    const std::size_t at = document_.find("Name=\"" + feature + "Reg\"");
    if (at == std::string::npos) return false;
    const std::string a = element(document_, at, "Address"), n = element(document_, at, "Length");
    if (a.empty() || n.empty()) return false;
    address = std::strtoull(a.c_str(), nullptr, 0);
    length = static_cast<std::uint32_t>(std::strtoul(n.c_str(), nullptr, 0));
    return length == 4 || length == 8;
}

GC_ERROR SimLink::read(std::uint64_t address, void *data, std::size_t size) {
    if (!port_) return GC_ERR_IO;
    return check(GCReadPort(port_, address, data, &size));
}

GC_ERROR SimLink::write(std::uint64_t address, const void *data, std::size_t size) {
    if (!port_) return GC_ERR_IO;
    return check(GCWritePort(port_, address, data, &size));
}

SimLink::Wait SimLink::next_frame(SimFrame &out, std::uint64_t timeout_ms) {
    if (!event_ || lost_) return Wait::failed;
    EVENT_NEW_BUFFER_DATA data{};
    std::size_t size = sizeof data;
    const GC_ERROR e = check(EventGetData(event_, &data, &size, timeout_ms));
    if (e == GC_ERR_TIMEOUT) return Wait::timeout;
    if (e != GC_ERR_SUCCESS) return lost_ ? Wait::failed : Wait::timeout;
    SimFrame f;
    f.buffer = data.BufferHandle;
    f.data =
        static_cast<const std::uint8_t *>(buffer_info<void *>(stream_, f.buffer, BUFFER_INFO_BASE));
    f.filled = buffer_info<std::size_t>(stream_, f.buffer, BUFFER_INFO_SIZE_FILLED);
    f.incomplete = buffer_info<bool8_t>(stream_, f.buffer, BUFFER_INFO_IS_INCOMPLETE) != 0;
    f.frame_id = buffer_info<std::uint64_t>(stream_, f.buffer, BUFFER_INFO_FRAMEID);
    f.timestamp = buffer_info<std::uint64_t>(stream_, f.buffer, BUFFER_INFO_TIMESTAMP);
    f.pixel_format = buffer_info<std::uint64_t>(stream_, f.buffer, BUFFER_INFO_PIXELFORMAT);
    f.width = buffer_info<std::size_t>(stream_, f.buffer, BUFFER_INFO_WIDTH);
    f.height = buffer_info<std::size_t>(stream_, f.buffer, BUFFER_INFO_HEIGHT);
    f.offset_x = buffer_info<std::size_t>(stream_, f.buffer, BUFFER_INFO_XOFFSET);
    f.offset_y = buffer_info<std::size_t>(stream_, f.buffer, BUFFER_INFO_YOFFSET);
    out = f;
    return Wait::frame;
}

void SimLink::requeue(const SimFrame &frame) {
    if (stream_ && frame.buffer) DSQueueBuffer(stream_, frame.buffer);
}

}  // namespace vantix::gev::device
