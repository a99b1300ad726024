// The device module (Dev*): an open camera, its remote port and its data
// streams.
#include <algorithm>

#include "entry.hpp"
#include "info.hpp"

using namespace vantix::gentl_core;
using namespace gentl;

GENTL_EXPORT GC_ERROR DevGetPort(DEV_HANDLE hDevice, PORT_HANDLE *phRemoteDevice) {
    return with<Device>(hDevice, Kind::device, [&](Device &device, Lock &) -> GC_ERROR {
        if (!phRemoteDevice) return null_argument("phRemoteDevice");
        *phRemoteDevice = device.remote->handle;
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DevGetNumDataStreams(DEV_HANDLE hDevice, std::uint32_t *count) {
    return with<Device>(hDevice, Kind::device, [&](Device &device, Lock &) -> GC_ERROR {
        if (!count) return null_argument("piNumDataStreams");
        *count = static_cast<std::uint32_t>(device.link->stream_ids().size());
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DevGetDataStreamID(DEV_HANDLE hDevice, std::uint32_t index, char *id,
                                         std::size_t *size) {
    return with<Device>(hDevice, Kind::device, [&](Device &device, Lock &) -> GC_ERROR {
        const std::vector<std::string> ids = device.link->stream_ids();
        if (index >= ids.size())
            return fail(GC_ERR_INVALID_INDEX, "data stream index %u: the camera has %s", index,
                        index_range(ids.size(), "stream").c_str());
        return copy_text(ids[index], id, size);
    });
}

GENTL_EXPORT GC_ERROR DevOpenDataStream(DEV_HANDLE hDevice, const char *streamId,
                                        DS_HANDLE *phDataStream) {
    return with<Device>(hDevice, Kind::device, [&](Device &device, Lock &lock) -> GC_ERROR {
        if (!phDataStream) return null_argument("phDataStream");
        const std::vector<std::string> ids = device.link->stream_ids();
        if (!streamId || std::find(ids.begin(), ids.end(), streamId) == ids.end()) {
            std::string known;
            for (const std::string &id : ids) known += (known.empty() ? "" : ", ") + id;
            return fail(GC_ERR_INVALID_ID, "there is no data stream \"%s\" (the camera has %s)",
                        streamId ? streamId : "(NULL)", known.c_str());
        }
        const std::string id = streamId;
        auto is_open = [&] {
            for (const auto &open : device.streams)
                if (open->id == id) return true;
            return false;
        };
        if (is_open())
            return fail(GC_ERR_RESOURCE_IN_USE, "data stream %s is already open", id.c_str());
        if (!device.connected()) return fail(GC_ERR_IO, "%s", device.link->lost_reason().c_str());
        auto stream = std::make_shared<Stream>();
        if (const GC_ERROR e = device.link->open_stream(id, lock, stream->source)) return e;
        if (!stream->source)
            return fail(GC_ERR_ERROR, "the transport opened data stream %s without a source",
                        id.c_str());
        // The lock may have been released meanwhile.
        if (!library().holds(device))
            return fail(GC_ERR_ABORT, "the device was closed while its stream opened");
        if (is_open())
            return fail(GC_ERR_RESOURCE_IN_USE, "data stream %s is already open", id.c_str());
        stream->device = std::static_pointer_cast<Device>(device.shared_from_this());
        stream->link = device.link;
        stream->id = id;
        build_stream_nodes(*stream);
        device.streams.push_back(stream);
        *phDataStream = library().add(stream);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DevGetInfo(DEV_HANDLE hDevice, std::int32_t cmd, INFO_DATATYPE *type,
                                 void *buffer, std::size_t *size) {
    return with<Device>(hDevice, Kind::device, [&](Device &device, Lock &) {
        return device.entry->info(cmd, InfoOut{type, buffer, size});
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
