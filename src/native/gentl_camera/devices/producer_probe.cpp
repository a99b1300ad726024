#include "producer_probe.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "../../gentl_core/gentl.hpp"
#include "../../gentl_core/gentl_entry_points.hpp"

namespace vantix::camera {

namespace {

using gentl::GC_ERR_RESOURCE_IN_USE;
using gentl::GC_ERR_SUCCESS;
using gentl::GC_ERROR;

// A pointer type per entry point, from the one list of them: GCInitLib_t, ...
// NOLINTNEXTLINE(bugprone-macro-parentheses): `parameters` is a parameter list
#define VANTIX_GENTL_POINTER(name, parameters) using name##_t = GC_ERROR(*) parameters;
VANTIX_GENTL_ENTRY_POINTS(VANTIX_GENTL_POINTER, VANTIX_GENTL_POINTER)
#undef VANTIX_GENTL_POINTER

// The library, loaded (it normally is already) for the length of a probe.
class Library {
public:
    explicit Library(const std::string &path) : handle_(load(path)) {}
    ~Library() {
        if (handle_) unload(handle_);
    }
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    void *symbol(const char *name) const {
#if defined(_WIN32)
        return handle_ ? reinterpret_cast<void *>(GetProcAddress(handle_, name)) : nullptr;
#else
        return handle_ ? dlsym(handle_, name) : nullptr;
#endif
    }

private:
#if defined(_WIN32)
    using Handle = HMODULE;
    static Handle load(const std::string &path) { return LoadLibraryA(path.c_str()); }
    static void unload(Handle h) { FreeLibrary(h); }
#else
    using Handle = void *;
    static Handle load(const std::string &path) { return dlopen(path.c_str(), RTLD_NOW); }
    static void unload(Handle h) { dlclose(h); }
#endif
    Handle handle_;
};

template <typename F>
F entry(const Library &library, const char *name) {
    return reinterpret_cast<F>(library.symbol(name));
}

std::string last_error_text(GCGetLastError_t get_last_error, GC_ERROR failed) {
    GC_ERROR code = GC_ERR_SUCCESS;
    std::size_t size = 0;
    std::string text;
    if (get_last_error(&code, nullptr, &size) == GC_ERR_SUCCESS && size > 1 &&
        size <= std::size_t{64} * 1024) {
        std::vector<char> buffer(size + 1, '\0');  // a NUL of our own after the text
        if (get_last_error(&code, buffer.data(), &size) == GC_ERR_SUCCESS) text = buffer.data();
    }
    return text.empty() ? "GCInitLib failed with GenTL error " + std::to_string(failed) : text;
}

}  // namespace

std::optional<std::string> producer_start_failure(const std::string &path) {
    const Library library(path);
    const auto init = entry<GCInitLib_t>(library, "GCInitLib");
    const auto close = entry<GCCloseLib_t>(library, "GCCloseLib");
    const auto get_last_error = entry<GCGetLastError_t>(library, "GCGetLastError");
    if (!init || !close || !get_last_error) return std::nullopt;
    const GC_ERROR failed = init();
    if (failed == GC_ERR_SUCCESS) close();
    if (failed == GC_ERR_SUCCESS || failed == GC_ERR_RESOURCE_IN_USE) return std::nullopt;
    return last_error_text(get_last_error, failed);
}

}  // namespace vantix::camera
