// The device module (Dev*): an open camera, its remote port and its one
// data stream.
#include "entry.hpp"
#include "info.hpp"

using namespace vantix::sim;
using namespace gentl;

GENTL_EXPORT GC_ERROR DevGetPort(DEV_HANDLE hDevice, PORT_HANDLE *phRemoteDevice) {
    return with<Device>(hDevice, Kind::device, [&](Device &device, Lock &) -> GC_ERROR {
        if (!phRemoteDevice) return null_argument("phRemoteDevice");
        *phRemoteDevice = device.remote->handle;
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DevGetNumDataStreams(DEV_HANDLE hDevice, std::uint32_t *count) {
    return with<Device>(hDevice, Kind::device, [&](Device &, Lock &) -> GC_ERROR {
        if (!count) return null_argument("piNumDataStreams");
        *count = 1;
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DevGetDataStreamID(DEV_HANDLE hDevice, std::uint32_t index, char *id,
                                         std::size_t *size) {
    return with<Device>(hDevice, Kind::device, [&](Device &, Lock &) -> GC_ERROR {
        if (index != 0)
            return fail(GC_ERR_INVALID_INDEX, "data stream index %u: the camera has one stream (0)",
                        index);
        return copy_text("Stream0", id, size);
    });
}

GENTL_EXPORT GC_ERROR DevOpenDataStream(DEV_HANDLE hDevice, const char *streamId,
                                        DS_HANDLE *phDataStream) {
    return with<Device>(hDevice, Kind::device, [&](Device &device, Lock &) -> GC_ERROR {
        if (!phDataStream) return null_argument("phDataStream");
        if (!streamId || std::string(streamId) != "Stream0")
            return fail(GC_ERR_INVALID_ID,
                        "there is no data stream \"%s\" (the camera has Stream0)",
                        streamId ? streamId : "(NULL)");
        if (device.stream)
            return fail(GC_ERR_RESOURCE_IN_USE, "data stream Stream0 is already open");
        if (!device.connected())
            return fail(GC_ERR_IO, "camera %s does not answer: it was lost",
                        device.camera->config.serial.c_str());
        auto stream = std::make_shared<Stream>();
        stream->device = std::static_pointer_cast<Device>(device.shared_from_this());
        stream->camera = device.camera;
        stream->generation = device.generation;
        build_stream_nodes(*stream);
        device.stream = stream;
        *phDataStream = library().add(stream);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DevGetInfo(DEV_HANDLE hDevice, std::int32_t cmd, INFO_DATATYPE *type,
                                 void *buffer, std::size_t *size) {
    return with<Device>(hDevice, Kind::device, [&](Device &device, Lock &) {
        return device_info(*device.camera, cmd, InfoOut{type, buffer, size});
    });
}

GENTL_EXPORT GC_ERROR DevClose(DEV_HANDLE hDevice) {
    return with<Device>(hDevice, Kind::device, [&](Device &device, Lock &lock) {
        close_device(device, lock);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DevGetParentIF(DEV_HANDLE hDevice, IF_HANDLE *phIface) {
    return with<Device>(hDevice, Kind::device, [&](Device &device, Lock &) -> GC_ERROR {
        if (!phIface) return null_argument("phIface");
        std::shared_ptr<Interface> parent = device.parent.lock();
        if (!parent) return fail(GC_ERR_NOT_AVAILABLE, "the interface of this device is closed");
        *phIface = parent->handle;
        return GC_ERR_SUCCESS;
    });
}
