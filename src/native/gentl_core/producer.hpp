// The producer's modules as objects behind the opaque GenTL handles, and the
// library state they live in. Every entry point takes the library lock,
// turns its handles into objects through the registry (so a stale or forged
// handle is refused, never dereferenced) and works on them; only waits,
// frame filling and what a transport does with the lock released happen
// without it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "gentl.hpp"
#include "node_map.hpp"
#include "transport.hpp"

namespace vantix::gentl_core {

using gentl::GC_ERROR;

enum class Kind { system, interface, device, remote, stream, buffer, event };

struct Object : std::enable_shared_from_this<Object> {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;

    const Kind kind;
    void *handle = nullptr;
    // The node map of the modules the producer describes itself.
    virtual NodeMap *port() { return nullptr; }
    virtual const char *module_name() const { return ""; }
    virtual std::string port_id() const { return ""; }
    // Brings computed registers up to date before a port read.
    virtual void refresh() {}
};

struct Interface;
struct Device;
class Stream;
struct Event;

struct System final : Object {
    System() : Object(Kind::system), nodes("TLPort") {}
    NodeMap nodes;
    std::vector<InterfaceEntry> interfaces;  // as of the last update
    std::vector<std::shared_ptr<Interface>> open_interfaces;
    NodeMap *port() override { return &nodes; }
    const char *module_name() const override { return "TLSystem"; }
    std::string port_id() const override;
};

struct Interface final : Object {
    Interface() : Object(Kind::interface), nodes("InterfacePort") {}
    InterfaceEntry entry;
    NodeMap nodes;
    std::vector<std::shared_ptr<DeviceEntry>> devices;  // as of the last update
    std::vector<std::shared_ptr<Device>> open_devices;
    NodeMap *port() override { return &nodes; }
    const char *module_name() const override { return "TLInterface"; }
    std::string port_id() const override { return entry.id; }
};

// The camera's own register space, reached through DevGetPort; its reads
// and writes go to the camera through the device's link.
struct RemotePort final : Object {
    RemotePort() : Object(Kind::remote) {}
    std::string id;
    std::shared_ptr<DeviceLink> link;
    std::weak_ptr<Device> device;
    const char *module_name() const override { return "Device"; }
    std::string port_id() const override { return id; }
};

struct Device final : Object {
    Device() : Object(Kind::device), nodes("DevicePort") {}
    std::string id;
    std::shared_ptr<DeviceEntry> entry;
    std::shared_ptr<DeviceLink> link;
    bool link_closed = false;  // DeviceLink::close was called
    std::weak_ptr<Interface> parent;
    Grant access = Grant::exclusive;
    NodeMap nodes;
    std::shared_ptr<RemotePort> remote;
    std::vector<std::shared_ptr<Stream>> streams;  // open ones
    NodeMap *port() override { return &nodes; }
    const char *module_name() const override { return "TLDevice"; }
    std::string port_id() const override { return id; }
    // False once the camera was lost (this handle then stays dead).
    bool connected() const { return link->connected(); }
};

// idle: announced, or handed to the consumer; input: queued for filling;
// filling: taken by the stream's source; output: filled, waiting for the
// consumer's EventGetData.
enum class BufferState { idle, input, filling, output };

struct Buffer final : Object {
    Buffer() : Object(Kind::buffer) {}
    const Stream *stream = nullptr;  // only compared, never followed
    std::uint8_t *memory = nullptr;
    std::size_t size = 0;
    void *user = nullptr;
    bool owned = false;  // allocated by the producer
    BufferState state = BufferState::idle;
    bool new_data = false;
    // What the last frame put in it.
    FrameInfo frame;
    std::size_t filled = 0;
    bool incomplete = false;
    ~Buffer() override;
};

struct Event final : Object {
    Event() : Object(Kind::event) {}
    std::int32_t type = gentl::EVENT_NEW_BUFFER;
    std::weak_ptr<Stream> stream;
    std::uint64_t fired = 0;
    int kills = 0;  // waits to abort
    bool closed = false;
};

class Stream final : public Object {
public:
    Stream() : Object(Kind::stream), nodes("StreamPort") {}

