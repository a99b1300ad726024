// Random and mutated network input for the GigE Vision protocol code, built
// with its sources under ASan and UBSan (tools/fuzz_gev.py). Outcomes are
// checked, not only survived:
//  - control answers: an acknowledge is accepted only within its datagram,
//    typed readers only hand out bytes of the payload, discovery text is
//    printable UTF-8;
//  - stream packets: a FrameAssembler fed mutated packet sequences into
//    small lent buffers with guard bytes; nothing outside a lent buffer, and
//    nothing in a buffer already handed back, changes; every buffer comes
//    back once; the counters add up; clean sequences give exact frames;
//  - the GenICam document's URL and zip reader: accepted results are within
//    their bounds, refusals say why and leave the output alone.
//
//     fuzz_gev COUNT SEED             (a failure prints the input's target
//     fuzz_gev --replay TARGET SEED    and seed, to replay it alone)
#include <sanitizer/common_interface_defs.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gev/protocol/frame_assembler.hpp"
#include "gev/protocol/gvcp.hpp"
#include "gev/protocol/gvsp.hpp"
#include "gev/protocol/xml_location.hpp"

using namespace vantix::gev;
using Bytes = std::vector<std::uint8_t>;
using Clock = FrameAssembler::Clock;

namespace {

// What the stream sequences reached, summed over the run.
StreamStatistics reached;

// The input under test: which target, and the seed that generates it.
int current_target = -1;
std::uint64_t current_seed = 0;

void say_current() {
    std::fprintf(stderr, "  input: fuzz_gev --replay %d %llu\n", current_target,
                 static_cast<unsigned long long>(current_seed));
}

void expect(bool holds, const char *what) {
    if (holds) return;
    std::fprintf(stderr, "CHECK FAILED: %s\n", what);
    say_current();
    std::abort();
}

struct Rng {
    std::mt19937_64 g;
    explicit Rng(std::uint64_t seed) : g(seed) {}
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : g() % n; }
    bool chance(unsigned percent) { return below(100) < percent; }
    std::uint8_t byte() { return static_cast<std::uint8_t>(g()); }
};

