#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "check.hpp"
#include "plc_link/crc32.hpp"
#include "plc_link/encoding.hpp"

using vantix::crc::crc32;
using namespace vantix::plc;

static std::uint32_t of(const std::string &s) {
    return crc32(reinterpret_cast<const unsigned char *>(s.data()), s.size());
}

TEST(known_vectors) {
    CHECK(of("") == 0x00000000u);
    CHECK(of("a") == 0xE8B7BE43u);
    CHECK(of("abc") == 0x352441C2u);
    CHECK(of("123456789") == 0xCBF43926u);  // the catalogue check value
    CHECK(of("The quick brown fox jumps over the lazy dog") == 0x414FA339u);
    CHECK(of(std::string(32, '\0')) == 0x190A55ADu);
    CHECK(of(std::string(32, '\xFF')) == 0xFF6CAB0Bu);
    CHECK(of("\xEA\xB2\x80\xEC\x82\xAC-7") == 0x3CE9A31Bu);  // UTF-8 bytes of a Korean id
}

TEST(every_byte_value) {
    std::vector<unsigned char> bytes(256);
    for (std::size_t i = 0; i < 256; ++i) bytes[i] = static_cast<unsigned char>(i);
    CHECK(crc32(bytes.data(), bytes.size()) == 0x29058C73u);
}

TEST(empty_input_keeps_the_running_value) {
    CHECK(crc32(nullptr, 0) == 0u);
    CHECK(crc32(nullptr, 0, 0x352441C2u) == 0x352441C2u);
}

TEST(continues_across_chunks) {
    const std::string whole = "hello world";
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        const std::string head = whole.substr(0, cut), tail = whole.substr(cut);
        const std::uint32_t first = of(head);
        CHECK(crc32(reinterpret_cast<const unsigned char *>(tail.data()), tail.size(), first) ==
              0x0D4A1185u);
    }
}

TEST(product_hash_is_the_low_sixteen_bits) {
    CHECK(product_hash("abc", 3) == 16834u);
    CHECK(product_hash("7", 1) == 19074u);
    CHECK(product_hash(nullptr, 0) == 0u);
}

TEST(score_is_clamped_then_truncated) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    CHECK(scaled_score(873.4) == 873u);
    CHECK(scaled_score(999.9) == 999u);
    CHECK(scaled_score(65535.9) == 65535u);
    CHECK(scaled_score(70000.0) == 65535u && scaled_score(inf) == 65535u);
    CHECK(scaled_score(-0.2) == 0u && scaled_score(-inf) == 0u && scaled_score(nan) == 0u);
}

TEST(sequence_wraps_after_65535) {
    CHECK(next_sequence(0) == 1u && next_sequence(65534) == 65535u);
    CHECK(next_sequence(65535) == 0u && next_sequence(65536) == 1u);
    CHECK(next_sequence(static_cast<std::uint64_t>(-5)) == 65532u);  // (-5 + 1) & 65535
}

TEST(block_start_needs_distinct_contiguous_addresses) {
    struct Case {
        std::vector<long long> addresses;
        long long start;  // -1: not one block
    };
    const Case cases[] = {
        {{100, 101, 102, 103}, 100},
        {{103, 101, 100, 102}, 100},  // any order
        {{7}, 7},
        {{65532, 65533, 65534, 65535}, 65532},
        {{0, 1}, 0},
        {{}, -1},
        {{100, 101, 103}, -1},       // a gap
        {{100, 101, 101, 102}, -1},  // a repeat fills the span's length
        {{100, 100}, -1},
        {{-1, 0, 1}, -1},      // below 0
        {{65535, 65536}, -1},  // beyond 65535
        {{0, 1LL << 40}, -1},
        {{std::numeric_limits<long long>::max()}, -1},
        {{std::numeric_limits<long long>::min(), 0}, -1},
    };
    for (const Case &c : cases) {
        const auto start = block_start(c.addresses.data(), c.addresses.size());
        CHECK(start ? *start == c.start : c.start == -1);
    }
    std::vector<long long> many(kMaxBlockRegisters + 1);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<long long>(i);
    CHECK(block_start(many.data(), kMaxBlockRegisters) == 0);
    CHECK(!block_start(many.data(), many.size()));  // more than one request may carry
}
