// Library start and end (GCInitLib, GCCloseLib), the library-wide info and
// the last-error query, and the registry behind the handles.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "entry.hpp"
#include "info.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vantix::gentl_core {

using namespace gentl;

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

std::string index_range(std::size_t count, const char *noun) {
    if (count == 1) return std::string("one ") + noun + " (0)";
    if (count == 0) return std::string("no ") + noun + "s";
    return std::to_string(count) + " " + noun + "s (0 to " + std::to_string(count - 1) + ")";
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
    const ProducerInfo &p = transport().producer();
    switch (cmd) {
        case TL_INFO_ID:
            return out.text(p.id);
        case TL_INFO_VENDOR:
            return out.text(p.vendor);
        case TL_INFO_MODEL:
            return out.text(p.model);
        case TL_INFO_VERSION:
            return out.text(p.version);
        case TL_INFO_TLTYPE:
            return out.text(p.tl_type);
        case TL_INFO_NAME: {
            const std::string path = library_path();
            return out.text(path.substr(path.find_last_of("/\\") + 1));
        }
        case TL_INFO_PATHNAME:
            return out.text(library_path());
        case TL_INFO_DISPLAYNAME:
            return out.text(p.display_name);
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

}  // namespace vantix::gentl_core

using namespace vantix::gentl_core;

GENTL_EXPORT GC_ERROR GCInitLib() {
    return guarded([]() -> GC_ERROR {
        Library &lib = library();
        Lock lock(lib.mutex);
        if (lib.initialised)
            return fail(GC_ERR_RESOURCE_IN_USE, "%s is already initialised in this process",
                        producer_noun());
        if (const GC_ERROR e = transport().init()) return e;
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
        transport().close();
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