void put(Bytes &b, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put_le(Bytes &b, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint32_t get32(const std::uint8_t *p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void mutate(Rng &r, Bytes &b) {
    static const std::uint32_t kInteresting[] = {
        0,      1,      2,       0x7F,     0x80,       0xFF,        0x100,
        0x7FFF, 0xFFFF, 0x10000, 0xFFFFFF, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
    const auto rounds = 1 + r.below(4);
    for (std::uint64_t k = 0; k < rounds; ++k) {
        const std::size_t at = r.below(b.size() + 1);
        switch (r.below(8)) {
            case 0:
                if (!b.empty()) b[r.below(b.size())] ^= static_cast<std::uint8_t>(1u << r.below(8));
                break;
            case 1:
                if (!b.empty()) b[r.below(b.size())] = r.byte();
                break;
            case 2:
                b.resize(r.below(b.size() + 1));
                break;
            case 3:
                for (auto n = r.below(40); n > 0; --n) b.push_back(r.byte());
                break;
            case 4:
                b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), r.below(8) + 1, r.byte());
                break;
            case 5:
            case 6: {  // a 16- or 32-bit field set to a boundary value
                const std::size_t width = r.chance(50) ? 2 : 4;
                const std::uint32_t v = kInteresting[r.below(std::size(kInteresting))];
                for (std::size_t i = 0; i < width && at + i < b.size(); ++i)
                    b[at + i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
                break;
            }
            default:
                if (!b.empty()) b.erase(b.begin() + static_cast<std::ptrdiff_t>(r.below(b.size())));
        }
    }
}

// A copy of exactly `b.size()` bytes of its own, so a read past it is seen.
std::unique_ptr<std::uint8_t[]> exact_copy(const Bytes &b) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[b.size() + (b.empty() ? 1 : 0)]);
    if (!b.empty()) std::memcpy(copy.get(), b.data(), b.size());
    return copy;
}

bool printable_utf8(const std::string &s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto lead = static_cast<unsigned char>(s[i]);
        std::size_t n = lead < 0x80             ? 1
                        : (lead & 0xE0) == 0xC0 ? 2
                        : (lead & 0xF0) == 0xE0 ? 3
                        : (lead & 0xF8) == 0xF0 ? 4
                                                : 0;
        if (n == 0 || i + n > s.size()) return false;
        std::uint32_t cp = n == 1 ? lead : lead & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            cp = cp << 6 | (next & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < smallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return false;
        i += n;
    }
    return true;
}

// ---- control answers ---------------------------------------------------

void control_answer(Rng &r) {
    Bytes payload;
    std::uint16_t code = 0;
    std::size_t count = r.below(9);
    const std::uint32_t address = static_cast<std::uint32_t>(r.below(0x1000)) & ~3u;
    switch (r.below(6)) {
        case 0:
            code = kReadReg + 1;
            for (std::size_t i = 0; i < count; ++i) put(payload, r.g(), 4);
            break;
        case 1:
            code = kReadMem + 1;
            count = 4 * r.below(130);
            put(payload, address, 4);
            for (std::size_t i = 0; i < count; ++i) payload.push_back(r.byte());
            break;
        case 2:
        case 3:
            code = kDiscovery + 1;
            for (std::size_t i = 0; i < kDiscoveryMemorySize; ++i)
                payload.push_back(r.chance(70) ? static_cast<std::uint8_t>(0x20 + r.below(95))
                                               : r.byte());
            break;
        case 4:
            code = kPendingAck;
            put(payload, r.below(3000), 4);
            break;
        default:
            code = static_cast<std::uint16_t>(r.g());
            for (auto n = r.below(64); n > 0; --n) payload.push_back(r.byte());
    }
    Bytes d;
    put(d, r.chance(80) ? 0 : r.g() & 0xFFFF, 2);
    put(d, code, 2);
    put(d, payload.size(), 2);
    put(d, 1 + r.below(65535), 2);
    d.insert(d.end(), payload.begin(), payload.end());
    if (r.chance(60)) mutate(r, d);

    const auto data = exact_copy(d);
    Ack ack;
    const bool parsed = parse_ack(data.get(), d.size(), ack);
    const bool fits =
        d.size() >= kHeaderSize && (std::size_t{d[4]} << 8 | d[5]) <= d.size() - kHeaderSize;
    expect(parsed == fits, "parse_ack accepts exactly the headers within their datagram");
    if (!parsed) return;
    expect(ack.payload == data.get() + kHeaderSize &&
               ack.payload_size == (std::size_t{d[4]} << 8 | d[5]),
           "ack payload");

    std::vector<std::uint32_t> values(count + 1, 0xDEADBEEF);
    if (read_registers_values(ack, count, values.data())) {
        expect(count * 4 <= ack.payload_size, "register values within the payload");
        for (std::size_t i = 0; i < count; ++i)
            expect(values[i] == get32(ack.payload + 4 * i), "register value");
    }
    expect(values[count] == 0xDEADBEEF, "no register value past those asked");
    const std::uint8_t *mem = nullptr;
    if (read_memory_data(ack, address, count, mem))
        expect(mem == ack.payload + 4 && count + 4 <= ack.payload_size, "memory within payload");
    std::uint32_t ms = 0;
    if (pending_ack_time_ms(ack, ms)) expect(ms <= 0xFFFF && ack.payload_size >= 4, "pending ack");
    Identity id;
    if (parse_discovery_ack(ack, id)) {
        expect(ack.payload_size >= kDiscoveryMemorySize, "discovery size");
        const std::pair<const std::string *, std::size_t> fields[] = {
            {&id.manufacturer, 32},      {&id.model, 32},  {&id.device_version, 32},
            {&id.manufacturer_info, 48}, {&id.serial, 16}, {&id.user_name, 16}};
        for (const auto &[text, size] : fields)
            expect(printable_utf8(*text) && text->size() <= 3 * size, "discovery text");
        expect(mac_text(id.mac).size() == 17 && ip_text(id.ip).size() <= 15, "address text");
    }
    expect(printable_utf8(field_text(data.get(), d.size())), "field_text");
    expect(status_name(ack.status) != nullptr, "status name");
}

// ---- stream packets ----------------------------------------------------

constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kGuardByte = 0x5A;

std::uint64_t digest(const std::uint8_t *p, std::size_t n) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

struct Lent {
    std::unique_ptr<std::uint8_t[]> region;  // guard, lent bytes, guard
    std::size_t size = 0;
    bool delivered = false;
    std::uint64_t content = 0;  // when handed back
    AssembledFrame frame;
};

struct CheckingSink : FrameSink {
    Rng &r;
    AssemblerSettings settings;
    bool refuse_some = true;
    std::size_t buffer_size = 0;
    std::vector<Lent> lent;
    std::uint64_t refused = 0, delivered = 0, complete = 0, requested = 0;
    std::map<std::uint64_t, unsigned> requests_in_flight;  // per block, since its last delivery

    CheckingSink(Rng &rng, const AssemblerSettings &s) : r(rng), settings(s) {}

    bool acquire(Target &t) override {
        if (refuse_some && r.chance(5)) {
            ++refused;
            return false;
        }
        Lent l;
        l.size = buffer_size;
        l.region.reset(new std::uint8_t[l.size + 2 * kGuard]);
        std::memset(l.region.get(), kGuardByte, l.size + 2 * kGuard);
        t.memory = l.region.get() + kGuard;
        t.size = l.size;
        t.tag = reinterpret_cast<void *>(lent.size());
        lent.push_back(std::move(l));
        return true;
    }
    void deliver(const Target &t, const AssembledFrame &f) override {
        const auto index = reinterpret_cast<std::size_t>(t.tag);
        expect(index < lent.size(), "delivered a buffer never lent");
        Lent &l = lent[index];
        expect(!l.delivered, "a buffer delivered twice");
        expect(t.memory == l.region.get() + kGuard && t.size == l.size, "the target as lent");
        expect(guards_intact(l), "guard bytes around a buffer changed");
        expect(f.filled <= l.size, "filled within the buffer");
        expect(f.incomplete || f.packets_missing == 0, "a complete frame misses packets");
        if (!f.incomplete && f.has_leader)
            expect(image_size(f.leader, l.size) <= f.filled, "a complete frame holds its image");
        l.delivered = true;
        l.content = digest(t.memory, t.size);
        l.frame = f;
        ++delivered;
        complete += !f.incomplete;
        auto &asked = requests_in_flight[f.block_id];
        expect(asked <= settings.resend_requests_per_frame, "resend requests bounded per frame");
        asked = 0;
    }
    void request_resend(std::uint64_t block, std::uint32_t first, std::uint32_t last) override {
        expect(settings.resend, "a resend request from a camera that does not resend");
        expect(first <= last && (settings.extended_ids || last <= 0xFFFFFF), "resend range");
        requested += std::uint64_t{last} - first + 1;
        ++requests_in_flight[block];
    }
    static bool guards_intact(const Lent &l) {
        for (std::size_t i = 0; i < kGuard; ++i)
            if (l.region[i] != kGuardByte || l.region[kGuard + l.size + i] != kGuardByte)
                return false;
        return true;
    }
};

struct Block {
    std::uint64_t id;
    Bytes content;  // the payload bytes the camera sends
    std::vector<Bytes> packets;
};

Bytes stream_header(bool extended, std::uint64_t block, PacketFormat f, std::uint32_t id) {
    Bytes b;
    put(b, 0, 2);
    if (extended) {
        put(b, 0, 2);
        put(b, 0x80000000u | std::uint32_t(f) << 24, 4);
        put(b, block, 8);
        put(b, id, 4);
    } else {
        put(b, block, 2);
        put(b, std::uint32_t(f) << 24 | (id & 0xFFFFFF), 4);
    }
    return b;
}

Block make_block(Rng &r, const AssemblerSettings &s, std::uint64_t id, std::size_t max_bytes) {
    static const std::uint32_t kFormats[] = {0x01080001, 0x01100007, 0x02180014, 0x010C0047,
                                             0x01200000};
    Block b{id, {}, {}};
    ImageLeader l;
    l.pixel_format =
        r.chance(90) ? kFormats[r.below(std::size(kFormats))] : static_cast<std::uint32_t>(r.g());
    l.width = static_cast<std::uint32_t>(r.below(24));
    l.height = static_cast<std::uint32_t>(r.below(12));
    l.padding_x = static_cast<std::uint16_t>(r.chance(80) ? 0 : r.below(4));
    std::uint64_t bytes = image_size(l, max_bytes);
    if (bytes > max_bytes) l.width = l.height = 0, bytes = 0;
    const bool chunks = r.chance(20);
    if (chunks && bytes < max_bytes) bytes += r.below(max_bytes - bytes + 1);
    for (std::uint64_t i = 0; i < bytes; ++i) b.content.push_back(r.byte());

    Bytes leader = stream_header(s.extended_ids, id, PacketFormat::leader, 0);
    put(leader, 0, 2);
    put(leader, kPayloadTypeImage | (chunks ? kPayloadTypeChunkFlag : 0), 2);
    put(leader, r.g(), 8);
    for (auto v : {l.pixel_format, l.width, l.height, 0u, 0u}) put(leader, v, 4);
    put(leader, l.padding_x, 2);
    put(leader, 0, 2);
    b.packets.push_back(leader);
    const std::size_t size = s.packet_data_size;
    std::uint32_t pid = 1;
    for (std::size_t at = 0; at < b.content.size(); at += size, ++pid) {
        Bytes p = stream_header(s.extended_ids, id, PacketFormat::payload, pid);
        p.insert(
            p.end(), b.content.begin() + static_cast<std::ptrdiff_t>(at),
            b.content.begin() + static_cast<std::ptrdiff_t>(std::min(at + size, b.content.size())));
        b.packets.push_back(p);
    }
    Bytes trailer = stream_header(s.extended_ids, id, PacketFormat::trailer, pid);
    put(trailer, 1, 4);
    put(trailer, r.chance(50) ? 0 : l.height, 4);  // some cameras say 0
    b.packets.push_back(trailer);
    return b;
}

std::uint64_t next_block(const AssemblerSettings &s, std::uint64_t id) {
    if (s.extended_ids) return id + 1 == 0 ? 1 : id + 1;
    return id == 0xFFFF ? 1 : id + 1;
}

void stream_sequence(Rng &r) {
    AssemblerSettings s;
    s.packet_data_size = 1 + r.below(48);
    s.extended_ids = r.chance(30);
    s.resend = r.chance(50);
    s.resend_requests_per_frame = static_cast<unsigned>(r.below(9));
    s.resend_delay = std::chrono::milliseconds(1 + r.below(8));
    s.frame_timeout = std::chrono::milliseconds(5 + r.below(40));
    s.frames_in_flight = 1 + r.below(4);
    // Clean: whole frames, each reordered and duplicated within itself, no
    // loss, corruption or time-out; every one must come out exact.
    const bool clean = r.chance(20);

    CheckingSink sink(r, s);
    sink.refuse_some = !clean;
    sink.buffer_size = r.chance(25) ? r.below(16) : r.below(400);
    FrameAssembler a(s, sink);

    std::uint64_t id;
    if (s.extended_ids) {
        id = r.chance(50) ? 1 + r.below(100) : r.g() | 1;
    } else {
        const std::uint64_t starts[] = {65533, 65534, 65535, 1, 1 + r.below(65535)};
        id = starts[r.below(std::size(starts))];
    }
    std::vector<Block> blocks;
    for (auto n = 1 + r.below(5); n > 0; --n, id = next_block(s, id))
        blocks.push_back(make_block(r, s, id, clean ? sink.buffer_size : 2 * sink.buffer_size + 8));

    std::vector<Bytes> sequence;
    for (auto &b : blocks) {
        auto packets = b.packets;
        if (clean) {
            if (r.chance(50)) std::shuffle(packets.begin(), packets.end(), r.g);
            if (r.chance(30)) packets.push_back(packets[r.below(packets.size())]);
        }
        sequence.insert(sequence.end(), packets.begin(), packets.end());
    }
    if (!clean) {
        for (auto n = r.below(12); n > 0; --n) {
            const std::size_t at = r.below(sequence.size());
            switch (r.below(6)) {
                case 0:
                    sequence.erase(sequence.begin() + static_cast<std::ptrdiff_t>(at));
                    break;
                case 1:
                    sequence.push_back(sequence[at]);
                    break;
                case 2:
                    std::swap(sequence[at], sequence[r.below(sequence.size())]);
                    break;
                case 3: {  // another block's id
                    Bytes p = sequence[at];
                    if (p.size() >= 4) p[3] = r.byte();
                    sequence.push_back(p);
                    break;
                }
                default:
                    mutate(r, sequence[at]);
            }
            if (sequence.empty()) break;
        }
    }

    std::uint64_t fed = 0;
    auto now = Clock::time_point{} + std::chrono::hours(1);
    for (const auto &p : sequence) {
        const auto data = exact_copy(p);
        a.on_packet(data.get(), p.size(), now);
        ++fed;
        if (!clean && r.chance(30)) {
            now += std::chrono::microseconds(r.below(4000));
            a.on_tick(now);
        }
    }
    if (!clean && r.chance(50)) {
        for (int k = 0; k < 20; ++k) a.on_tick(now += std::chrono::milliseconds(3));
    }
    a.flush();

    const StreamStatistics &st = a.statistics();
    reached.frames_complete += st.frames_complete;
    reached.frames_incomplete += st.frames_incomplete;
    reached.frames_dropped += st.frames_dropped;
    reached.packets_dropped += st.packets_dropped;
    reached.packets_resend_requested += st.packets_resend_requested;
    reached.packets_recovered += st.packets_recovered;
    expect(st.packets_received + st.packets_dropped == fed, "every packet received or dropped");
    expect(st.frames_complete + st.frames_incomplete == sink.delivered, "frames counted");
    expect(st.frames_complete == sink.complete, "complete frames counted");
    expect(st.frames_dropped == sink.refused, "frames without a buffer counted");
    expect(st.packets_resend_requested == sink.requested, "resend requests counted");
    expect(st.packets_recovered <= st.packets_resend_requested, "recovered only what was asked");
    for (const auto &[block, asked] : sink.requests_in_flight)
        expect(asked == 0, "a resend request for a block never handed back");
    for (const Lent &l : sink.lent) {
        expect(l.delivered, "a lent buffer not handed back");
        expect(CheckingSink::guards_intact(l), "guard bytes changed after delivery");
        expect(digest(l.region.get() + kGuard, l.size) == l.content,
               "a buffer changed after it was handed back");
    }
    if (clean) {
        expect(sink.delivered == blocks.size() && sink.complete == blocks.size(),
               "a clean sequence gives complete frames");
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const Lent &l = sink.lent[i];
            expect(l.frame.block_id == blocks[i].id && l.frame.filled == blocks[i].content.size(),
                   "a clean frame's id and size");
            expect(blocks[i].content.empty() ||
                       std::memcmp(l.region.get() + kGuard, blocks[i].content.data(),
                                   blocks[i].content.size()) == 0,
                   "a clean frame byte-exact");
        }
    }
}

