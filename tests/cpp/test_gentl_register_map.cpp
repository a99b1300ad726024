#include <cstdint>
#include <cstring>
#include <string>

#include "check.hpp"
#include "gentl_core/register_map.hpp"

using namespace vantix::gentl_core;

namespace {

struct Fixture {
    RegisterMap map;
    int width, exposure, name, start, size;
    Fixture() {
        width = map.add("Width", 4, ValueKind::integer, Access::rw);
        exposure = map.add("Exposure", 8, ValueKind::floating, Access::rw);
        name = map.add("Name", 32, ValueKind::string, Access::rw);
        start = map.add("Start", 4, ValueKind::integer, Access::wo);
        size = map.add("Size", 4, ValueKind::integer, Access::ro);
        map.set_document("<xml/>");
    }
};

}  // namespace

TEST(registers_are_laid_out_aligned_after_each_other) {
    Fixture f;
    CHECK(f.map.at(f.width).address == RegisterMap::kFirstRegister);
    CHECK(f.map.at(f.exposure).address == RegisterMap::kFirstRegister + 8);
    CHECK(f.map.at(f.name).address == RegisterMap::kFirstRegister + 16);
    CHECK(f.map.at(f.start).address == RegisterMap::kFirstRegister + 48);
    CHECK(f.map.find("Size") == f.size && f.map.find("Nope") == -1);
}

TEST(values_round_trip_little_endian) {
    Fixture f;
    f.map.set_int(f.width, 0x01020304);
    std::uint8_t bytes[4];
    CHECK(f.map.read(f.map.at(f.width).address, bytes, 4) == PortResult::ok);
    CHECK(bytes[0] == 0x04 && bytes[3] == 0x01);
    f.map.set_float(f.exposure, 1234.5);
    CHECK(f.map.get_float(f.exposure) == 1234.5);
    f.map.set_string(f.name, std::string(40, 'x'));
    CHECK(f.map.get_string(f.name) == std::string(32, 'x'));
    f.map.set_string(f.name, "cam");
    CHECK(f.map.get_string(f.name) == "cam");
}

TEST(reads_must_stay_inside_one_register_or_the_document) {
    Fixture f;
    char out[64];
    const std::uint64_t w = f.map.at(f.width).address;
    CHECK(f.map.read(w + 2, out, 2) == PortResult::ok);
    CHECK(f.map.read(w + 2, out, 4) == PortResult::invalid_address);  // runs past Width
    CHECK(f.map.read(w + 4, out, 4) == PortResult::invalid_address);  // padding
    CHECK(f.map.read(0, out, 4) == PortResult::invalid_address);
    CHECK(f.map.read(w, out, 0) == PortResult::bad_size);
    CHECK(f.map.read(f.map.at(f.start).address, out, 4) == PortResult::not_readable);
    CHECK(f.map.read(RegisterMap::kDocumentAddress, out, 6) == PortResult::ok &&
          std::memcmp(out, "<xml/>", 6) == 0);
    CHECK(f.map.read(RegisterMap::kDocumentAddress + 1, out, 6) == PortResult::invalid_address);
    CHECK(f.map.read(UINT64_MAX - 1, out, 4) == PortResult::invalid_address);  // no wrap-around
    CHECK(f.map.read(w, out, SIZE_MAX) == PortResult::invalid_address);
}

TEST(writes_must_cover_a_whole_writable_register) {
    Fixture f;
    int id = -1;
    CHECK(f.map.locate_write(f.map.at(f.width).address, 4, id) == PortResult::ok && id == f.width);
    CHECK(f.map.locate_write(f.map.at(f.width).address, 2, id) == PortResult::bad_size);
    CHECK(f.map.locate_write(f.map.at(f.width).address + 1, 2, id) == PortResult::bad_size);
    CHECK(f.map.locate_write(f.map.at(f.name).address, 5, id) == PortResult::ok && id == f.name);
    CHECK(f.map.locate_write(f.map.at(f.size).address, 4, id) == PortResult::not_writable);
    CHECK(f.map.locate_write(RegisterMap::kDocumentAddress, 4, id) == PortResult::not_writable);
    CHECK(f.map.locate_write(RegisterMap::kDocumentAddress + 100, 4, id) ==
          PortResult::invalid_address);
    CHECK(f.map.locate_write(f.map.at(f.start).address, 4, id) == PortResult::ok);
    const std::uint8_t value[4] = {0x10, 0, 0, 0};
    CHECK(f.map.decode_int(f.width, value) == 16);
    f.map.store(f.name, "abc", 3);
    CHECK(f.map.get_string(f.name) == "abc");
}
