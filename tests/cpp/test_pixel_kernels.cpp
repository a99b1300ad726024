// Every kernel against a reference written from the layout's definition,
// with inputs and outputs allocated to their exact size so that the
// sanitizer catches any access past either.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "check.hpp"
#include "gentl_camera/pixel/kernels.hpp"
#include "gentl_camera/pixel/simd.hpp"
#include "pool_in_use.hpp"

using namespace vantix::pixel;

namespace {

std::vector<std::uint8_t> random_bytes(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n);
    for (auto &b : v) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return v;
}

// Sample i of an LSB-first bit stream: bit k of the stream is bit k % 8 of
// byte k / 8.
unsigned lsb_sample(const std::vector<std::uint8_t> &src, int bits, std::size_t i) {
    unsigned v = 0;
    const auto width = static_cast<std::size_t>(bits);
    for (std::size_t b = 0; b < width; ++b) {
        const std::size_t k = i * width + b;
        v |= ((unsigned{src[k / 8]} >> (k % 8)) & 1u) << b;
    }
    return v;
}

// Sample i of the 3-bytes-per-2 layout: high bits in byte 0 (even samples)
// or byte 2 (odd samples), the low bits in byte 1, low nibble for the even
// sample and high nibble for the odd one.
unsigned grouped_sample(const std::vector<std::uint8_t> &src, int bits, std::size_t i) {
    const std::uint8_t *g = src.data() + 3 * (i / 2);
    const int low = bits - 8;
    const unsigned mask = (1u << low) - 1;
    if (i % 2 == 0) return unsigned(g[0]) << low | (g[1] & mask);
    return unsigned(g[2]) << low | ((g[1] >> 4) & mask);
}

unsigned reference(const std::vector<std::uint8_t> &src, Packing p, int bits, std::size_t i) {
    return p == Packing::lsb ? lsb_sample(src, bits, i) : grouped_sample(src, bits, i);
}

std::size_t need(Packing p, int bits, std::size_t count) {
    std::size_t n = 0;
    CHECK(packed_size(p, bits, count, n));
    return n;
}

struct Case {
    Packing packing;
    int bits;
};
const Case kPacked[] = {{Packing::lsb, 10},
                        {Packing::lsb, 12},
                        {Packing::lsb, 14},
                        {Packing::grouped, 10},
                        {Packing::grouped, 12}};

// Counts around the group sizes, and a large one that is not a multiple of
// any block.
std::vector<std::size_t> counts() {
    std::vector<std::size_t> c;
    for (std::size_t n = 0; n <= 19; ++n) c.push_back(n);
    c.push_back(4099 * 3 + 1);
    return c;
}

}  // namespace

TEST(the_best_table_the_cpu_runs_is_used) {
#if defined(__x86_64__)
    if (!std::getenv("VANTIX_PIXEL_ISA")) {
        const char *best = __builtin_cpu_supports("avx2")     ? "avx2"
                           : __builtin_cpu_supports("sse4.1") ? "sse41"
                                                              : "baseline";
        CHECK(std::string(simd().name) == best);
    }
#endif
}

TEST(packed_sizes_follow_the_layouts) {
    CHECK(need(Packing::lsb, 10, 4) == 5);
    CHECK(need(Packing::lsb, 10, 5) == 7);  // 50 bits
    CHECK(need(Packing::lsb, 12, 3) == 5);  // 36 bits
    CHECK(need(Packing::lsb, 14, 4) == 7);
    CHECK(need(Packing::lsb, 14, 1) == 2);
    CHECK(need(Packing::grouped, 10, 2) == 3);
    CHECK(need(Packing::grouped, 12, 1) == 2);  // high byte and the shared one
    CHECK(need(Packing::grouped, 12, 0) == 0);
    std::size_t n = 0;
    CHECK(!packed_size(Packing::lsb, 12, std::numeric_limits<std::size_t>::max() / 4, n));
    CHECK(!packed_size(Packing::lsb, 16, 4, n));
    CHECK(!packed_size(Packing::grouped, 14, 4, n));
    CHECK(!packed_size(Packing::none, 8, 4, n));
    CHECK(can_unpack(Packing::lsb, 14) && !can_unpack(Packing::grouped, 14));
}