// ---- the GenICam document's URL and zip ---------------------------------

std::string hex(std::uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(v));
    return text;
}

void xml_url(Rng &r) {
    static const char *kNames[] = {"cam.xml", "Cam_v2.zip", "a", "x;y.xml", "dir/n.XML", ""};
    static const char *kSchemes[] = {"Local:",    "local:///", "File:", "file:///",
                                     "http://h/", "Loc:",      ""};
    const std::uint64_t address = r.chance(80) ? r.below(0x100000) : r.g() >> r.below(64);
    const std::uint64_t length = r.chance(80) ? r.below(0x10000) : r.g() >> r.below(64);
    std::string url =
        std::string(kSchemes[r.below(std::size(kSchemes))]) + kNames[r.below(std::size(kNames))];
    if (r.chance(80)) url += ";" + (r.chance(90) ? hex(address) : "0x1") + ";" + hex(length);
    if (r.chance(20)) url += "?SchemaVersion=1.1.0";
    Bytes b(url.begin(), url.end());
    if (r.chance(40)) mutate(r, b);
    const auto data = exact_copy(b);

    XmlLocation out;
    out.file_name = "untouched";
    std::string error;
    const bool ok =
        parse_xml_location(reinterpret_cast<const char *>(data.get()), b.size(), out, error);
    expect(ok == error.empty(), "a refusal says why, an acceptance says nothing");
    if (!ok) {
        expect(out.file_name == "untouched" && printable_utf8(error),
               "a refusal leaves the output");
        return;
    }
    expect(!out.file_name.empty() && printable_utf8(out.file_name), "the file name");
    if (out.scheme == XmlLocation::Scheme::local) {
        expect(out.size > 0 && out.address + out.size <= 0x100000000ull,
               "a local document within 32-bit memory");
        expect(out.file_name.find(';') == std::string::npos, "a local name without ';'");
    }
}

