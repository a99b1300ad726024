// A module's register space as its port shows it: little-endian registers at
// fixed addresses plus the GenApi document, read-only, at a separate
// address. It decides which accesses are legal; what a write means is up to
// the module that owns the map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantix::gentl_core {

enum class Access { ro, rw, wo };
enum class ValueKind { integer, floating, string };

struct Register {
    std::string name;
    std::uint64_t address;
    std::uint32_t length;  // 4 or 8 for numbers, the capacity for strings
    ValueKind kind;
    Access access;
};

enum class PortResult {
    ok,
    invalid_address,  // no register (or the document) covers the range
    not_readable,     // a write-only register
    not_writable,     // a read-only register or the document
    bad_size,         // zero bytes, or a write that is not the register's width
};

class RegisterMap {
public:
    static constexpr std::uint64_t kFirstRegister = 0x1000;
    static constexpr std::uint64_t kDocumentAddress = 0x100000;

    // Adds a register after the previous one, aligned to its length (to 8
    // bytes at most); returns its index.
    int add(std::string name, std::uint32_t length, ValueKind kind, Access access);
    void set_document(std::string text) { document_ = std::move(text); }

    const std::string &document() const { return document_; }
    std::size_t size() const { return registers_.size(); }
    const Register &at(int id) const { return registers_[static_cast<std::size_t>(id)]; }
    int find(std::string_view name) const;  // -1 when absent

    // A read may cover part of one register or of the document.
    PortResult read(std::uint64_t address, void *out, std::size_t size) const;
    // A write must cover one whole number register, or the start of a
    // string register; `id` receives the register.
    PortResult locate_write(std::uint64_t address, std::size_t size, int &id) const;

    std::int64_t get_int(int id) const;
    void set_int(int id, std::int64_t value);
    double get_float(int id) const;
    void set_float(int id, double value);
    std::string get_string(int id) const;
    void set_string(int id, std::string_view value);  // cut to the capacity
    // Stores the bytes a port write carries (size <= the register length).
    void store(int id, const void *bytes, std::size_t size);
    // Decodes what a write to number register `id` would store.
    std::int64_t decode_int(int id, const void *bytes) const;
    static double decode_float(const void *bytes);

private:
    const Register *covering(std::uint64_t address, std::size_t size) const;
    std::uint8_t *bytes_of(int id) { return storage_.data() + (at(id).address - kFirstRegister); }
    const std::uint8_t *bytes_of(int id) const {
        return storage_.data() + (at(id).address - kFirstRegister);
    }

    std::vector<Register> registers_;  // in address order
    std::vector<std::uint8_t> storage_;
    std::string document_;
};

}  // namespace vantix::gentl_core