TEST(known_bytes_unpack_as_documented) {
    // 12p: 0x321 and 0x654 in 21 43 65.
    std::vector<std::uint8_t> p12 = {0x21, 0x43, 0x65};
    std::vector<std::uint16_t> s(2);
    CHECK(unpack16(p12.data(), 3, Packing::lsb, 12, s.data(), 2) == Status::ok);
    CHECK(s[0] == 0x321 && s[1] == 0x654);
    // 12Packed: byte 0 = high bits of sample 0, byte 1 = low nibbles.
    CHECK(unpack16(p12.data(), 3, Packing::grouped, 12, s.data(), 2) == Status::ok);
    CHECK(s[0] == 0x213 && s[1] == 0x654);
    // 10p: four samples of all ones in five bytes of 0xFF.
    std::vector<std::uint8_t> p10(5, 0xFF);
    std::vector<std::uint16_t> s4(4);
    CHECK(unpack16(p10.data(), 5, Packing::lsb, 10, s4.data(), 4) == Status::ok);
    for (auto v : s4) CHECK(v == 0x3FF);
}

TEST(unpack16_matches_the_bit_layout) {
    for (const Case &c : kPacked)
        for (std::size_t count : counts()) {
            const auto src =
                random_bytes(need(c.packing, c.bits, count), static_cast<std::uint32_t>(7 + count));
            std::unique_ptr<std::uint16_t[]> dst(new std::uint16_t[count + 1]);
            dst[count] = 0xBEEF;
            CHECK(unpack16(src.data(), src.size(), c.packing, c.bits, dst.get(), count) ==
                  Status::ok);
            bool same = true;
            for (std::size_t i = 0; i < count; ++i)
                same = same && dst[i] == reference(src, c.packing, c.bits, i);
            CHECK(same);
            CHECK(dst[count] == 0xBEEF);  // nothing written past count
        }
}

TEST(unpack8_and_bgr_keep_the_top_eight_bits) {
    for (const Case &c : kPacked)
        for (std::size_t count : counts()) {
            const auto src = random_bytes(need(c.packing, c.bits, count),
                                          static_cast<std::uint32_t>(99 + count));
            std::vector<std::uint8_t> grey(count), bgr(3 * count);
            CHECK(unpack8(src.data(), src.size(), c.packing, c.bits, grey.data(), count) ==
                  Status::ok);
            CHECK(unpack_bgr(src.data(), src.size(), c.packing, c.bits, bgr.data(), count) ==
                  Status::ok);
            bool same = true;
            for (std::size_t i = 0; i < count; ++i) {
                const unsigned top = reference(src, c.packing, c.bits, i) >> (c.bits - 8);
                same = same && grey[i] == top && bgr[3 * i] == top && bgr[3 * i + 1] == top &&
                       bgr[3 * i + 2] == top;
            }
            CHECK(same);
        }
}

TEST(short_input_is_refused_before_reading) {
    for (const Case &c : kPacked)
        for (std::size_t count : {std::size_t(1), std::size_t(5), std::size_t(1001)}) {
            const std::size_t n = need(c.packing, c.bits, count);
            const auto src = random_bytes(n - 1, 3);
            std::vector<std::uint16_t> s(count);
            std::vector<std::uint8_t> g(3 * count);
            CHECK(unpack16(src.data(), src.size(), c.packing, c.bits, s.data(), count) ==
                  Status::too_small);
            CHECK(unpack8(src.data(), src.size(), c.packing, c.bits, g.data(), count) ==
                  Status::too_small);
            CHECK(unpack_bgr(src.data(), src.size(), c.packing, c.bits, g.data(), count) ==
                  Status::too_small);
        }
    std::vector<std::uint8_t> src(16);
    std::vector<std::uint16_t> s(4);
    CHECK(unpack16(src.data(), 16, Packing::lsb, 16, s.data(), 4) == Status::unsupported);
    CHECK(unpack16(src.data(), 16, Packing::grouped, 14, s.data(), 4) == Status::unsupported);
    CHECK(unpack8(src.data(), 16, Packing::none, 12, src.data(), 4) == Status::unsupported);
    // A count whose byte size overflows is too small for any input.
    CHECK(unpack16(src.data(), 16, Packing::lsb, 12, s.data(),
                   std::numeric_limits<std::size_t>::max()) == Status::too_small);
}