struct Archive {
    Bytes bytes;
    std::string content;
    bool valid = false;  // as built
};

Archive make_archive(Rng &r) {
    Archive a;
    const auto length = r.below(4) == 0 ? r.below(200000) : r.below(3000);
    const bool zeros = r.chance(30);
    for (std::uint64_t i = 0; i < length; ++i)
        a.content.push_back(zeros ? '\0'
                                  : static_cast<char>(r.chance(80) ? 'a' + r.below(8) : r.byte()));
    const std::uint16_t method = r.chance(70) ? 8 : 0;
    const std::uint16_t flags = r.chance(30) ? 0x8 : 0;
    Bytes body;
    if (method == 8) {
        z_stream z{};
        deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        body.resize(deflateBound(&z, a.content.size()));
        z.next_in = reinterpret_cast<Bytef *>(a.content.data());
        z.avail_in = static_cast<uInt>(a.content.size());
        z.next_out = body.data();
        z.avail_out = static_cast<uInt>(body.size());
        deflate(&z, Z_FINISH);
        body.resize(z.total_out);
        deflateEnd(&z);
    } else {
        body.assign(a.content.begin(), a.content.end());
    }
    const auto crc = crc32(0, reinterpret_cast<const Bytef *>(a.content.data()),
                           static_cast<uInt>(a.content.size()));
    const bool descriptor = flags != 0;
    Bytes &z = a.bytes;
    put_le(z, 0x04034B50, 4);
    put_le(z, 20, 2);
    put_le(z, flags, 2);
    put_le(z, method, 2);
    put_le(z, 0, 4);
    put_le(z, descriptor ? 0 : crc, 4);
    put_le(z, descriptor ? 0 : body.size(), 4);
    put_le(z, descriptor ? 0 : a.content.size(), 4);
    put_le(z, 5, 2);
    put_le(z, 0, 2);
    for (char c : std::string("d.xml")) z.push_back(static_cast<std::uint8_t>(c));
    z.insert(z.end(), body.begin(), body.end());
    if (descriptor) {
        put_le(z, 0x08074B50, 4);
        put_le(z, crc, 4);
        put_le(z, body.size(), 4);
        put_le(z, a.content.size(), 4);
    }
    a.valid = !(descriptor && method == 0);
    return a;
}

