// The calling thread's last error, as GCGetLastError reports it, and the
// guard that keeps C++ exceptions inside the entry points.
#pragma once

#include <cstddef>
#include <exception>
#include <new>

#include "gentl.hpp"

namespace vantix::gentl_core {

// Records `code` with a printf-style text for this thread; returns `code`.
// Allocates nothing, so it is safe on the hot polling path.
gentl::GC_ERROR fail(gentl::GC_ERROR code, const char *format, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
gentl::GC_ERROR last_error_code() noexcept;
const char *last_error_text() noexcept;

// How the texts name the producer ("the simulator").
const char *producer_noun() noexcept;

// Runs an entry point's body; an escaping exception becomes an error code.
template <typename Body>
gentl::GC_ERROR guarded(Body &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return fail(gentl::GC_ERR_OUT_OF_MEMORY, "%s ran out of memory", producer_noun());
    } catch (const std::exception &e) {
        return fail(gentl::GC_ERR_ERROR, "internal error in %s: %s", producer_noun(), e.what());
    } catch (...) {
        return fail(gentl::GC_ERR_ERROR, "internal error in %s", producer_noun());
    }
}

}  // namespace vantix::gentl_core
