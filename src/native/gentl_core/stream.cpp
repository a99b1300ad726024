// The data stream module (DS*): announced buffers, the input pool and output
// queue that the stream's source takes from and delivers to, starting and
// stopping that source, and buffer info.
#include <algorithm>

#include "entry.hpp"
#include "info.hpp"

namespace vantix::gentl_core {

using namespace gentl;

namespace {

constexpr std::size_t kMaxBuffers = 1024;
constexpr std::size_t kMaxAllocation = std::size_t(1) << 30;

std::shared_ptr<Buffer> buffer_of(Stream &stream, void *handle) {
    std::shared_ptr<Buffer> buffer = library().find<Buffer>(handle, Kind::buffer);
    return buffer && buffer->stream == &stream ? buffer : nullptr;
}

GC_ERROR not_a_buffer(const Stream &stream, void *handle) {
    return fail(GC_ERR_INVALID_HANDLE, "%p is not a buffer announced on data stream %s", handle,
                stream.id.c_str());
}

GC_ERROR announce(Stream &stream, std::uint8_t *memory, std::size_t size, bool owned, void *user,
                  BUFFER_HANDLE *phBuffer) {
    if (stream.buffers.size() >= kMaxBuffers)
        return fail(GC_ERR_RESOURCE_EXHAUSTED, "data stream %s already has %zu buffers",
                    stream.id.c_str(), kMaxBuffers);
    auto buffer = std::make_shared<Buffer>();
    buffer->stream = &stream;
    buffer->memory = memory;
    buffer->size = size;
    buffer->owned = owned;
    buffer->user = user;
    stream.buffers.push_back(buffer);
    *phBuffer = library().add(buffer);
    return GC_ERR_SUCCESS;
}

GC_ERROR check_size(const Stream &stream, std::size_t size) {
    const std::size_t payload = stream.source->payload_size();
    if (size == 0)
        return fail(GC_ERR_INVALID_PARAMETER, "a buffer of 0 bytes cannot hold an image");
    if (payload && size < payload)
        return fail(GC_ERR_BUFFER_TOO_SMALL,
                    "a buffer of %zu bytes is smaller than the payload (%zu bytes)", size, payload);
    return GC_ERR_SUCCESS;
}

GC_ERROR buffer_info(const Stream &stream, const Buffer &b, std::int32_t cmd, const InfoOut &out) {
    const FrameInfo &f = b.frame;
    auto frame_value = [&](std::size_t v) { return out.sizet(f.has_image ? v : 0); };
    switch (cmd) {
        case BUFFER_INFO_BASE:
            return out.value<void *>(b.memory, INFO_DATATYPE_PTR);
        case BUFFER_INFO_SIZE:
            return out.sizet(b.size);
        case BUFFER_INFO_USER_PTR:
            return out.value<void *>(b.user, INFO_DATATYPE_PTR);
        case BUFFER_INFO_TIMESTAMP:
            return out.u64(f.timestamp);
        case BUFFER_INFO_TIMESTAMP_NS:
            return out.u64(f.timestamp_ns);
        case BUFFER_INFO_NEW_DATA:
            return out.boolean(b.new_data);
        case BUFFER_INFO_IS_QUEUED:
            return out.boolean(b.state == BufferState::input || b.state == BufferState::output);
        case BUFFER_INFO_IS_ACQUIRING:
            return out.boolean(b.state == BufferState::filling);
        case BUFFER_INFO_IS_INCOMPLETE:
            return out.boolean(b.incomplete);
        case BUFFER_INFO_TLTYPE:
            return out.text(stream.source->tl_type());
        case BUFFER_INFO_SIZE_FILLED:
        case BUFFER_INFO_DATA_SIZE:
            return out.sizet(b.filled);
        case BUFFER_INFO_WIDTH:
            return frame_value(f.width);
        case BUFFER_INFO_HEIGHT:
            return frame_value(f.height);
        case BUFFER_INFO_XOFFSET:
            return frame_value(f.offset_x);
        case BUFFER_INFO_YOFFSET:
            return frame_value(f.offset_y);
        case BUFFER_INFO_XPADDING:
            return frame_value(f.padding_x);
        case BUFFER_INFO_YPADDING:
            return frame_value(f.padding_y);
        case BUFFER_INFO_IMAGEOFFSET:
            return out.sizet(0);
        case BUFFER_INFO_FRAMEID:
            return out.u64(f.id);
        case BUFFER_INFO_IMAGEPRESENT:
            return out.boolean(f.has_image);
        case BUFFER_INFO_PAYLOADTYPE:
            return out.sizet(f.payload_type);
        case BUFFER_INFO_PIXELFORMAT:
            if (!f.has_image) return fail(GC_ERR_NO_DATA, "the buffer holds no frame yet");
            return out.u64(f.pixel_format);
        case BUFFER_INFO_PIXELFORMAT_NAMESPACE:
            return out.u64(kPixelFormatNamespacePfnc32);
        case BUFFER_INFO_DELIVERED_IMAGEHEIGHT:
            return frame_value(f.delivered_height);
        case BUFFER_INFO_DELIVERED_CHUNKPAYLOADSIZE:
            return out.sizet(0);
        case BUFFER_INFO_PIXEL_ENDIANNESS:
            return out.value<std::int32_t>(kPixelEndiannessLittle, INFO_DATATYPE_INT32);
        case BUFFER_INFO_DATA_LARGER_THAN_BUFFER:
            return out.boolean(f.has_image && f.data_size > b.size);
        case BUFFER_INFO_CONTAINS_CHUNKDATA:
        case BUFFER_INFO_IS_COMPOSITE:
            return out.boolean(false);
        case BUFFER_INFO_CHUNKLAYOUTID:
        case BUFFER_INFO_FILENAME:
            return fail(GC_ERR_NOT_AVAILABLE, "the buffers carry no chunks or files");
        default:
            return unknown_command("buffer info command", cmd);
    }
}

}  // namespace

Buffer::~Buffer() {
    if (owned) delete[] memory;
}

Buffer *Stream::take_input() {
    if (input.empty()) return nullptr;
    Buffer *buffer = input.front();
    input.pop_front();
    buffer->state = BufferState::filling;
    return buffer;
}

void Stream::give_back(Buffer *buffer) {
    buffer->state = BufferState::input;
    input.push_front(buffer);
}

void Stream::deliver(Buffer *buffer, const FrameInfo &frame, std::size_t filled, bool incomplete) {
    buffer->frame = frame;
    buffer->filled = filled;
    buffer->incomplete = incomplete;
    buffer->new_data = true;
    buffer->state = BufferState::output;
    output.push_back(buffer);
    ++delivered;
    if (new_buffer_event) ++new_buffer_event->fired;
    changed().notify_all();
}

void Stream::refresh() {
    source->refresh(*this);
    RegisterMap &r = nodes.registers();
    r.set_int(r.find("StreamAnnouncedBufferCountReg"), static_cast<std::int64_t>(buffers.size()));
    r.set_int(r.find("StreamDeliveredFrameCountReg"), static_cast<std::int64_t>(delivered));
    r.set_int(r.find("StreamLostFrameCountReg"), static_cast<std::int64_t>(underruns));
    r.set_int(r.find("StreamIsGrabbingReg"), acquiring ? 1 : 0);
}

}  // namespace vantix::gentl_core

