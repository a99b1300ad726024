// Closing modules: each releases what it opened first, so no handle outlives
// its parent and no stream's source runs on after its stream closed.
#include "entry.hpp"

namespace vantix::gentl_core {

namespace {

void forget(Object &object) { library().objects.erase(object.handle); }

template <typename T>
void drop(std::vector<std::shared_ptr<T>> &list, const T &item) {
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->get() == &item) {
            list.erase(it);
            return;
        }
}

}  // namespace

void stop_acquisition(Stream &stream, Lock &lock, bool kill) {
    if (stream.joining) {  // another thread is stopping it: wait for that
        stream.changed().wait(lock, [&] { return !stream.joining; });
        return;
    }
    if (!stream.acquiring) return;
    stream.joining = true;
    stream.source->stop(stream, lock, kill);
    stream.joining = false;
    stream.acquiring = false;
    stream.changed().notify_all();
}

void close_stream(Stream &stream, Lock &lock) {
    stop_acquisition(stream, lock, true);
    if (stream.new_buffer_event) {
        stream.new_buffer_event->closed = true;
        forget(*stream.new_buffer_event);
        stream.new_buffer_event.reset();
    }
    for (const auto &buffer : stream.buffers) forget(*buffer);
    stream.buffers.clear();
    stream.input.clear();
    stream.output.clear();
    stream.changed().notify_all();
    if (std::shared_ptr<Device> device = stream.device.lock()) drop(device->streams, stream);
    forget(stream);
}

void close_device(Device &device, Lock &lock) {
    while (!device.streams.empty()) {
        std::shared_ptr<Stream> stream = device.streams.back();
        close_stream(*stream, lock);
        drop(device.streams, *stream);  // closed by another thread meanwhile
    }
    if (device.remote) forget(*device.remote);
    device.remote.reset();
    std::shared_ptr<Interface> parent = device.parent.lock();
    forget(device);
    if (parent) drop(parent->open_devices, device);
    // Last, as it may release the lock: the device is gone from every list.
    if (!device.link_closed) {
        device.link_closed = true;
        device.link->close(lock);
    }
}

void close_interface(Interface &iface, Lock &lock) {
    while (!iface.open_devices.empty()) {
        std::shared_ptr<Device> device = iface.open_devices.back();
        close_device(*device, lock);
    }
    forget(iface);
    if (System *system = library().system.get()) drop(system->open_interfaces, iface);
}

void close_system(Lock &lock) {
    std::shared_ptr<System> system = library().system;
    if (!system) return;
    while (!system->open_interfaces.empty()) {
        std::shared_ptr<Interface> iface = system->open_interfaces.back();
        close_interface(*iface, lock);
    }
    forget(*system);
    library().system.reset();
}

}  // namespace vantix::gentl_core
