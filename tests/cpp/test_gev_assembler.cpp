// The frame assembler fed packets built here: order, loss, resend, block id
// wrap, extended ids and hostile packets, with guard bytes around every
// lent buffer.
#include <algorithm>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "check.hpp"
#include "gev/protocol/frame_assembler.hpp"

using namespace vantix::gev;
using Bytes = std::vector<std::uint8_t>;
using Clock = FrameAssembler::Clock;
using std::chrono::milliseconds;

namespace {

constexpr std::size_t kDataSize = 16, kImage = 100, kGuard = 32;  // 7 payload packets
constexpr std::uint8_t kGuardByte = 0xA5;
const Clock::time_point t0{};

void put(Bytes &b, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes header(bool extended, std::uint64_t block, PacketFormat format, std::uint32_t id) {
    Bytes b;
    put(b, 0, 2);
    if (extended) {
        put(b, 0, 2);
        put(b, 0x80000000u | std::uint32_t(format) << 24, 4);
        put(b, block, 8);
        put(b, id, 4);
    } else {
        put(b, block, 2);
        put(b, std::uint32_t(format) << 24 | id, 4);
    }
    return b;
}

std::uint8_t pixel(std::uint64_t block, std::size_t i) { return std::uint8_t(block * 7 + i); }

// Leader (Mono8 10 x 10), payloads 1..7, trailer 8 reporting height 0 as
// some cameras do.
std::vector<Bytes> frame(std::uint64_t block, bool extended = false) {
    std::vector<Bytes> out;
    Bytes leader = header(extended, block, PacketFormat::leader, 0);
    put(leader, 0, 2);  // flags
    put(leader, 1, 2);  // image
    for (auto v : {0u, 0u, 0x01080001u, 10u, 10u, 0u, 0u}) put(leader, v, 4);
    put(leader, 0, 4);  // padding x, y
    out.push_back(leader);
    for (std::uint32_t id = 1; (id - 1) * kDataSize < kImage; ++id) {
        Bytes p = header(extended, block, PacketFormat::payload, id);
        for (std::size_t i = (id - 1) * kDataSize; i < std::min(id * kDataSize, kImage); ++i)
            p.push_back(pixel(block, i));
        out.push_back(p);
    }
    Bytes trailer = header(extended, block, PacketFormat::trailer, std::uint32_t(out.size()));
    put(trailer, 1, 4);
    put(trailer, 0, 4);
    out.push_back(trailer);
    return out;
}

struct Sink : FrameSink {
    std::size_t size = kImage;
    bool give = true;
    std::deque<Bytes> buffers;  // guard, lent bytes, guard
    std::vector<AssembledFrame> frames;
    std::vector<Bytes> images;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> requests;
    bool guards_intact = true;

    bool acquire(Target &t) override {
        if (!give) return false;
        buffers.emplace_back(size + 2 * kGuard, kGuardByte);
        t.memory = buffers.back().data() + kGuard;
        t.size = size;
        return true;
    }
    void deliver(const Target &t, const AssembledFrame &f) override {
        frames.push_back(f);
        images.emplace_back(t.memory, t.memory + t.size);
        const std::uint8_t *start = t.memory - kGuard;
        for (std::size_t i = 0; i < kGuard; ++i)
            guards_intact &= start[i] == kGuardByte && t.memory[t.size + i] == kGuardByte;
    }
    void request_resend(std::uint64_t, std::uint32_t first, std::uint32_t last) override {
        requests.emplace_back(first, last);
    }
};

bool exact(const Bytes &image, std::uint64_t block) {
    for (std::size_t i = 0; i < kImage; ++i)
        if (image[i] != pixel(block, i)) return false;
    return true;
}

AssemblerSettings settings(bool resend = false) {
    AssemblerSettings s;
    s.packet_data_size = kDataSize;
    s.resend = resend;
    return s;
}

void send(FrameAssembler &a, const Bytes &p, Clock::time_point at = t0) {
    a.on_packet(p.data(), p.size(), at);
}

}  // namespace

TEST(one_frame_order_loss_and_resend) {
    const milliseconds delay = settings().resend_delay, timeout = settings().frame_timeout;
    struct Case {
        const char *name;
        bool resend;
        std::vector<std::size_t> before, after;  // packet ids sent before and after a tick
        milliseconds tick;
        bool complete;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> requests;
        std::uint64_t dropped, recovered;
    } cases[] = {
        {"in order", false, {0, 1, 2, 3, 4, 5, 6, 7, 8}, {}, delay, true, {}, 0, 0},
        {"reordered", false, {8, 3, 1, 0, 7, 2, 6, 5, 4}, {}, delay, true, {}, 0, 0},
        {"duplicated", false, {0, 1, 1, 2, 3, 3, 4, 5, 6, 7, 8, 8, 2}, {}, delay, true, {}, 4, 0},
        {"lost, no resend", false, {0, 1, 2, 3, 5, 6, 7, 8}, {4}, timeout, false, {}, 1, 0},
        {"lost, resent", true, {0, 1, 2, 3, 5, 6, 7, 8}, {4}, delay, true, {{4, 4}}, 0, 1},
        {"lost run, one request", true, {0, 1, 4, 5, 6, 7, 8}, {2, 3}, delay, true, {{2, 3}}, 0, 2},
        {"tail lost, resent", true, {0, 1, 2, 3, 4, 5}, {6, 7, 8}, delay, true, {{6, 8}}, 0, 3},
        {"leader lost, resent", true, {1, 2, 3, 4, 5, 6, 7, 8}, {0}, delay, true, {{0, 0}}, 0, 1},
    };
    for (const auto &c : cases) {
        Sink sink;
        FrameAssembler a(settings(c.resend), sink);
        const auto packets = frame(500);
        for (std::size_t id : c.before) send(a, packets[id]);
        a.on_tick(t0 + c.tick);
        for (std::size_t id : c.after) send(a, packets[id], t0 + c.tick);
        a.flush();
        const auto &st = a.statistics();
        const bool ok = sink.frames.size() == 1 && sink.frames[0].incomplete != c.complete &&
                        (!c.complete || exact(sink.images[0], 500)) &&
                        sink.requests == c.requests && st.packets_dropped == c.dropped &&
                        st.packets_recovered == c.recovered && sink.guards_intact &&
                        sink.frames[0].block_id == 500 &&
                        sink.frames[0].has_leader == (c.complete || c.before[0] == 0);
        if (!ok) std::fprintf(stderr, "case: %s\n", c.name);
        CHECK(ok);
        if (!c.complete) CHECK(st.frames_incomplete == 1 && sink.frames[0].packets_missing == 1);
    }
}

TEST(resend_requests_are_bounded_per_frame) {
    Sink sink;
    auto s = settings(true);
    s.resend_requests_per_frame = 2;
    FrameAssembler a(s, sink);
    const auto packets = frame(9);
    for (std::size_t id : {0u, 2u, 4u, 6u, 8u}) send(a, packets[id]);
    for (int ms = 5; ms < 150; ms += 5) a.on_tick(t0 + milliseconds(ms));
    CHECK((sink.requests == std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1, 1}, {3, 3}}));
    a.on_tick(t0 + s.frame_timeout);
    CHECK(sink.frames.size() == 1 && sink.frames[0].incomplete &&
          sink.frames[0].packets_missing == 4);
}

