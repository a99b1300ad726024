// What a producer plugs into the GenTL core: the cameras it can reach and
// how it talks to them. The core owns everything a consumer holds a handle
// to (system, interfaces, devices, ports, streams, buffers, events), the
// library lock and the last error; a transport owns the link to the camera.
//
// Threading: every call comes with the library lock held. A call that waits
// on the camera (network round trips, discovery) may unlock `lock` while it
// waits and must relock it before returning; the core keeps the objects it
// passes alive across that.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gentl.hpp"
#include "grant.hpp"
#include "info.hpp"

namespace vantix::gentl_core {

using Lock = std::unique_lock<std::mutex>;
using Clock = std::chrono::steady_clock;

// What the producer says of itself (TL_INFO_*, the system module's nodes).
struct ProducerInfo {
    const char *id, *vendor, *model, *version, *tl_type;
    const char *display_name;  // TL_INFO_DISPLAYNAME
    const char *noun;          // how error texts name it: "the simulator"
    // The model the interface and stream modules' documents give, before
    // " interface" / " stream".
    const char *module_model;
};

// One network interface / simulated link, as the system module lists it.
struct InterfaceEntry {
    std::string id, tl_type, display_name;
};

// What a delivered frame puts into the buffer info.
struct FrameInfo {
    bool has_image = false;
    std::uint64_t id = 0;
    std::uint64_t timestamp = 0;     // device ticks
    std::uint64_t timestamp_ns = 0;  // the same in ns where the tick rate is known
    std::uint64_t pixel_format = 0;  // PFNC
    std::uint64_t payload_type = gentl::kPayloadTypeImage;
    std::size_t width = 0, height = 0, offset_x = 0, offset_y = 0;
    std::size_t padding_x = 0, padding_y = 0;
    std::size_t delivered_height = 0;  // image lines actually filled
    // Bytes the whole frame takes; more than the buffer holds: it was cut.
    std::size_t data_size = 0;
};

// One XML location of a port, for GCGetPortURL / GCGetPortURLInfo.
struct PortUrl {
    std::string url, file_name;
    std::int32_t scheme = gentl::kUrlSchemeLocal;
    std::uint64_t address = 0, size = 0;
    std::int32_t schema_major = 1, schema_minor = 1;
    std::int32_t file_major = 1, file_minor = 0, file_subminor = 0;
};

class Stream;  // the core's data stream (buffers, queues, counters): producer.hpp
class NodeMap;

// The source of a data stream's frames: a render thread, or a receiver
// thread reading packets. It takes buffers from the stream's input pool and
// hands them back filled through the stream (take_input / deliver, under
// the library lock).
class StreamSource {
public:
    virtual ~StreamSource() = default;
    // 0: the camera's own PayloadSize feature says (a remote camera).
    virtual std::size_t payload_size() = 0;
    // Starts filling buffers; `frames` is gentl::kInfinite or a count.
    virtual gentl::GC_ERROR start(Stream &stream, std::uint64_t frames, Lock &lock) = 0;
    // Stops and joins its thread (unlocking `lock` meanwhile); no buffer is
    // touched afterwards. `kill` drops a frame in progress.
    virtual void stop(Stream &stream, Lock &lock, bool kill) = 0;
    // What waiters on the stream's buffers wait on; the source notifies it
    // whenever it delivers or the link changes.
    virtual std::condition_variable &changed() = 0;
    virtual bool connected() const = 0;
    // A source may deliver a frame whose time has come from a consumer's
    // wait (saves a thread switch); next_due tells the wait when.
    virtual bool deliver_due(Stream &, Clock::time_point) { return false; }
    virtual Clock::time_point next_due(const Stream &) const { return Clock::time_point::max(); }
    // STREAM_INFO_* the core does not answer itself (statistics of the
    // link); GC_ERR_NOT_IMPLEMENTED when unknown.
    virtual gentl::GC_ERROR info(std::int32_t cmd, const InfoOut &) {
        return unknown_command("stream info command", cmd);
    }
    // Brings the link's counters into the stream's node map before a read.
    virtual void refresh(Stream &) {}
    // Features of its own in the stream's node map (its counters).
    virtual void add_nodes(NodeMap &) {}
    // STREAM_INFO_TLTYPE and BUFFER_INFO_TLTYPE.
    virtual const char *tl_type() const { return "Custom"; }
};

// An open device: its remote port and its streams.
class DeviceLink {
public:
    virtual ~DeviceLink() = default;
    virtual bool connected() const = 0;
    // Why it is not (for the error texts): "camera X does not answer: ...".
    virtual std::string lost_reason() const = 0;
    virtual gentl::GC_ERROR read(std::uint64_t address, void *data, std::size_t size,
                                 Lock &lock) = 0;
    virtual gentl::GC_ERROR write(std::uint64_t address, const void *data, std::size_t size,
                                  Lock &lock) = 0;
    virtual std::vector<PortUrl> urls(Lock &lock) = 0;
    // PORT_INFO_* of the remote port (vendor, model, TL type, endianness,
    // version, port name); the core answers ID, module and access itself.
    virtual gentl::GC_ERROR port_info(std::int32_t cmd, const InfoOut &out) = 0;
    virtual std::vector<std::string> stream_ids() const { return {"Stream0"}; }
    virtual gentl::GC_ERROR open_stream(const std::string &id, Lock &lock,
                                        std::unique_ptr<StreamSource> &out) = 0;
    // Gives the camera back (releases control); called once, streams closed.
    virtual void close(Lock &lock) = 0;
};

// A camera as an interface lists it.
class DeviceEntry {
public:
    virtual ~DeviceEntry() = default;
    virtual std::string id() const = 0;
    // DEVICE_INFO_*; GC_ERR_NOT_IMPLEMENTED when unknown.
    virtual gentl::GC_ERROR info(std::int32_t cmd, const InfoOut &out) const = 0;
    virtual gentl::GC_ERROR open(Grant wanted, Lock &lock, std::shared_ptr<DeviceLink> &out) = 0;
};

class Transport {
public:
    virtual ~Transport() = default;
    virtual const ProducerInfo &producer() const = 0;
    // GCInitLib / GCCloseLib: load configuration, open sockets, ...
    virtual gentl::GC_ERROR init() = 0;
    virtual void close() = 0;
    virtual std::vector<InterfaceEntry> interfaces(Lock &lock) = 0;
    // INTERFACE_INFO_* beyond ID, display name and TL type.
    virtual gentl::GC_ERROR interface_info(const InterfaceEntry &, std::int32_t cmd,
                                           const InfoOut &) {
        return unknown_command("interface info command", cmd);
    }
    // The cameras reachable through an interface now (discovery); a
    // timeout of 0 asks for what is known without waiting (opening it).
    virtual std::vector<std::shared_ptr<DeviceEntry>> devices(const InterfaceEntry &iface,
                                                              std::uint64_t timeout_ms,
                                                              Lock &lock) = 0;
    // Whether registering EVENT_MODULE is refused (GC_ERR_INVALID_PARAMETER).
    virtual bool refuses_module_events() const { return false; }
};

// Defined once by each producer: its transport, alive for the library's life.
Transport &transport();

}  // namespace vantix::gentl_core
