#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "check.hpp"
#include "sim/model/packing.hpp"
#include "sim/model/pixel_formats.hpp"

using namespace vantix::sim;

namespace {

std::vector<std::uint8_t> pack(Packing packing, const std::vector<std::uint16_t> &samples,
                               std::size_t bytes) {
    std::vector<std::uint8_t> out(bytes, 0xEE);
    pack_samples(packing, samples.data(), samples.size(), out.data());
    return out;
}

// PFNC "p": sample i at stream bits [i*bits, i*bits + bits), stream bit k in
// bit k % 8 of byte k / 8 - written here one bit at a time.
std::vector<std::uint8_t> bit_stream(const std::vector<std::uint16_t> &samples, std::size_t bits) {
    std::vector<std::uint8_t> out(samples.size() * bits / 8, 0);
    for (std::size_t i = 0; i < samples.size(); ++i)
        for (std::size_t b = 0; b < bits; ++b)
            if (samples[i] >> b & 1) {
                const std::size_t k = i * bits + b;
                out[k / 8] |= std::uint8_t(1u << (k % 8));
            }
    return out;
}

}  // namespace

TEST(twelve_p_worked_example) {
    CHECK((pack(Packing::lsb12, {0xABC, 0x123}, 3) == std::vector<std::uint8_t>{0xBC, 0x3A, 0x12}));
}

TEST(grouped_worked_examples) {
    CHECK((pack(Packing::grouped12, {0xABC, 0x123}, 3) ==
           std::vector<std::uint8_t>{0xAB, 0x3C, 0x12}));
    CHECK((pack(Packing::grouped10, {0x3FE, 0x001}, 3) ==
           std::vector<std::uint8_t>{0xFF, 0x12, 0x00}));
    CHECK((pack(Packing::grouped10, {0x155, 0x2AA}, 3) ==
           std::vector<std::uint8_t>{0x55, 0x21, 0xAA}));
}

TEST(lsb_packings_are_the_bit_stream_for_random_samples) {
    std::mt19937 random(7);
    for (const std::size_t bits : {10u, 12u}) {
        std::vector<std::uint16_t> samples(std::size_t{4} * 97);
        for (auto &s : samples) s = static_cast<std::uint16_t>(random() & ((1u << bits) - 1));
        const Packing packing = bits == 10 ? Packing::lsb10 : Packing::lsb12;
        CHECK(pack(packing, samples, samples.size() * bits / 8) == bit_stream(samples, bits));
    }
}

TEST(unpacked_layouts) {
    CHECK((pack(Packing::words, {0x0FFF, 0x0102}, 4) ==
           std::vector<std::uint8_t>{0xFF, 0x0F, 0x02, 0x01}));
    CHECK((pack(Packing::bytes, {0xFF, 0x01}, 2) == std::vector<std::uint8_t>{0xFF, 0x01}));
}

TEST(packing_writes_exactly_the_packed_size) {
    std::vector<std::uint16_t> samples(8, 0x3FF);
    std::vector<std::uint8_t> out(20, 0xEE);
    pack_samples(Packing::lsb10, samples.data(), samples.size(), out.data());
    CHECK(out[9] == 0xFF && out[10] == 0xEE);
    pack_samples(Packing::grouped12, samples.data(), samples.size(), out.data());
    CHECK(out[11] != 0xEE && out[12] == 0xEE);
}

TEST(format_table_codes_and_sizes) {
    std::set<std::uint32_t> codes;
    std::set<std::string> names;
    for (const PixelFormat &f : all_pixel_formats()) {
        CHECK(codes.insert(f.code).second);
        CHECK(names.insert(std::string(f.name)).second);
        CHECK(find_pixel_format(f.code) == &f && find_pixel_format(f.name) == &f);
        // PFNC: bits 23..16 give the bits a pixel occupies.
        CHECK(line_bytes(f, 16) * 8 == std::size_t{16} * ((f.code >> 16) & 0xFF));
    }
    CHECK(all_pixel_formats().size() == 13 + 28);
    CHECK(find_pixel_format("Mono14p") == nullptr && find_pixel_format(0x010E0104u) == nullptr);
    CHECK(line_bytes(*find_pixel_format("Mono10p"), 2448) == 3060);
    CHECK(line_bytes(*find_pixel_format("BayerGB12Packed"), 1920) == 2880);
    CHECK(line_bytes(*find_pixel_format("YCbCr422_8"), 640) == 1280);
}