TEST(block_ids_wrap_past_65535_to_1_and_late_packets_are_dropped) {
    Sink sink;
    FrameAssembler a(settings(), sink);
    for (std::uint64_t block : {65534u, 65535u, 1u, 2u})
        for (const auto &p : frame(block)) send(a, p);
    for (const auto &p : frame(65535)) send(a, p);  // again, after delivery
    CHECK(sink.frames.size() == 4 && a.statistics().frames_complete == 4);
    CHECK(a.statistics().packets_dropped == 9 && sink.buffers.size() == 4);
    for (std::size_t i = 0; i < sink.frames.size(); ++i)
        CHECK(!sink.frames[i].incomplete && exact(sink.images[i], sink.frames[i].block_id));
}

TEST(extended_ids) {
    Sink sink;
    auto s = settings();
    s.extended_ids = true;
    FrameAssembler a(s, sink);
    const std::uint64_t block = 0x123456789AULL;
    for (const auto &p : frame(block, true)) send(a, p);
    for (const auto &p : frame(7)) send(a, p);  // standard headers: not this stream's
    CHECK(sink.frames.size() == 1 && !sink.frames[0].incomplete &&
          sink.frames[0].block_id == block && exact(sink.images[0], block));
    CHECK(a.statistics().packets_dropped == 9);
}