void xml_zip(Rng &r, const std::vector<Archive> &pool) {
    const Archive &base = pool[r.below(pool.size())];
    Bytes b = base.bytes;
    const bool mutated = r.chance(70);
    if (mutated) mutate(r, b);
    const std::size_t content = base.content.size();
    const std::size_t max_size = r.chance(50)   ? content + r.below(100)
                                 : r.chance(50) ? (content > 0 ? content - 1 - r.below(content) : 0)
                                                : r.below(1 << 20);
    const auto data = exact_copy(b);
    std::string out = "untouched", error;
    const bool ok = unzip_first_entry(data.get(), b.size(), out, error, max_size);
    expect(ok == error.empty(), "a refusal says why, an acceptance says nothing");
    if (!ok) expect(out == "untouched", "a refusal leaves the output");
    if (ok) expect(out.size() <= max_size, "an entry within max_size");
    if (!mutated) {
        expect(ok == (base.valid && content <= max_size), "a well-formed archive read");
        if (ok) expect(out == base.content, "a well-formed archive's entry exact");
    }
}

void run(int target, std::uint64_t seed, const std::vector<Archive> &pool) {
    current_target = target;
    current_seed = seed;
    Rng r(seed);
    switch (target) {
        case 0:
            control_answer(r);
            break;
        case 1:
            stream_sequence(r);
            break;
        case 2:
            xml_url(r);
            break;
        default:
            xml_zip(r, pool);
    }
}

