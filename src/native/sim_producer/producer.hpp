// The producer's modules as objects behind the opaque GenTL handles, and the
// library state they live in. Every entry point takes the library lock,
// turns its handles into objects through the registry (so a stale or forged
// handle is refused, never dereferenced) and works on them; only waits and
// frame rendering happen without the lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "camera.hpp"
#include "config.hpp"
#include "gentl.hpp"
#include "image_formula.hpp"
#include "node_map.hpp"

namespace vantix::sim {

using gentl::GC_ERROR;
using Lock = std::unique_lock<std::mutex>;

// What the producer says of itself: its TL info, the system module's nodes,
// and the port info of the modules that are not a camera.
constexpr const char *kTlId = "vantix-sim", *kTlVendor = "vantix",
                     *kTlModel = "vantix simulated cameras", *kTlVersion = "0.1.0",
                     *kTlType = "Mixed";

enum class Kind { system, interface, device, remote, stream, buffer, event };

struct Object : std::enable_shared_from_this<Object> {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;

    const Kind kind;
    void *handle = nullptr;
    // The port of the module, for the objects that are one.
    virtual NodeMap *port() { return nullptr; }
    virtual const char *module_name() const { return ""; }
    virtual std::string port_id() const { return ""; }
    // Brings computed registers up to date before a port read.
    virtual void refresh() {}
};

struct Interface;
struct Device;
struct Stream;
struct Event;

struct System final : Object {
    System() : Object(Kind::system), nodes("TLPort") {}
    NodeMap nodes;
    std::vector<std::string> interface_ids;  // as of the last update
    std::vector<std::shared_ptr<Interface>> open_interfaces;
    NodeMap *port() override { return &nodes; }
    const char *module_name() const override { return "TLSystem"; }
    std::string port_id() const override;
};

struct Interface final : Object {
    Interface() : Object(Kind::interface), nodes("InterfacePort") {}
    std::string id, tl_type;
    NodeMap nodes;
    std::vector<std::shared_ptr<Camera>> devices;  // as of the last update
    std::vector<std::shared_ptr<Device>> open_devices;
    NodeMap *port() override { return &nodes; }
    const char *module_name() const override { return "TLInterface"; }
    std::string port_id() const override { return id; }
};

// The camera's own register space, reached through DevGetPort.
struct RemotePort final : Object {
    RemotePort() : Object(Kind::remote) {}
    std::shared_ptr<Camera> camera;
    std::weak_ptr<Device> device;
    NodeMap *port() override { return &camera->nodes; }
    const char *module_name() const override { return "Device"; }
    std::string port_id() const override { return camera->config.id; }
};

struct Device final : Object {
    Device() : Object(Kind::device), nodes("DevicePort") {}
    std::shared_ptr<Camera> camera;
    std::uint64_t generation = 0;  // the camera's connection this handle belongs to
    std::weak_ptr<Interface> parent;
    Grant access = Grant::exclusive;
    NodeMap nodes;
    std::shared_ptr<RemotePort> remote;
    std::shared_ptr<Stream> stream;
    NodeMap *port() override { return &nodes; }
    const char *module_name() const override { return "TLDevice"; }
    std::string port_id() const override { return camera->config.id; }
    // False once the camera was lost (this handle then stays dead).
    bool connected() const { return !camera->lost && camera->generation == generation; }
};

// idle: announced, or handed to the consumer; input: queued for filling;
// output: filled, waiting for the consumer's EventGetData.
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
    Frame frame;
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

struct Stream final : Object {
    Stream() : Object(Kind::stream), nodes("StreamPort") {}
    std::weak_ptr<Device> device;
    std::shared_ptr<Camera> camera;
    std::uint64_t generation = 0;  // the camera connection it streams from
    std::string id = "Stream0";
    NodeMap nodes;
    std::vector<std::shared_ptr<Buffer>> buffers;  // announced, in order
    std::deque<Buffer *> input, output;
    std::shared_ptr<Event> new_buffer_event;
    bool acquiring = false;
    bool stop_requested = false, stop_kill = false;
    bool joining = false;           // a thread is waiting for the worker to end
    std::uint64_t frames_left = 0;  // frames DSStartAcquisition asked for
    std::thread worker;
    FrameRenderer renderer;
    std::uint64_t delivered = 0, underruns = 0, started = 0;
    // A frame rendered ahead into a buffer taken from the input pool. Once
    // `scheduled`, it is due at `due`, and whichever thread runs first after
    // that delivers it: the acquisition thread, or a consumer waiting in
    // EventGetData (one wake-up less between the frame's time and the
    // consumer).
    struct Pending {
        Buffer *buffer = nullptr;
        Frame frame;
        std::size_t filled = 0, payload = 0;
        bool scheduled = false;
        Clock::time_point taken, due;
    } pending;
    Clock::time_point last_delivery;
    bool deliver_due(Clock::time_point now);  // true when it delivered
    void return_pending();                    // its buffer back to the input pool
    NodeMap *port() override { return &nodes; }
    const char *module_name() const override { return "TLDataStream"; }
    std::string port_id() const override { return id; }
    void refresh() override;
    bool connected() const { return !camera->lost && camera->generation == generation; }
    ~Stream() override;
};

// Hands every buffer of `queue` back to the consumer, unfilled.
inline void discard(std::deque<Buffer *> &queue) {
    for (Buffer *b : queue) b->state = BufferState::idle;
    queue.clear();
}

struct Library {
    std::mutex mutex;
    bool initialised = false;
    SimulatorConfig config;
    std::vector<std::shared_ptr<Camera>> cameras;
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
};

Library &library();

// Closing: each releases its children first; may unlock `lock` to join an
// acquisition thread.
void close_system(Lock &lock);
void close_interface(Interface &iface, Lock &lock);
void close_device(Device &device, Lock &lock);
void close_stream(Stream &stream, Lock &lock);
void stop_acquisition(Stream &stream, Lock &lock, bool kill);

// The acquisition thread of a stream (acquisition.cpp).
void run_acquisition(std::shared_ptr<Stream> stream);

// The GenApi documents of the modules (module_nodes.cpp).
void build_system_nodes(System &system);
void build_interface_nodes(Interface &iface);
void build_device_nodes(Device &device);
void build_stream_nodes(Stream &stream);

// The producer file, for TL_INFO_NAME / PATHNAME.
std::string library_path();

struct InfoOut;
// Answers TL_INFO_* (GCGetInfo and TLGetInfo).
GC_ERROR tl_info(std::int32_t cmd, const InfoOut &out);
// INTERFACE_INFO_* of an interface (TLGetInterfaceInfo and IFGetInfo).
GC_ERROR interface_info(const std::string &id, const std::string &tl_type, std::int32_t cmd,
                        const InfoOut &out);
// DEVICE_INFO_* of a camera (IFGetDeviceInfo and DevGetInfo).
GC_ERROR device_info(const Camera &camera, std::int32_t cmd, const InfoOut &out);
// The cameras on an interface that the consumer can reach now.
std::vector<std::shared_ptr<Camera>> reachable_cameras(const std::string &interface_id);

}  // namespace vantix::sim
