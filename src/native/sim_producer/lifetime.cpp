// Closing modules: each releases what it opened first, so no handle outlives
// its parent and no acquisition thread outlives its stream.
#include "entry.hpp"

namespace vantix::sim {

namespace {

void forget(Object &object) { library().objects.erase(object.handle); }

}  // namespace

void stop_acquisition(Stream &stream, Lock &lock, bool kill) {
    Camera &camera = *stream.camera;
    if (stream.joining) {  // another thread is stopping it: wait for that
        camera.changed.wait(lock, [&] { return !stream.joining; });
        return;
    }
    if (!stream.acquiring) return;
    stream.stop_requested = true;
    stream.stop_kill = kill;
    stream.joining = true;
    camera.changed.notify_all();
    std::thread worker = std::move(stream.worker);
    lock.unlock();
    if (worker.joinable()) worker.join();
    lock.lock();
    stream.joining = false;
    stream.stop_requested = false;
    stream.acquiring = false;
    camera.changed.notify_all();
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
    stream.camera->changed.notify_all();
    if (std::shared_ptr<Device> device = stream.device.lock()) device->stream.reset();
    forget(stream);
}

void close_device(Device &device, Lock &lock) {
    if (std::shared_ptr<Stream> stream = device.stream) close_stream(*stream, lock);
    if (device.remote) forget(*device.remote);
    device.remote.reset();
    if (device.connected()) device.camera->open = false;
    std::shared_ptr<Interface> parent = device.parent.lock();
    forget(device);
    if (parent) {
        auto &list = parent->open_devices;
        for (auto it = list.begin(); it != list.end(); ++it)
            if (it->get() == &device) {
                list.erase(it);
                break;
            }
    }
}

void close_interface(Interface &iface, Lock &lock) {
    while (!iface.open_devices.empty()) {
        std::shared_ptr<Device> device = iface.open_devices.back();
        close_device(*device, lock);
    }
    forget(iface);
    if (System *system = library().system.get()) {
        auto &list = system->open_interfaces;
        for (auto it = list.begin(); it != list.end(); ++it)
            if (it->get() == &iface) {
                list.erase(it);
                break;
            }
    }
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

}  // namespace vantix::sim