using namespace vantix::gentl_core;

GENTL_EXPORT GC_ERROR DSAnnounceBuffer(DS_HANDLE hDataStream, void *pBuffer, std::size_t iSize,
                                       void *pPrivate, BUFFER_HANDLE *phBuffer) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        if (!pBuffer) return null_argument("pBuffer");
        if (!phBuffer) return null_argument("phBuffer");
        if (const GC_ERROR e = check_size(stream, iSize)) return e;
        for (const auto &b : stream.buffers)
            if (b->memory == pBuffer)
                return fail(GC_ERR_RESOURCE_IN_USE, "this memory is already announced");
        return announce(stream, static_cast<std::uint8_t *>(pBuffer), iSize, false, pPrivate,
                        phBuffer);
    });
}

GENTL_EXPORT GC_ERROR DSAllocAndAnnounceBuffer(DS_HANDLE hDataStream, std::size_t iSize,
                                               void *pPrivate, BUFFER_HANDLE *phBuffer) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        if (!phBuffer) return null_argument("phBuffer");
        if (const GC_ERROR e = check_size(stream, iSize)) return e;
        if (iSize > kMaxAllocation)
            return fail(GC_ERR_INVALID_PARAMETER,
                        "%zu bytes is more than %s allocates for a buffer", iSize, producer_noun());
        auto *memory = new (std::nothrow) std::uint8_t[iSize];
        if (!memory)
            return fail(GC_ERR_OUT_OF_MEMORY, "cannot allocate a buffer of %zu bytes", iSize);
        const GC_ERROR e = announce(stream, memory, iSize, true, pPrivate, phBuffer);
        if (e) delete[] memory;
        return e;
    });
}

