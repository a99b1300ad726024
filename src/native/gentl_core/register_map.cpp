#include "register_map.hpp"

#include <algorithm>
#include <cstring>

namespace vantix::gentl_core {

namespace {

std::uint64_t load_le(const std::uint8_t *p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t(p[i]) << (8 * i);
    return v;
}

void store_le(std::uint8_t *p, std::size_t n, std::uint64_t v) {
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

int RegisterMap::add(std::string name, std::uint32_t length, ValueKind kind, Access access) {
    std::uint64_t address = kFirstRegister + storage_.size();
    const std::uint64_t align = std::min<std::uint32_t>(length, 8);
    address = (address + align - 1) / align * align;
    registers_.push_back({std::move(name), address, length, kind, access});
    storage_.resize(address - kFirstRegister + length, 0);
    return static_cast<int>(registers_.size() - 1);
}

int RegisterMap::find(std::string_view name) const {
    for (std::size_t i = 0; i < registers_.size(); ++i)
        if (registers_[i].name == name) return static_cast<int>(i);
    return -1;
}

const Register *RegisterMap::covering(std::uint64_t address, std::size_t size) const {
    auto next = std::upper_bound(registers_.begin(), registers_.end(), address,
                                 [](std::uint64_t a, const Register &r) { return a < r.address; });
    if (next == registers_.begin()) return nullptr;
    const Register &r = *(next - 1);
    if (address - r.address >= r.length || size > r.length - (address - r.address)) return nullptr;
    return &r;
}

PortResult RegisterMap::read(std::uint64_t address, void *out, std::size_t size) const {
    if (size == 0) return PortResult::bad_size;
    if (address >= kDocumentAddress) {
        const std::uint64_t offset = address - kDocumentAddress;
        if (offset >= document_.size() || size > document_.size() - offset)
            return PortResult::invalid_address;
        std::memcpy(out, document_.data() + offset, size);
        return PortResult::ok;
    }
    const Register *r = covering(address, size);
    if (!r) return PortResult::invalid_address;
    if (r->access == Access::wo) return PortResult::not_readable;
    std::memcpy(out, storage_.data() + (address - kFirstRegister), size);
    return PortResult::ok;
}

PortResult RegisterMap::locate_write(std::uint64_t address, std::size_t size, int &id) const {
    if (size == 0) return PortResult::bad_size;
    if (address >= kDocumentAddress) {
        const std::uint64_t offset = address - kDocumentAddress;
        return offset < document_.size() ? PortResult::not_writable : PortResult::invalid_address;
    }
    const Register *r = covering(address, size);
    if (!r) return PortResult::invalid_address;
    if (r->access == Access::ro) return PortResult::not_writable;
    if (r->address != address || (r->kind != ValueKind::string && size != r->length))
        return PortResult::bad_size;
    id = static_cast<int>(r - registers_.data());
    return PortResult::ok;
}

std::int64_t RegisterMap::get_int(int id) const {
    return static_cast<std::int64_t>(load_le(bytes_of(id), at(id).length));
}

void RegisterMap::set_int(int id, std::int64_t value) {
    store_le(bytes_of(id), at(id).length, static_cast<std::uint64_t>(value));
}

double RegisterMap::get_float(int id) const { return decode_float(bytes_of(id)); }

void RegisterMap::set_float(int id, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    store_le(bytes_of(id), 8, bits);
}

std::string RegisterMap::get_string(int id) const {
    const char *p = reinterpret_cast<const char *>(bytes_of(id));
    return std::string(p, std::find(p, p + at(id).length, '\0'));
}

void RegisterMap::set_string(int id, std::string_view value) {
    std::uint8_t *p = bytes_of(id);
    const std::size_t n = std::min<std::size_t>(value.size(), at(id).length);
    std::memset(p, 0, at(id).length);
    std::memcpy(p, value.data(), n);
}

void RegisterMap::store(int id, const void *bytes, std::size_t size) {
    std::uint8_t *p = bytes_of(id);
    if (at(id).kind == ValueKind::string) std::memset(p, 0, at(id).length);
    std::memcpy(p, bytes, std::min<std::size_t>(size, at(id).length));
}

std::int64_t RegisterMap::decode_int(int id, const void *bytes) const {
    return static_cast<std::int64_t>(
        load_le(static_cast<const std::uint8_t *>(bytes), at(id).length));
}

double RegisterMap::decode_float(const void *bytes) {
    const std::uint64_t bits = load_le(static_cast<const std::uint8_t *>(bytes), 8);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace vantix::gentl_core
