// A port write to the camera: where it lands, whether the feature takes the
// value, then the feature's effect (attached in build_nodes). A refusal
// carries its GenTL code and text back to the transport.
#include "camera.hpp"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace vantix::sim {

using namespace gentl;
using namespace gentl_core;

namespace {

// A refused write, its text formatted as printf does.
WriteResult refuse(GC_ERROR code, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
WriteResult refuse(GC_ERROR code, const char *format, ...) {
    WriteResult result{code, {}};
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        result.message.resize(static_cast<std::size_t>(length));
        std::vsnprintf(result.message.data(), result.message.size() + 1, format, again);
    }
    va_end(again);
    return result;
}

}  // namespace

WriteResult Camera::write(std::uint64_t address, const void *data, std::size_t size,
                          bool read_only) {
    int id = -1;
    switch (nodes.registers().locate_write(address, size, id)) {
        case PortResult::ok:
            break;
        case PortResult::not_writable:
            return refuse(GC_ERR_ACCESS_DENIED, "the register at 0x%llX of camera %s is read-only",
                          static_cast<unsigned long long>(address), config.serial.c_str());
        case PortResult::bad_size:
            return refuse(GC_ERR_INVALID_PARAMETER,
                          "a write of %zu bytes at 0x%llX does not match the register there", size,
                          static_cast<unsigned long long>(address));
        default:
            return refuse(GC_ERR_INVALID_ADDRESS, "camera %s has no writable register at 0x%llX",
                          config.serial.c_str(), static_cast<unsigned long long>(address));
    }
    const Feature &f = nodes.features()[static_cast<std::size_t>(id)];
    if (read_only)
        return refuse(GC_ERR_ACCESS_DENIED, "%s cannot be written: camera %s is open read-only",
                      f.name.c_str(), config.serial.c_str());
    return apply(id, data, size);
}

WriteResult Camera::apply(int id, const void *data, std::size_t size) {
    RegisterMap &r = nodes.registers();
    const Feature &f = nodes.features()[static_cast<std::size_t>(id)];
    const Effect effect = effects_[static_cast<std::size_t>(id)];
    const char *name = f.name.c_str();
    if (f.locked_by == kFormatLock && format_locked())
        return refuse(GC_ERR_ACCESS_DENIED,
                      "%s cannot change while the acquisition runs or TLParamsLocked is set", name);
    switch (f.kind) {
        case FeatureKind::string:
            r.store(id, data, size);
            return {};
        case FeatureKind::floating: {
            const double v = RegisterMap::decode_float(data);
            if (!std::isfinite(v) || v < f.fmin || v > f.fmax)
                return refuse(GC_ERR_INVALID_VALUE, "%s %g is outside %g to %g", name, v, f.fmin,
                              f.fmax);
            r.set_float(id, v);
            return {};
        }
        case FeatureKind::command:
            if (r.decode_int(id, data) != 1)
                return refuse(GC_ERR_INVALID_VALUE, "%s takes the command value 1", name);
            if (effect) (this->*effect)(id, 1);
            changed.notify_all();
            return {};
        default:
            break;
    }
    const std::int64_t v = r.decode_int(id, data);
    if (f.kind == FeatureKind::enumeration) {
        bool known = false;
        for (const auto &entry : f.entries) known |= entry.second == v;
        if (!known)
            return refuse(GC_ERR_INVALID_VALUE, "%s has no entry with the value %lld", name,
                          static_cast<long long>(v));
    } else if (f.kind == FeatureKind::boolean) {
        if (v != 0 && v != 1) return refuse(GC_ERR_INVALID_VALUE, "%s takes 0 or 1", name);
    } else {
        const std::int64_t max =
            f.max_node.empty() ? f.max : r.get_int(nodes.find(f.max_node)->reg);
        if (v < f.min || v > max || (v - f.min) % f.inc != 0)
            return refuse(GC_ERR_INVALID_VALUE, "%s %lld is outside %lld to %lld in steps of %lld",
                          name, static_cast<long long>(v), static_cast<long long>(f.min),
                          static_cast<long long>(max), static_cast<long long>(f.inc));
    }
    r.set_int(id, v);
    if (effect) (this->*effect)(id, v);
    refresh();
    changed.notify_all();
    return {};
}

// "Once" adjusts and falls back to Off.
void Camera::settle_auto(int reg, std::int64_t value) {
    if (value == 1) nodes.registers().set_int(reg, 0);
}

}  // namespace vantix::sim
