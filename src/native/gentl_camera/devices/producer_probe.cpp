#include "producer_probe.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vantix::camera {

namespace {

using GcError = std::int32_t;
constexpr GcError kSuccess = 0;
constexpr GcError kResourceInUse = -1004;

using InitLib = GcError (*)();
using CloseLib = GcError (*)();
using GetLastError = GcError (*)(GcError *, char *, std::size_t *);

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

std::string last_error_text(GetLastError get_last_error, GcError failed) {
    GcError code = kSuccess;
    std::size_t size = 0;
    std::string text;
    if (get_last_error(&code, nullptr, &size) == kSuccess && size > 1 &&
        size <= std::size_t{64} * 1024) {
        std::vector<char> buffer(size + 1, '\0');  // a NUL of our own after the text
        if (get_last_error(&code, buffer.data(), &size) == kSuccess) text = buffer.data();
    }
    return text.empty() ? "GCInitLib failed with GenTL error " + std::to_string(failed) : text;
}

}  // namespace

std::optional<std::string> producer_start_failure(const std::string &path) {
    const Library library(path);
    const auto init = entry<InitLib>(library, "GCInitLib");
    const auto close = entry<CloseLib>(library, "GCCloseLib");
    const auto get_last_error = entry<GetLastError>(library, "GCGetLastError");
    if (!init || !close || !get_last_error) return std::nullopt;
    const GcError failed = init();
    if (failed == kSuccess) close();
    if (failed == kSuccess || failed == kResourceInUse) return std::nullopt;
    return last_error_text(get_last_error, failed);
}

}  // namespace vantix::camera
