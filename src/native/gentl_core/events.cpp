// Events: the new-buffer event of a data stream (the output queue seen from
// the consumer), its waits with timeout, kill and flush; and the module
// events, which the producers do not raise.
#include "entry.hpp"
#include "info.hpp"

namespace vantix::gentl_core {

using namespace gentl;

namespace {

constexpr std::size_t kNewBufferDataSize = sizeof(EVENT_NEW_BUFFER_DATA);

const char *event_name(std::int32_t type) {
    switch (type) {
        case EVENT_ERROR:
            return "error";
        case EVENT_NEW_BUFFER:
            return "new-buffer";
        case EVENT_FEATURE_INVALIDATE:
            return "feature-invalidate";
        case EVENT_FEATURE_CHANGE:
            return "feature-change";
        case EVENT_REMOTE_DEVICE:
            return "remote-device";
        case EVENT_MODULE:
            return "module";
        default:
            return "unknown";
    }
}

}  // namespace

}  // namespace vantix::gentl_core

using namespace vantix::gentl_core;

GENTL_EXPORT GC_ERROR GCRegisterEvent(EVENTSRC_HANDLE hEventSrc, std::int32_t type,
                                      EVENT_HANDLE *phEvent) {
    return locked([&](Lock &) -> GC_ERROR {
        Library &lib = library();
        std::shared_ptr<Object> source = lib.find_any(hEventSrc);
        if (!source || source->kind == Kind::buffer || source->kind == Kind::event ||
            source->kind == Kind::remote)
            return fail(GC_ERR_INVALID_HANDLE, "%p is not the handle of an open module", hEventSrc);
        if (!phEvent) return null_argument("phEvent");
        if (type == EVENT_MODULE && transport().refuses_module_events())
            return fail(GC_ERR_INVALID_PARAMETER,
                        "this system is configured to refuse module events");
        if (type != EVENT_NEW_BUFFER || source->kind != Kind::stream)
            return fail(GC_ERR_NOT_IMPLEMENTED, "%s raises no %s events on a %s", producer_noun(),
                        event_name(type), kind_name(source->kind));
        auto &stream = static_cast<Stream &>(*source);
        if (stream.new_buffer_event)
            return fail(GC_ERR_RESOURCE_IN_USE,
                        "the new-buffer event of stream %s is already registered",
                        stream.id.c_str());
        auto event = std::make_shared<Event>();
        event->stream = std::static_pointer_cast<Stream>(stream.shared_from_this());
        stream.new_buffer_event = event;
        *phEvent = lib.add(event);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR GCUnregisterEvent(EVENTSRC_HANDLE hEventSrc, std::int32_t type) {
    return locked([&](Lock &) -> GC_ERROR {
        Library &lib = library();
        std::shared_ptr<Stream> stream = lib.find<Stream>(hEventSrc, Kind::stream);
        if (!stream) {
            if (!lib.find_any(hEventSrc))
                return fail(GC_ERR_INVALID_HANDLE, "%p is not the handle of an open module",
                            hEventSrc);
            return fail(GC_ERR_NOT_AVAILABLE, "no %s event is registered on this module",
                        event_name(type));
        }
        if (type != EVENT_NEW_BUFFER || !stream->new_buffer_event)
            return fail(GC_ERR_NOT_AVAILABLE, "no %s event is registered on stream %s",
                        event_name(type), stream->id.c_str());
        stream->new_buffer_event->closed = true;
        lib.objects.erase(stream->new_buffer_event->handle);
        stream->new_buffer_event.reset();
        stream->changed().notify_all();
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR EventGetData(EVENT_HANDLE hEvent, void *pBuffer, std::size_t *piSize,
                                   std::uint64_t timeout_ms) {
    return with<Event>(hEvent, Kind::event, [&](Event &event, Lock &lock) -> GC_ERROR {
        if (!pBuffer) return null_argument("pBuffer");
        if (!piSize) return null_argument("piSize");
        if (*piSize < kNewBufferDataSize)
            return fail(GC_ERR_BUFFER_TOO_SMALL,
                        "new-buffer event data takes %zu bytes, the buffer holds %zu",
                        kNewBufferDataSize, *piSize);
        std::shared_ptr<Stream> stream = event.stream.lock();
        if (!stream || event.closed)
            return fail(GC_ERR_ABORT, "the data stream of this event was closed");
        StreamSource &source = *stream->source;
        // Any wait beyond a year is forever, GENTL_INFINITE (kInfinite) among them.
        const bool forever = timeout_ms > 1000ull * 3600 * 24 * 365;
        const Clock::time_point until =
            Clock::now() + std::chrono::milliseconds(forever ? 0 : timeout_ms);
        while (true) {
            if (event.closed) return fail(GC_ERR_ABORT, "the data stream of this event was closed");
            if (event.kills > 0) {
                --event.kills;
                return fail(GC_ERR_ABORT, "the wait was ended by EventKill");
            }
            const Clock::time_point now = Clock::now();
            // A frame whose time has come, delivered here: one wake-up less.
            if (stream->output.empty()) source.deliver_due(*stream, now);
            if (!stream->output.empty()) break;
            if (!stream->connected())
                return fail(GC_ERR_IO, "%s; no more buffers will arrive",
                            stream->link->lost_reason().c_str());
            if (!forever && now >= until)
                return fail(GC_ERR_TIMEOUT, "no buffer arrived within the timeout");
            const Clock::time_point next = source.next_due(*stream);
            if (forever && next == Clock::time_point::max())
                source.changed().wait(lock);
            else
                source.changed().wait_until(lock, forever ? next : std::min(next, until));
        }
        Buffer *buffer = stream->output.front();
        stream->output.pop_front();
        buffer->state = BufferState::idle;
        EVENT_NEW_BUFFER_DATA data{buffer->handle, buffer->user};
        std::memcpy(pBuffer, &data, sizeof data);
        *piSize = sizeof data;
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR EventGetDataInfo(EVENT_HANDLE hEvent, const void *, std::size_t,
                                       std::int32_t cmd, INFO_DATATYPE *, void *, std::size_t *) {
    return with<Event>(hEvent, Kind::event, [&](Event &, Lock &) -> GC_ERROR {
        return fail(GC_ERR_NOT_IMPLEMENTED, "new-buffer event data carries no items (asked for %d)",
                    cmd);
    });
}

GENTL_EXPORT GC_ERROR EventGetInfo(EVENT_HANDLE hEvent, std::int32_t cmd, INFO_DATATYPE *type,
                                   void *buffer, std::size_t *size) {
    return with<Event>(hEvent, Kind::event, [&](Event &event, Lock &) -> GC_ERROR {
        const InfoOut out{type, buffer, size};
        std::shared_ptr<Stream> stream = event.stream.lock();
        switch (cmd) {
            case EVENT_EVENT_TYPE:
                return out.value<std::int32_t>(event.type, INFO_DATATYPE_INT32);
            case EVENT_NUM_IN_QUEUE:
                return out.sizet(stream ? stream->output.size() : 0);
            case EVENT_NUM_FIRED:
                return out.u64(event.fired);
            case EVENT_SIZE_MAX:
            case EVENT_INFO_DATA_SIZE_MAX:
                return out.sizet(kNewBufferDataSize);
            default:
                return unknown_command("event info command", cmd);
        }
    });
}

GENTL_EXPORT GC_ERROR EventFlush(EVENT_HANDLE hEvent) {
    return with<Event>(hEvent, Kind::event, [&](Event &event, Lock &) -> GC_ERROR {
        if (std::shared_ptr<Stream> stream = event.stream.lock()) discard(stream->output);
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR EventKill(EVENT_HANDLE hEvent) {
    return with<Event>(hEvent, Kind::event, [&](Event &event, Lock &) -> GC_ERROR {
        ++event.kills;
        if (std::shared_ptr<Stream> stream = event.stream.lock()) stream->changed().notify_all();
        return GC_ERR_SUCCESS;
    });
}