TEST(hostile_packets_are_dropped_and_neighbours_stay_intact) {
    const auto good = frame(40);
    auto with = [&](std::uint32_t id, std::size_t bytes) {
        Bytes p = header(false, 40, PacketFormat::payload, id);
        p.resize(p.size() + bytes, 0xEE);
        return p;
    };
    Bytes huge_leader = good[0];
    huge_leader[8 + 16 + 3] = 200;  // width 200: 2000 bytes for a 100-byte buffer
    std::vector<Bytes> hostile = {
        with(2, kDataSize + 1),                       // oversized
        with(0, kDataSize),                           // payload with the leader's id
        with(9, kDataSize),                           // beyond the frame
        with(8, kDataSize),                           // past the buffer's 100 bytes
        with(3, 0),                                   // empty
        Bytes(good[1].begin(), good[1].begin() + 7),  // header cut short
        header(false, 40, PacketFormat::h264, 1),
        header(false, 0, PacketFormat::payload, 1),
        {0x80, 0x0C, 0, 40, 0x03, 0, 0, 5, 1},             // error status
        Bytes(good[0].begin(), good[0].begin() + 8 + 20),  // image leader cut short
    };
    Sink sink;
    FrameAssembler a(settings(), sink);
    for (std::size_t i = 0; i < good.size(); ++i) {
        send(a, good[i]);
        if (i < hostile.size()) send(a, hostile[i]);
    }
    for (std::size_t i = good.size(); i < hostile.size(); ++i) send(a, hostile[i]);
    CHECK(sink.frames.size() == 1 && !sink.frames[0].incomplete && exact(sink.images[0], 40));
    CHECK(a.statistics().packets_dropped == hostile.size() && sink.guards_intact);

    // A leader announcing more than the buffer holds: incomplete, nothing written past it.
    Sink small;
    FrameAssembler b(settings(), small);
    send(b, huge_leader);
    for (std::size_t i = 1; i < good.size(); ++i) send(b, good[i]);
    b.on_tick(t0 + settings().frame_timeout);
    CHECK(small.frames.size() == 1 && small.frames[0].incomplete && small.guards_intact);
    CHECK(b.statistics().packets_dropped == 1);
}

TEST(frames_beyond_those_in_flight_go_incomplete_oldest_first) {
    Sink sink;
    auto s = settings();
    s.frames_in_flight = 2;
    FrameAssembler a(s, sink);
    for (std::uint64_t block : {10u, 11u, 12u}) {
        const auto packets = frame(block);
        for (std::size_t i = 0; i + 1 < packets.size(); ++i) send(a, packets[i]);  // no trailer
    }
    CHECK(sink.frames.size() == 1 && sink.frames[0].block_id == 10 && sink.frames[0].incomplete);
    send(a, frame(11).back());
    CHECK(sink.frames.size() == 2 && sink.frames[1].block_id == 11 && !sink.frames[1].incomplete);
    // No buffer for a block: it is dropped, and so are its later packets.
    sink.give = false;
    for (const auto &p : frame(13)) send(a, p);
    CHECK(a.statistics().frames_dropped == 1 && sink.frames.size() == 2);
    a.flush();
    CHECK(sink.frames.size() == 3 && sink.frames[2].block_id == 12);
    CHECK(a.statistics().frames_incomplete == 2 && sink.buffers.size() == 3 && sink.guards_intact);
}