GENTL_EXPORT GC_ERROR DSRevokeBuffer(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer, void **ppBuffer,
                                     void **ppPrivate) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        std::shared_ptr<Buffer> buffer = buffer_of(stream, hBuffer);
        if (!buffer) return not_a_buffer(stream, hBuffer);
        if (buffer->state != BufferState::idle)
            return fail(GC_ERR_BUSY,
                        "the buffer is still queued or being filled: flush the queues first");
        if (ppBuffer) *ppBuffer = buffer->owned ? nullptr : buffer->memory;
        if (ppPrivate) *ppPrivate = buffer->user;
        auto &all = stream.buffers;
        all.erase(std::find(all.begin(), all.end(), buffer));
        library().objects.erase(buffer->handle);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DSQueueBuffer(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        std::shared_ptr<Buffer> buffer = buffer_of(stream, hBuffer);
        if (!buffer) return not_a_buffer(stream, hBuffer);
        if (buffer->state != BufferState::idle)
            return fail(GC_ERR_RESOURCE_IN_USE, "the buffer is already queued");
        buffer->state = BufferState::input;
        buffer->new_data = false;
        stream.input.push_back(buffer.get());
        stream.changed().notify_all();
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DSFlushQueue(DS_HANDLE hDataStream, std::int32_t operation) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        switch (operation) {
            case ACQ_QUEUE_INPUT_TO_OUTPUT:
                for (Buffer *b : stream.input) {
                    b->state = BufferState::output;
                    stream.output.push_back(b);
                    if (stream.new_buffer_event) ++stream.new_buffer_event->fired;
                }
                stream.input.clear();
                break;
            case ACQ_QUEUE_OUTPUT_DISCARD:
                discard(stream.output);
                break;
            case ACQ_QUEUE_ALL_TO_INPUT:
                discard(stream.output);
                [[fallthrough]];
            case ACQ_QUEUE_UNQUEUED_TO_INPUT:
                for (const auto &b : stream.buffers) {
                    if (b->state != BufferState::idle) continue;
                    b->state = BufferState::input;
                    stream.input.push_back(b.get());
                }
                break;
            case ACQ_QUEUE_ALL_DISCARD:
                discard(stream.input);
                discard(stream.output);
                break;
            default:
                return fail(GC_ERR_INVALID_PARAMETER, "queue operation %d is not known", operation);
        }
        stream.changed().notify_all();
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DSStartAcquisition(DS_HANDLE hDataStream, std::int32_t flags,
                                         std::uint64_t count) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &lock) -> GC_ERROR {
        if (flags != 0)
            return fail(GC_ERR_INVALID_PARAMETER, "start flags %d are not known", flags);
        if (count == 0) return fail(GC_ERR_INVALID_PARAMETER, "an acquisition of 0 frames");
        if (stream.acquiring || stream.joining)
            return fail(GC_ERR_RESOURCE_IN_USE,
                        "the acquisition of data stream %s is already running", stream.id.c_str());
        if (!stream.connected()) return fail(GC_ERR_IO, "%s", stream.link->lost_reason().c_str());
        if (stream.buffers.empty())
            return fail(GC_ERR_INVALID_BUFFER,
                        "announce at least one buffer before starting the acquisition");
        if (const GC_ERROR e = stream.source->start(stream, count, lock)) return e;
        stream.acquiring = true;
        ++stream.started;
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DSStopAcquisition(DS_HANDLE hDataStream, std::int32_t flags) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &lock) -> GC_ERROR {
        if (flags != ACQ_STOP_FLAGS_DEFAULT && flags != ACQ_STOP_FLAGS_KILL)
            return fail(GC_ERR_INVALID_PARAMETER, "stop flags %d are not known", flags);
        stop_acquisition(stream, lock, flags == ACQ_STOP_FLAGS_KILL);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DSGetInfo(DS_HANDLE hDataStream, std::int32_t cmd, INFO_DATATYPE *type,
                                void *buffer, std::size_t *size) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &s, Lock &) -> GC_ERROR {
        const InfoOut out{type, buffer, size};
        auto count = [&](BufferState state) {
            return static_cast<std::size_t>(
                std::count_if(s.buffers.begin(), s.buffers.end(),
                              [&](const auto &b) { return b->state == state; }));
        };
        switch (cmd) {
            case STREAM_INFO_ID:
                return out.text(s.id);
            case STREAM_INFO_NUM_DELIVERED:
                return out.u64(s.delivered);
            case STREAM_INFO_NUM_UNDERRUN:
                return out.u64(s.underruns);
            case STREAM_INFO_NUM_ANNOUNCED:
                return out.sizet(s.buffers.size());
            case STREAM_INFO_NUM_QUEUED:
                return out.sizet(count(BufferState::input));
            case STREAM_INFO_NUM_AWAIT_DELIVERY:
                return out.sizet(count(BufferState::output));
            case STREAM_INFO_NUM_STARTED:
                return out.u64(s.started);
            case STREAM_INFO_PAYLOAD_SIZE:
                if (!s.source->payload_size())
                    return fail(GC_ERR_NOT_AVAILABLE, "the camera's PayloadSize feature tells");
                return out.sizet(s.source->payload_size());
            case STREAM_INFO_IS_GRABBING:
                return out.boolean(s.acquiring);
            case STREAM_INFO_DEFINES_PAYLOADSIZE:
                return out.boolean(s.source->payload_size() != 0);
            case STREAM_INFO_TLTYPE:
                return out.text(s.source->tl_type());
            case STREAM_INFO_NUM_CHUNKS_MAX:
                return out.sizet(0);
            case STREAM_INFO_BUF_ANNOUNCE_MIN:
            case STREAM_INFO_BUF_ALIGNMENT:
                return out.sizet(1);
            case STREAM_INFO_FLOW_TABLE:
            case STREAM_INFO_GENDC_PREFETCH_DESCRIPTOR:
                return fail(GC_ERR_NOT_AVAILABLE, "the streams deliver plain images, no GenDC");
            default:
                return s.source->info(cmd, out);
        }
    });
}

