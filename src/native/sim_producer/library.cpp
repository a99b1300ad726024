// Library start and end (GCInitLib, GCCloseLib), the library-wide info and
// the last-error query, and the registry behind the handles.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "config_file.hpp"
#include "entry.hpp"
#include "info.hpp"
#include "utf8.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vantix::sim {

using namespace gentl;

namespace {

constexpr const char *kConfigVariable = "VANTIX_SIM_CONFIG";

// Reads the configuration the environment names, or the default set.
GC_ERROR load_config(SimulatorConfig &out) {
    const char *path = std::getenv(kConfigVariable);
    if (!path || !*path) {
        out = default_config();
        return GC_ERR_SUCCESS;
    }
    std::string error;
    const ConfigFileStatus status = load_config_file(path, out, error);
    if (status == ConfigFileStatus::loaded) return GC_ERR_SUCCESS;
    GC_ERROR code = GC_ERR_INVALID_PARAMETER;
    if (status == ConfigFileStatus::unreadable) {
        code = GC_ERR_IO;
        error += std::string("; ") + kConfigVariable + " names it";
    }
    // The path, like the file, comes from outside: shown with its control
    // characters escaped, as the last-error text is UTF-8.
    fail(code, "simulator configuration %s: %s", printable(path).c_str(), error.c_str());
    // The consumer may only log that the producer failed to start: say why.
    std::fprintf(stderr, "vantix simulator: %s\n", last_error_text());
    return code;
}

}  // namespace

Library &library() {
    // Never destroyed: a thread still running at process exit must not find
    // the state gone. It lives in the library's own image, so unloading the
    // producer leaves nothing behind.
    alignas(Library) static unsigned char storage[sizeof(Library)];
    static Library *lib = new (storage) Library;
    return *lib;
}

void *Library::add(std::shared_ptr<Object> object) {
    next_handle += 0x10;
    void *handle = reinterpret_cast<void *>(next_handle);
    object->handle = handle;
    objects.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<Object> Library::find_any(void *handle) {
    auto it = objects.find(handle);
    return it == objects.end() ? nullptr : it->second;
}

std::string library_path() {
#if defined(_WIN32)
    HMODULE module = nullptr;
    char path[MAX_PATH] = "";
    if (GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&library_path), &module))
        GetModuleFileNameA(module, path, MAX_PATH);
    return path;
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&library_path), &info) && info.dli_fname)
        return info.dli_fname;
    return "";
#endif
}

GC_ERROR tl_info(std::int32_t cmd, const InfoOut &out) {
    switch (cmd) {
        case TL_INFO_ID:
            return out.text(kTlId);
        case TL_INFO_VENDOR:
            return out.text(kTlVendor);
        case TL_INFO_MODEL:
            return out.text(kTlModel);
        case TL_INFO_VERSION:
            return out.text(kTlVersion);
        case TL_INFO_TLTYPE:
            return out.text(kTlType);
        case TL_INFO_NAME: {
            const std::string path = library_path();
            return out.text(path.substr(path.find_last_of("/\\") + 1));
        }
        case TL_INFO_PATHNAME:
            return out.text(library_path());
        case TL_INFO_DISPLAYNAME:
            return out.text("vantix GenTL simulator");
        case TL_INFO_CHAR_ENCODING:
            return out.value<std::int32_t>(TL_CHAR_ENCODING_UTF8, INFO_DATATYPE_INT32);
        case TL_INFO_GENTL_VER_MAJOR:
            return out.value<std::uint32_t>(kVersionMajor, INFO_DATATYPE_UINT32);
        case TL_INFO_GENTL_VER_MINOR:
            return out.value<std::uint32_t>(kVersionMinor, INFO_DATATYPE_UINT32);
        default:
            return unknown_command("TL info command", cmd);
    }
}

}  // namespace vantix::sim

using namespace vantix::sim;

GENTL_EXPORT GC_ERROR GCInitLib() {
    return guarded([]() -> GC_ERROR {
        Library &lib = library();
        Lock lock(lib.mutex);
        if (lib.initialised)
            return fail(GC_ERR_RESOURCE_IN_USE,
                        "the simulator is already initialised in this process");
        SimulatorConfig config;
        if (const GC_ERROR e = load_config(config)) return e;
        lib.config = std::move(config);
        for (const DeviceConfig &d : lib.config.devices)
            lib.cameras.push_back(std::make_shared<Camera>(d));
        lib.initialised = true;
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR GCCloseLib() {
    return guarded([]() -> GC_ERROR {
        Library &lib = library();
        Lock lock(lib.mutex);
        if (!lib.initialised) return GC_ERR_SUCCESS;
        close_system(lock);
        lib.initialised = false;
        decltype(lib.objects)().swap(lib.objects);
        decltype(lib.cameras)().swap(lib.cameras);
        lib.config = SimulatorConfig{};
        return GC_ERR_SUCCESS;
    });
}

GENTL_EXPORT GC_ERROR GCGetInfo(std::int32_t cmd, INFO_DATATYPE *type, void *buffer,
                                std::size_t *size) {
    return locked([&](Lock &) { return tl_info(cmd, InfoOut{type, buffer, size}); });
}

GENTL_EXPORT GC_ERROR GCGetLastError(GC_ERROR *code, char *text, std::size_t *size) {
    if (!size) return GC_ERR_INVALID_PARAMETER;
    if (code) *code = last_error_code();
    const char *message = last_error_text();
    const std::size_t needed = std::strlen(message) + 1;
    if (text) {
        if (*size < needed) return GC_ERR_BUFFER_TOO_SMALL;
        std::memcpy(text, message, needed);
    }
    *size = needed;
    return GC_ERR_SUCCESS;
}