// The same archives every run, so an input replays from its seed alone.
std::vector<Archive> archive_pool() {
    Rng r(0x5A5A);
    std::vector<Archive> pool;
    pool.reserve(48);
    for (int i = 0; i < 48; ++i) pool.push_back(make_archive(r));
    return pool;
}

}  // namespace

int main(int argc, char **argv) {
    __sanitizer_set_death_callback(say_current);
    if (argc == 4 && std::string(argv[1]) == "--replay") {
        const int target = static_cast<int>(std::strtol(argv[2], nullptr, 10));
        const std::uint64_t seed = std::strtoull(argv[3], nullptr, 10);
        run(target, seed, archive_pool());
        std::printf("replayed: all checks held\n");
        return 0;
    }
    const std::uint64_t inputs = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    const auto pool = archive_pool();
    std::uint64_t counts[4] = {};
    std::mt19937_64 seeds(seed);
    for (std::uint64_t i = 0; i < inputs; ++i) {
        // Stream sequences are the bulk: the assembler has the most state.
        const std::uint64_t pick = i % 10;
        const int target = pick < 3 ? 0 : pick < 7 ? 1 : pick < 9 ? 2 : 3;
        run(target, seeds(), pool);
        ++counts[target];
    }
    const auto n = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
    std::printf(
        "%llu inputs, seed %llu: %llu control answers, %llu stream sequences, %llu URLs, %llu "
        "zip archives: all checks held\n"
        "frames %llu complete, %llu incomplete, %llu without a buffer; packets %llu dropped, "
        "%llu asked again, %llu recovered\n",
        n(inputs), n(seed), n(counts[0]), n(counts[1]), n(counts[2]), n(counts[3]),
        n(reached.frames_complete), n(reached.frames_incomplete), n(reached.frames_dropped),
        n(reached.packets_dropped), n(reached.packets_resend_requested),
        n(reached.packets_recovered));
    return 0;
}