    // For the stream's source, under the library lock: the first buffer of
    // the input pool, now being filled (nullptr when the pool is empty);
    // a buffer taken but not filled, back to the front of the pool; a
    // filled one to the output queue, where EventGetData finds it.
    Buffer *take_input();
    void give_back(Buffer *buffer);
    void deliver(Buffer *buffer, const FrameInfo &frame, std::size_t filled, bool incomplete);
    bool has_input() const { return !input.empty(); }
    void count_underrun() { ++underruns; }  // a frame came with no buffer to hold it
    std::shared_ptr<Stream> self() { return std::static_pointer_cast<Stream>(shared_from_this()); }

    std::weak_ptr<Device> device;
    std::shared_ptr<DeviceLink> link;
    std::unique_ptr<StreamSource> source;
    std::string id;
    NodeMap nodes;
    std::vector<std::shared_ptr<Buffer>> buffers;  // announced, in order
    std::deque<Buffer *> input, output;
    std::shared_ptr<Event> new_buffer_event;
    bool acquiring = false;
    bool joining = false;  // a thread is waiting for the source to stop
    std::uint64_t delivered = 0, underruns = 0, started = 0;

    NodeMap *port() override { return &nodes; }
    const char *module_name() const override { return "TLDataStream"; }
    std::string port_id() const override { return id; }
    void refresh() override;
    bool connected() const { return source->connected(); }
    std::condition_variable &changed() { return source->changed(); }
};

// Hands every buffer of `queue` back to the consumer, unfilled.
inline void discard(std::deque<Buffer *> &queue) {
    for (Buffer *b : queue) b->state = BufferState::idle;
    queue.clear();
}

struct Library {
    std::mutex mutex;
    bool initialised = false;
    std::shared_ptr<System> system;  // while open
    std::unordered_map<void *, std::shared_ptr<Object>> objects;
    std::uintptr_t next_handle = 0x51A0000;

    // Registers an object and gives it a handle never used before.
    void *add(std::shared_ptr<Object> object);
    template <typename T>
    std::shared_ptr<T> find(void *handle, Kind kind) {
        auto it = objects.find(handle);
        if (it == objects.end() || !handle || it->second->kind != kind) return nullptr;
        return std::static_pointer_cast<T>(it->second);
    }
    std::shared_ptr<Object> find_any(void *handle);
    // Still registered: not closed while the lock was released.
    bool holds(const Object &object) const {
        auto it = objects.find(object.handle);
        return it != objects.end() && it->second.get() == &object;
    }
};

Library &library();

// Closing: each releases its children first; may unlock `lock` to stop a
// stream's source or close a link.
void close_system(Lock &lock);
void close_interface(Interface &iface, Lock &lock);
void close_device(Device &device, Lock &lock);
void close_stream(Stream &stream, Lock &lock);
void stop_acquisition(Stream &stream, Lock &lock, bool kill);

// The GenApi documents of the modules (module_nodes.cpp).
void build_system_nodes(System &system);
void build_interface_nodes(Interface &iface);
void build_device_nodes(Device &device);
void build_stream_nodes(Stream &stream);

// The producer file, for TL_INFO_NAME / PATHNAME.
std::string library_path();

// Answers TL_INFO_* (GCGetInfo and TLGetInfo).
GC_ERROR tl_info(std::int32_t cmd, const InfoOut &out);
// INTERFACE_INFO_* of an interface (TLGetInterfaceInfo and IFGetInfo).
GC_ERROR interface_info(const InterfaceEntry &entry, std::int32_t cmd, const InfoOut &out);
// A text DEVICE_INFO_* of a camera; empty when it has none.
std::string device_text(const DeviceEntry &entry, std::int32_t cmd);

// "one URL (0)", "3 URLs (0 to 2)": what an index may be.
std::string index_range(std::size_t count, const char *noun);

}  // namespace vantix::gentl_core
