// The frame of every entry point: exceptions kept inside, the library lock
// taken, the library initialised, the handle resolved to a live object.
#pragma once

#include "errors.hpp"
#include "gentl_api.hpp"
#include "producer.hpp"

namespace vantix::gentl_core {

inline const char *kind_name(Kind kind) {
    switch (kind) {
        case Kind::system:
            return "system";
        case Kind::interface:
            return "interface";
        case Kind::device:
            return "device";
        case Kind::remote:
            return "remote device port";
        case Kind::stream:
            return "data stream";
        case Kind::buffer:
            return "buffer";
        case Kind::event:
            return "event";
    }
    return "";
}

inline gentl::GC_ERROR not_initialised() {
    return fail(gentl::GC_ERR_NOT_INITIALIZED, "%s is not initialised: call GCInitLib first",
                producer_noun());
}

inline gentl::GC_ERROR bad_handle(void *handle, Kind kind) {
    return fail(gentl::GC_ERR_INVALID_HANDLE, "%p is not the handle of an open %s", handle,
                kind_name(kind));
}

inline gentl::GC_ERROR null_argument(const char *name) {
    return fail(gentl::GC_ERR_INVALID_PARAMETER, "%s must not be NULL", name);
}

// Runs body(lock) under the library lock once the library is initialised.
template <typename Body>
gentl::GC_ERROR locked(Body &&body) noexcept {
    return guarded([&]() -> gentl::GC_ERROR {
        Library &lib = library();
        Lock lock(lib.mutex);
        if (!lib.initialised) return not_initialised();
        return body(lock);
    });
}

// Runs body(object, lock) for the live object of `kind` behind `handle`.
template <typename T, typename Body>
gentl::GC_ERROR with(void *handle, Kind kind, Body &&body) noexcept {
    return locked([&](Lock &lock) -> gentl::GC_ERROR {
        std::shared_ptr<T> object = library().find<T>(handle, kind);
        if (!object) return bad_handle(handle, kind);
        return body(*object, lock);
    });
}

}  // namespace vantix::gentl_core