GENTL_EXPORT GC_ERROR DSGetBufferID(DS_HANDLE hDataStream, std::uint32_t index,
                                    BUFFER_HANDLE *phBuffer) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        if (!phBuffer) return null_argument("phBuffer");
        if (index >= stream.buffers.size())
            return fail(GC_ERR_INVALID_INDEX, "buffer index %u is out of range (%zu announced)",
                        index, stream.buffers.size());
        *phBuffer = stream.buffers[index]->handle;
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DSClose(DS_HANDLE hDataStream) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &lock) {
        close_stream(stream, lock);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DSGetBufferInfo(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                                      std::int32_t cmd, INFO_DATATYPE *type, void *buffer,
                                      std::size_t *size) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        std::shared_ptr<Buffer> b = buffer_of(stream, hBuffer);
        if (!b) return not_a_buffer(stream, hBuffer);
        return buffer_info(stream, *b, cmd, InfoOut{type, buffer, size});
    });
}

GENTL_EXPORT GC_ERROR DSGetBufferInfoStacked(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                                             DS_BUFFER_INFO_STACKED *items, std::size_t count) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        std::shared_ptr<Buffer> b = buffer_of(stream, hBuffer);
        if (!b) return not_a_buffer(stream, hBuffer);
        if (!items && count) return null_argument("pInfoStacked");
        GC_ERROR first = GC_ERR_SUCCESS;
        for (std::size_t i = 0; i < count; ++i) {
            DS_BUFFER_INFO_STACKED &item = items[i];
            INFO_DATATYPE item_type = 0;
            std::size_t item_size = item.iSize;
            const GC_ERROR e = buffer_info(stream, *b, item.iInfoCmd,
                                           InfoOut{&item_type, item.pBuffer, &item_size});
            item.iType = item_type;
            item.iSize = item_size;
            item.iResult = e;
            if (e && !first) first = e;
        }
        return first;
    });
}

GENTL_EXPORT GC_ERROR DSGetBufferChunkData(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                                           SINGLE_CHUNK_DATA *, std::size_t *count) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        if (!buffer_of(stream, hBuffer)) return not_a_buffer(stream, hBuffer);
        if (!count) return null_argument("piNumChunks");
        *count = 0;
        return fail(GC_ERR_NO_DATA, "the buffers carry no chunk data");
    });
}

GENTL_EXPORT GC_ERROR DSGetParentDev(DS_HANDLE hDataStream, DEV_HANDLE *phDevice) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        if (!phDevice) return null_argument("phDevice");
        std::shared_ptr<Device> device = stream.device.lock();
        if (!device) return fail(GC_ERR_NOT_AVAILABLE, "the device of this stream is closed");
        *phDevice = device->handle;
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DSGetNumBufferParts(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                                          std::uint32_t *count) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        if (!buffer_of(stream, hBuffer)) return not_a_buffer(stream, hBuffer);
        if (!count) return null_argument("piNumParts");
        *count = 0;  // an image payload, not multi-part
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR DSGetBufferPartInfo(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                                          std::uint32_t part, std::int32_t, INFO_DATATYPE *, void *,
                                          std::size_t *) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        if (!buffer_of(stream, hBuffer)) return not_a_buffer(stream, hBuffer);
        return fail(GC_ERR_INVALID_INDEX, "part %u: the buffers are single images without parts",
                    part);
    });
}

GENTL_EXPORT GC_ERROR DSGetBufferPartInfoStacked(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                                                 DS_BUFFER_PART_INFO_STACKED *items,
                                                 std::size_t count) {
    return with<Stream>(hDataStream, Kind::stream, [&](Stream &stream, Lock &) -> GC_ERROR {
        if (!buffer_of(stream, hBuffer)) return not_a_buffer(stream, hBuffer);
        if (!items && count) return null_argument("pInfoStacked");
        for (std::size_t i = 0; i < count; ++i) items[i].iResult = GC_ERR_INVALID_INDEX;
        if (!count) return GC_ERR_SUCCESS;
        return fail(GC_ERR_INVALID_INDEX, "the buffers are single images without parts");
    });
}