TEST(shift_saturates_and_reads_unaligned_words) {
    const std::size_t count = 4099;
    // One spare byte in front: the words start at an odd address.
    auto raw = random_bytes(2 * count + 1, 42);
    const std::uint8_t *words = raw.data() + 1;
    for (int shift = 0; shift <= 8; ++shift) {
        std::vector<std::uint8_t> out(count), bgr(3 * count);
        CHECK(shift8(words, 2 * count, shift, out.data(), count) == Status::ok);
        CHECK(shift_bgr(words, 2 * count, shift, bgr.data(), count) == Status::ok);
        bool same = true;
        for (std::size_t i = 0; i < count; ++i) {
            std::uint16_t v;
            std::memcpy(&v, words + 2 * i, 2);
            const unsigned r = unsigned{v} >> shift;
            const unsigned want = r > 255 ? 255 : r;
            same = same && out[i] == want && bgr[3 * i] == want && bgr[3 * i + 1] == want &&
                   bgr[3 * i + 2] == want;
        }
        CHECK(same);
    }
    std::vector<std::uint8_t> out(count);
    CHECK(shift8(words, 2 * count - 1, 4, out.data(), count) == Status::too_small);
    CHECK(shift_bgr(words, 2 * count, 16, out.data(), 1) == Status::unsupported);
    CHECK(shift8(words, 2 * count, -1, out.data(), 1) == Status::unsupported);
    CHECK(shift8(words, 0, 4, out.data(), 0) == Status::ok);
}

TEST(large_frames_shared_among_threads_convert_whole) {
    // Several parts of a frame, at output offsets that differ modulo the
    // vector width.
    PoolInUse pool(4);
    const std::size_t count = (std::size_t(4) << 20) + 4099;
    const auto grey = random_bytes(count, 11);
    const auto words = random_bytes(2 * count, 12);
    const auto packed = random_bytes(need(Packing::lsb, 12, count), 13);
    for (std::size_t offset : {0u, 1u, 5u, 31u}) {
        std::vector<std::uint8_t> buf(3 * count + offset);
        std::uint8_t *dst = buf.data() + offset;
        CHECK(to_bgr8(grey.data(), grey.size(), Order::grey, dst, count) == Status::ok);
        bool same = true;
        for (std::size_t i = 0; i < count; i += 97)
            same = same && dst[3 * i] == grey[i] && dst[3 * i + 2] == grey[i];
        same = same && dst[3 * count - 1] == grey[count - 1];
        CHECK(same);

        CHECK(shift_bgr(words.data(), words.size(), 4, dst, count) == Status::ok);
        same = true;
        for (std::size_t i = 0; i < count; i += 97) {
            std::uint16_t v;
            std::memcpy(&v, words.data() + 2 * i, 2);
            const unsigned want = (v >> 4) > 255 ? 255 : (v >> 4);
            same = same && dst[3 * i] == want && dst[3 * i + 1] == want;
        }
        CHECK(same);

        CHECK(shift8(words.data(), words.size(), 3, dst, count) == Status::ok);
        same = true;
        for (std::size_t i = 0; i < count; i += 97) {
            std::uint16_t v;
            std::memcpy(&v, words.data() + 2 * i, 2);
            same = same && dst[i] == ((v >> 3) > 255 ? 255 : (v >> 3));
        }
        CHECK(same);

        CHECK(unpack_bgr(packed.data(), packed.size(), Packing::lsb, 12, dst, count) == Status::ok);
        same = true;
        for (std::size_t i = 0; i < count; i += 97)
            same = same && dst[3 * i + 1] == (lsb_sample(packed, 12, i) >> 4);
        same = same && dst[3 * count - 1] == (lsb_sample(packed, 12, count - 1) >> 4);
        CHECK(same);
    }
}

TEST(eight_bit_orders_to_bgr) {
    const std::size_t count = 1037;
    struct {
        Order order;
        std::size_t n, b, g, r;
    } orders[] = {{Order::grey, 1, 0, 0, 0},
                  {Order::rgb, 3, 2, 1, 0},
                  {Order::bgr, 3, 0, 1, 2},
                  {Order::rgba, 4, 2, 1, 0},
                  {Order::bgra, 4, 0, 1, 2}};
    for (const auto &o : orders) {
        const auto src = random_bytes(o.n * count, static_cast<std::uint32_t>(5 + o.n));
        std::vector<std::uint8_t> dst(3 * count);
        CHECK(to_bgr8(src.data(), src.size(), o.order, dst.data(), count) == Status::ok);
        bool same = true;
        for (std::size_t i = 0; i < count; ++i)
            same = same && dst[3 * i] == src[o.n * i + o.b] &&
                   dst[3 * i + 1] == src[o.n * i + o.g] && dst[3 * i + 2] == src[o.n * i + o.r];
        CHECK(same);
        CHECK(to_bgr8(src.data(), src.size() - 1, o.order, dst.data(), count) == Status::too_small);
    }
}
