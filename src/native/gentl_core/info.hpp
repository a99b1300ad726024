// Answers in the GenTL info protocol: a NULL buffer asks for the size, a
// buffer too small is refused without copying, otherwise the value is
// copied and the size written.
#pragma once

#include <cstring>
#include <string>

#include "errors.hpp"
#include "gentl.hpp"

namespace vantix::gentl_core {

struct InfoOut {
    gentl::INFO_DATATYPE *type;
    void *buffer;
    std::size_t *size;

    gentl::GC_ERROR bytes(const void *data, std::size_t n, gentl::InfoType t) const {
        if (!size) return fail(gentl::GC_ERR_INVALID_PARAMETER, "the size pointer is NULL");
        if (type) *type = t;
        if (!buffer) {
            *size = n;
            return gentl::GC_ERR_SUCCESS;
        }
        if (*size < n)
            return fail(gentl::GC_ERR_BUFFER_TOO_SMALL,
                        "the answer needs %zu bytes, the buffer holds %zu", n, *size);
        std::memcpy(buffer, data, n);
        *size = n;
        return gentl::GC_ERR_SUCCESS;
    }
    gentl::GC_ERROR text(const std::string &s) const {
        return bytes(s.c_str(), s.size() + 1, gentl::INFO_DATATYPE_STRING);
    }
    template <typename T>
    gentl::GC_ERROR value(T v, gentl::InfoType t) const {
        return bytes(static_cast<const void *>(&v), sizeof v, t);
    }
    gentl::GC_ERROR boolean(bool v) const {
        return value<gentl::bool8_t>(v ? 1 : 0, gentl::INFO_DATATYPE_BOOL8);
    }
    gentl::GC_ERROR sizet(std::size_t v) const { return value(v, gentl::INFO_DATATYPE_SIZET); }
    gentl::GC_ERROR u64(std::uint64_t v) const { return value(v, gentl::INFO_DATATYPE_UINT64); }
};

// An ID or a text without a type slot (TLGetInterfaceID, GCGetPortURL, ...).
inline gentl::GC_ERROR copy_text(const std::string &s, char *out, std::size_t *size) {
    return InfoOut{nullptr, out, size}.text(s);
}

inline gentl::GC_ERROR unknown_command(const char *what, std::int32_t cmd) {
    return fail(gentl::GC_ERR_NOT_IMPLEMENTED, "%s %d is not supported by %s", what, cmd,
                producer_noun());
}

}  // namespace vantix::gentl_core
