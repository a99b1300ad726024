// The control channel, the heartbeat and the stream receiver against a
// small camera on the loopback that answers from a register memory and
// misbehaves on request: lost commands, stale and foreign datagrams,
// PENDING_ACK, silence, refusals, lost stream packets. The stream is read
// both from the UDP socket and, where the process may, from a packet ring.
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "check.hpp"
#include "gev/net/control_channel.hpp"
#include "gev/net/discovery.hpp"
#include "gev/net/privilege.hpp"
#include "gev/net/receiver.hpp"

using namespace vantix::gev;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint32_t kLocalhost = 0x7F000001;

void put16(Bytes &b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8)), b.push_back(static_cast<std::uint8_t>(v));
}
void put32(Bytes &b, std::uint32_t v) {
    put16(b, static_cast<std::uint16_t>(v >> 16)), put16(b, static_cast<std::uint16_t>(v));
}
std::uint32_t get32(const std::uint8_t *p) {
    return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

Bytes ack(std::uint16_t status, std::uint16_t code, std::uint16_t id, const Bytes &payload) {
    Bytes b;
    put16(b, status), put16(b, code), put16(b, static_cast<std::uint16_t>(payload.size())),
        put16(b, id);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

struct Received {
    std::uint16_t code = 0, id = 0;
    Bytes payload;
};

// Answers from 64 KiB of big-endian memory unless `script` says otherwise:
// it returns the datagrams to send (with a pause before each), or nothing
// to use the memory's answer.
class FakeCamera {
public:
    struct Send {
        std::chrono::milliseconds pause;
        Bytes datagram;
        Endpoint to{};  // port 0: back to the sender
    };
    using Script = std::function<std::vector<Send>(const Received &, const Bytes &normal)>;

    FakeCamera() : memory_(0x10000) {
        std::string error;
        CHECK(socket_.open(Endpoint{kLocalhost, 0}, error));
        thread_ = std::thread([this] { run(); });
    }
    ~FakeCamera() {
        stop_ = true;
        thread_.join();
    }
    Endpoint endpoint() const { return socket_.local(); }
    void script(Script s) {
        std::lock_guard<std::recursive_mutex> hold(mutex_);
        script_ = std::move(s);
    }
    std::vector<Received> seen() {
        std::lock_guard<std::recursive_mutex> hold(mutex_);
        return seen_;
    }
    std::uint32_t word(std::uint32_t address) {
        std::lock_guard<std::recursive_mutex> hold(mutex_);
        return get32(&memory_[address]);
    }
    void set_word(std::uint32_t address, std::uint32_t v) {
        std::lock_guard<std::recursive_mutex> hold(mutex_);
        for (std::uint32_t i = 0; i < 4; ++i)
            memory_[address + i] = std::uint8_t(v >> (24 - 8 * i));
    }
    std::uint8_t *bytes() { return memory_.data(); }

private:
    Bytes normal_answer(const Received &c) {
        Bytes p;
        const std::uint8_t *in = c.payload.data();
        switch (c.code) {
            case kReadReg:
                for (std::size_t i = 0; i + 4 <= c.payload.size(); i += 4)
                    p.insert(p.end(), &memory_[get32(in + i)], &memory_[get32(in + i)] + 4);
                break;
            case kWriteReg:
                for (std::size_t i = 0; i + 8 <= c.payload.size(); i += 8)
                    std::memcpy(&memory_[get32(in + i)], in + i + 4, 4);
                put16(p, 0), put16(p, static_cast<std::uint16_t>(c.payload.size() / 8));
                break;
            case kReadMem: {
                const std::uint32_t at = get32(in), n = in[6] << 8 | in[7];
                put32(p, at);
                p.insert(p.end(), &memory_[at], &memory_[at] + n);
                break;
            }
            case kWriteMem:
                std::memcpy(&memory_[get32(in)], in + 4, c.payload.size() - 4);
                put16(p, 0), put16(p, static_cast<std::uint16_t>(c.payload.size() - 4));
                break;
            default:
                break;
        }
        return ack(kSuccess, static_cast<std::uint16_t>(c.code + 1), c.id, p);
    }
    void run() {
        std::uint8_t buffer[1500];
        while (!stop_) {
            Endpoint from;
            const long n = socket_.receive(buffer, sizeof buffer, from, 5ms);
            if (n < 8) continue;
            Received c;
            c.code = static_cast<std::uint16_t>(buffer[2] << 8 | buffer[3]);
            c.id = static_cast<std::uint16_t>(buffer[6] << 8 | buffer[7]);
            c.payload.assign(buffer + 8, buffer + n);
            std::vector<Send> sends;
            {
                std::lock_guard<std::recursive_mutex> hold(mutex_);
                seen_.push_back(c);
                const Bytes normal = normal_answer(c);
                if (script_) sends = script_(c, normal);
                if (!script_ || sends.empty()) sends = {{0ms, normal}};
            }
            for (const auto &s : sends) {
                std::this_thread::sleep_for(s.pause);
                if (!s.datagram.empty())
                    socket_.send_to(s.to.port ? s.to : from, s.datagram.data(), s.datagram.size());
            }
        }
    }
    UdpSocket socket_;
    Bytes memory_;
    std::recursive_mutex mutex_;  // a script may read the memory
    Script script_;
    std::vector<Received> seen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

const FakeCamera::Send kSilence{0ms, {}};

}  // namespace

TEST(commands_lost_on_the_way_are_sent_again_with_the_same_request_id) {
    FakeCamera camera;
    camera.set_word(0x0938, 3000);
    int calls = 0;
    camera.script([&](const Received &, const Bytes &) {
        return ++calls <= 2 ? std::vector<FakeCamera::Send>{kSilence}
                            : std::vector<FakeCamera::Send>{};
    });
    ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {50ms, 3});
    CHECK(channel.open().ok());
    std::uint32_t value = 0;
    const Result r = channel.read_register(0x0938, value);
    CHECK(r.ok() && value == 3000);
    const auto seen = camera.seen();
    CHECK(seen.size() == 3);
    for (const auto &c : seen) CHECK(c.id == seen[0].id && c.id != 0);
    // The next command has a new id.
    CHECK(channel.read_register(0x0938, value).ok());
    CHECK(camera.seen().back().id != seen[0].id);
}

TEST(stale_acknowledges_and_foreign_datagrams_are_ignored) {
    FakeCamera camera;
    camera.set_word(0x0100, 0x11111111);
    camera.script([&](const Received &c, const Bytes &normal) {
        Bytes old = ack(kSuccess, kReadReg + 1, static_cast<std::uint16_t>(c.id - 1), {0, 0, 0, 7});
        Bytes wrong_code = ack(kSuccess, kWriteReg + 1, c.id, {0, 0, 0, 1});
        return std::vector<FakeCamera::Send>{
            {0ms, old}, {0ms, {1, 2, 3}}, {0ms, wrong_code}, {0ms, normal}};
    });
    ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {200ms, 0});
    CHECK(channel.open().ok());
    // Someone else writes to the channel's port too.
    UdpSocket stranger;
    std::string error;
    CHECK(stranger.open(Endpoint{kLocalhost, 0}, error));
    const Bytes forged = ack(kSuccess, kReadReg + 1, 1, {0xDE, 0xAD, 0xBE, 0xEF});
    stranger.send_to(channel.local(), forged.data(), forged.size());

    std::uint32_t value = 0;
    CHECK(channel.read_register(0x0100, value).ok());
    CHECK(value == 0x11111111);
    const auto s = channel.statistics();
    CHECK(s.stale_acks == 2 && s.foreign >= 2 && s.resends == 0);
}

TEST(pending_ack_extends_the_wait_without_a_resend) {
    FakeCamera camera;
    camera.set_word(0x0104, 42);
    camera.script([&](const Received &c, const Bytes &normal) {
        // Busy for longer than the channel's whole time-out with resends.
        const Bytes pending = ack(kSuccess, kPendingAck, c.id, {0, 0, 0x01, 0x90});  // 400 ms
        return std::vector<FakeCamera::Send>{{0ms, pending}, {250ms, normal}};
    });
    ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {60ms, 1});
    CHECK(channel.open().ok());
    std::uint32_t value = 0;
    CHECK(channel.read_register(0x0104, value).ok() && value == 42);
    CHECK(camera.seen().size() == 1);
    CHECK(channel.statistics().pending_acks == 1);
}

TEST(a_silent_camera_ends_in_a_timeout_error_after_the_retries) {
    FakeCamera camera;
    camera.script(
        [](const Received &, const Bytes &) { return std::vector<FakeCamera::Send>{kSilence}; });
    ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {40ms, 2});
    CHECK(channel.open().ok());
    std::uint32_t value = 0;
    const auto started = std::chrono::steady_clock::now();
    const Result r = channel.read_register(0x0938, value);
    CHECK(std::chrono::steady_clock::now() - started < 5s);  // no hang
    CHECK(r.code == gc::kTimeout);
    CHECK(r.text.find("READREG 0x00000938") != std::string::npos);
    CHECK(r.text.find("TESTCAM (127.0.0.1)") != std::string::npos);
    CHECK(camera.seen().size() == 3);
}

TEST(status_codes_become_gentl_errors_named_after_command_and_address) {
    struct Case {
        std::uint16_t status;
        std::int32_t code;
    };
    for (const Case c :
         {Case{kAccessDenied, gc::kAccessDenied}, Case{kWriteProtect, gc::kAccessDenied},
          Case{kInvalidAddress, gc::kInvalidAddress}, Case{kNotImplemented, gc::kNotImplemented},
          Case{kBusy, gc::kBusy}, Case{kBadAlignment, gc::kIo}, Case{kError, gc::kIo}}) {
        FakeCamera camera;
        camera.script([&](const Received &cmd, const Bytes &) {
            return std::vector<FakeCamera::Send>{{0ms, ack(c.status, kWriteReg + 1, cmd.id, {})}};
        });
        ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {200ms, 3});
        CHECK(channel.open().ok());
        const Result r = channel.write_register(0x0A00, 2);
        CHECK(r.code == c.code);
        CHECK(r.text.find("WRITEREG 0x00000A00 on camera TESTCAM") != std::string::npos);
        CHECK(camera.seen().size() == 1);  // a refusal is not resent
    }
}

TEST(memory_is_read_and_written_in_aligned_chunks_of_at_most_512_bytes) {
    FakeCamera camera;
    for (int i = 0; i < 0x1000; ++i) camera.bytes()[i] = static_cast<std::uint8_t>(i * 7 + 3);
    ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {200ms, 3});
    CHECK(channel.open().ok());
    struct Span {
        std::uint32_t address;
        std::size_t size;
    };
    for (const Span s : {Span{0x200, 512}, Span{0x1FE, 700}, Span{0x101, 2}, Span{0x3, 1}}) {
        std::vector<std::uint8_t> got(s.size);
        CHECK(channel.read_memory(s.address, got.data(), got.size()).ok());
        CHECK(std::memcmp(got.data(), camera.bytes() + s.address, s.size) == 0);
    }
    // Partly covered words keep their other bytes.
    const std::uint8_t before = camera.bytes()[0x802], after = camera.bytes()[0x80B];
    const std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    CHECK(channel.write_memory(0x803, data, sizeof data).ok());
    CHECK(std::memcmp(camera.bytes() + 0x803, data, sizeof data) == 0);
    CHECK(camera.bytes()[0x802] == before && camera.bytes()[0x80B] == after);
    std::vector<std::uint8_t> big(1300, 0xAB);
    CHECK(channel.write_memory(0x400, big.data(), big.size()).ok());
    CHECK(std::memcmp(camera.bytes() + 0x400, big.data(), big.size()) == 0);
    for (const auto &c : camera.seen()) {
        if (c.code == kReadMem) {
            const std::uint32_t at = get32(c.payload.data()),
                                n = std::uint32_t{c.payload[6]} << 8 | c.payload[7];
            CHECK(at % 4 == 0 && n % 4 == 0 && n <= 512);
        }
        if (c.code == kWriteMem)
            CHECK(get32(c.payload.data()) % 4 == 0 && c.payload.size() - 4 <= 512);
    }
    // Past the 32-bit address space: refused, unsent.
    std::uint8_t x[8];
    CHECK(channel.read_memory(0xFFFFFFFCull, x, 8).code == gc::kInvalidAddress);
}

TEST(a_read_only_channel_refuses_writes_without_sending_them) {
    FakeCamera camera;
    ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {200ms, 3});
    CHECK(channel.open().ok());
    Privilege monitor(channel);
    CHECK(monitor.take(Access::read_only).ok());
    const std::size_t sent = camera.seen().size();
    const std::uint8_t data[4] = {};
    CHECK(channel.write_register(0x0A00, 2).code == gc::kAccessDenied);
    CHECK(channel.write_memory(0x0100, data, 4).code == gc::kAccessDenied);
    CHECK(camera.seen().size() == sent);
    std::uint32_t value = 0;
    CHECK(channel.read_register(0x0A00, value).ok());
}

TEST(control_is_taken_kept_by_heartbeats_and_given_back) {
    FakeCamera camera;
    camera.set_word(reg::kHeartbeatTimeout, 300);
    ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {100ms, 3});
    CHECK(channel.open().ok());
    {
        Privilege control(channel);
        CHECK(control.take(Access::exclusive).ok());
        CHECK(camera.word(reg::kControlPrivilege) == 3);
        CHECK(control.heartbeat_period() <= 100ms);
        std::this_thread::sleep_for(350ms);
        std::size_t beats = 0;
        for (const auto &c : camera.seen())
            beats += c.code == kReadReg && get32(c.payload.data()) == reg::kControlPrivilege;
        CHECK(beats >= 2);
    }
    CHECK(camera.word(reg::kControlPrivilege) == 0);
    CHECK(!channel.lost());
}

TEST(a_camera_that_gives_up_our_control_is_lost) {
    FakeCamera camera;  // as after a restart: it answers, but CCP reads 0
    camera.set_word(reg::kHeartbeatTimeout, 300);
    ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {100ms, 3});
    CHECK(channel.open().ok());
    Privilege control(channel);
    CHECK(control.take(Access::control).ok());
    camera.set_word(reg::kControlPrivilege, 0);
    const auto started = std::chrono::steady_clock::now();
    while (!channel.lost() && std::chrono::steady_clock::now() - started < 10s)
        std::this_thread::sleep_for(10ms);
    CHECK(channel.lost_reason().find("gave up our control") != std::string::npos);
}

TEST(a_camera_that_stops_answering_is_lost_and_everything_then_fails_at_once) {
    FakeCamera camera;
    camera.set_word(reg::kHeartbeatTimeout, 300);
    ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {100ms, 3});
    CHECK(channel.open().ok());
    std::atomic<int> lost_calls{0};
    Privilege control(channel);
    CHECK(control.take(Access::control, [&](const std::string &) { ++lost_calls; }).ok());
    camera.script(
        [](const Received &, const Bytes &) { return std::vector<FakeCamera::Send>{kSilence}; });
    const auto started = std::chrono::steady_clock::now();
    while (!channel.lost() && std::chrono::steady_clock::now() - started < 10s)
        std::this_thread::sleep_for(10ms);
    CHECK(channel.lost());
    std::this_thread::sleep_for(20ms);
    CHECK(lost_calls == 1);
    const std::size_t sent = camera.seen().size();
    std::uint32_t value = 0;
    const Result r = channel.read_register(0x0938, value);
    CHECK(r.code == gc::kIo && r.text.find("does not answer") != std::string::npos);
    CHECK(camera.seen().size() == sent);
    control.release();  // no CCP write to a lost camera, no hang
    CHECK(camera.seen().size() == sent);
}

namespace {

Bytes stream_packet(std::uint64_t block, std::uint8_t format, std::uint32_t id, const Bytes &data,
                    bool extended = false) {
    Bytes b;
    if (extended) {
        put16(b, 0), put16(b, 0), put32(b, 0x80000000u | std::uint32_t(format) << 24);
        put32(b, std::uint32_t(block >> 32)), put32(b, std::uint32_t(block)), put32(b, id);
    } else {
        put16(b, 0), put16(b, std::uint16_t(block)), put32(b, std::uint32_t(format) << 24 | id);
    }
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

class Frames : public FrameSink {
public:
    bool acquire(Target &t) override {
        t.memory = memory_.data(), t.size = memory_.size();
        return true;
    }
    void deliver(const Target &, const AssembledFrame &f) override {
        std::lock_guard<std::mutex> hold(mutex_);
        frames_.push_back(f);
    }
    void request_resend(std::uint64_t, std::uint32_t, std::uint32_t) override {}
    std::vector<AssembledFrame> frames() {
        std::lock_guard<std::mutex> hold(mutex_);
        return frames_;
    }
    Bytes memory_ = Bytes(8192);

private:
    std::mutex mutex_;
    std::vector<AssembledFrame> frames_;
};

}  // namespace

bool may_open_packet_sockets() {
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM, 0);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

// Both block id widths: the receiver follows the one the camera streams.
// The same frames, byte for byte, whether read from the ring or the socket.
void stream_test(bool extended, bool ring) {
    FakeCamera camera;
    camera.set_word(reg::kCapability, kCapabilityPacketResend);
    camera.set_word(reg::stream_packet_size(0), 576);
    constexpr std::uint32_t kLargest = 1500;  // what this camera's path carries
    const std::uint64_t kBlock = extended ? 0x123456789ull : 7;
    const std::size_t kData = kLargest - (extended ? 48 : 36), kHeight = 3;
    const std::size_t kHeader = extended ? 20 : 8;
    auto payload = [&](std::uint32_t id) {
        Bytes data(kData);
        for (std::size_t i = 0; i < kData; ++i) data[i] = std::uint8_t(std::size_t{id} * 31 + i);
        return stream_packet(kBlock, 3, id, data, extended);
    };
    camera.script([&](const Received &c, const Bytes &) -> std::vector<FakeCamera::Send> {
        const Endpoint stream{camera.word(reg::stream_destination(0)),
                              static_cast<std::uint16_t>(camera.word(reg::stream_port(0)))};
        if (c.code == kWriteReg && get32(c.payload.data()) == reg::stream_packet_size(0)) {
            const std::uint32_t v = get32(c.payload.data() + 4);
            const std::uint32_t size = v & kPacketSizeMask;
            std::vector<FakeCamera::Send> out;
            if ((v & kPacketSizeFireTest) && size <= kLargest)
                out.push_back({0ms, Bytes(size - 28, 0), stream});
            camera.set_word(reg::stream_packet_size(0), v & ~kPacketSizeFireTest);
            out.push_back({0ms, ack(kSuccess, kWriteReg + 1, c.id, {0, 0, 0, 1})});
            return out;
        }
        if (c.code == kPacketResend) {  // never acknowledged
            const std::uint32_t mask = extended ? 0xFFFFFFFF : 0xFFFFFF;
            const std::uint32_t first = get32(c.payload.data() + 4) & mask,
                                last = get32(c.payload.data() + 8) & mask;
            std::vector<FakeCamera::Send> out;
            for (std::uint32_t id = first; id <= last; ++id)
                out.push_back({0ms, payload(id), stream});
            return out;
        }
        return {};
    });
    ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {200ms, 3});
    CHECK(channel.open().ok());
    ReceiverSettings settings;
    settings.packet_ring = ring;
    StreamReceiver receiver(channel, settings);
    CHECK(receiver.configure(kLocalhost).ok());
    CHECK(camera.word(reg::stream_destination(0)) == kLocalhost);
    CHECK(camera.word(reg::stream_port(0)) == receiver.local().port);
    CHECK(receiver.packet_size() == kLargest);
    CHECK((camera.word(reg::stream_packet_size(0)) & ~kPacketSizeDoNotFragment) == kLargest);
    CHECK(receiver.assembler_settings().resend);

    Frames frames;
    CHECK(receiver.start(frames).ok());
    UdpSocket camera_stream, stranger;
    std::string error;
    CHECK(camera_stream.open(Endpoint{kLocalhost, 0}, error));
    CHECK(stranger.open(Endpoint{0x7F000002, 0}, error));
    Bytes leader;
    put16(leader, 0), put16(leader, 1), put32(leader, 0), put32(leader, 0);
    put32(leader, 0x01080001), put32(leader, static_cast<std::uint32_t>(kData)),
        put32(leader, kHeight);
    put32(leader, 0), put32(leader, 0), put16(leader, 0), put16(leader, 0);
    Bytes trailer;
    put32(trailer, 1), put32(trailer, kHeight);
    // Packet 2 is lost on the way; a stranger's packet claims its place.
    const Bytes fake2 = stream_packet(kBlock, 3, 2, Bytes(kData, 0xEE), extended);
    stranger.send_to(receiver.local(), fake2.data(), fake2.size());
    for (const Bytes &p : {stream_packet(kBlock, 1, 0, leader, extended), payload(1), payload(3),
                           stream_packet(kBlock, 2, 4, trailer, extended)})
        camera_stream.send_to(receiver.local(), p.data(), p.size());
    const auto started = std::chrono::steady_clock::now();
    while (frames.frames().empty() && std::chrono::steady_clock::now() - started < 5s)
        std::this_thread::sleep_for(5ms);
    receiver.stop();
    const auto got = frames.frames();
    CHECK(got.size() == 1);
    if (got.size() == 1) {
        CHECK(got[0].block_id == kBlock && !got[0].incomplete && got[0].filled == kData * kHeight);
        for (std::uint32_t id = 1; id <= kHeight; ++id) {
            const Bytes p = payload(id);
            CHECK(std::memcmp(frames.memory_.data() + (id - 1) * kData, p.data() + kHeader,
                              kData) == 0);
        }
    }
    const auto s = receiver.statistics();
    CHECK(s.foreign_packets == 1);
    CHECK(s.stream.packets_resend_requested >= 1 && s.stream.packets_recovered >= 1);
    CHECK(s.packet_ring == (ring && may_open_packet_sockets()));
}

TEST(the_stream_is_pointed_at_the_host_sized_by_test_packets_and_lost_packets_are_resent) {
    for (bool ring : {false, true}) stream_test(false, ring);
}

TEST(a_stream_with_64_bit_block_ids_is_followed) {
    for (bool ring : {false, true}) stream_test(true, ring);
}

TEST(the_device_list_keeps_well_formed_addresses_and_drops_the_rest) {
    struct Case {
        const char *text;
        std::vector<std::uint32_t> ips;
    };
    for (const Case &c : std::vector<Case>{
             {"", {}},
             {"10.0.0.5", {0x0A000005}},
             {" 10.0.0.5 ,\t192.168.1.20,127.0.0.1 ", {0x0A000005, 0xC0A80114, kLocalhost}},
             {"1.2.3.256,1.2.3,1.2.3.4.5,a.b.c.d,,1.2.3.-4,1.2.3.4x, 8.8.8.8", {0x08080808}},
             {"0255.1.1.1,255.255.255.255", {0xFFFFFFFF}},
         }) {
        CHECK(parse_address_list(c.text) == c.ips);
    }
}

TEST(several_registers_share_a_command_only_when_the_camera_takes_them) {
    for (const bool concatenation : {false, true}) {
        FakeCamera camera;
        camera.set_word(reg::kCapability, concatenation ? 0x1 : 0x0);
        for (std::uint32_t a = 0x100; a < 0x110; a += 4) camera.set_word(a, a * 3);
        ControlChannel channel(camera.endpoint(), kLocalhost, "TESTCAM", {200ms, 3});
        CHECK(channel.open().ok());
        Privilege monitor(channel);
        CHECK(monitor.take(Access::read_only).ok());
        const std::size_t before = camera.seen().size();
        const std::uint32_t addresses[4] = {0x100, 0x104, 0x108, 0x10C};
        std::uint32_t values[4] = {};
        CHECK(channel.read_registers(addresses, 4, values).ok());
        for (int i = 0; i < 4; ++i) CHECK(values[i] == addresses[i] * 3);
        CHECK(camera.seen().size() - before == (concatenation ? 1u : 4u));
    }
}

// Last: it gives up the right to packet sockets for the rest of the process.
TEST(without_the_right_to_a_packet_socket_the_stream_is_read_from_the_udp_socket) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    CHECK(::syscall(SYS_capget, &header, caps) == 0);
    caps[CAP_NET_RAW / 32].effective &= ~(1u << (CAP_NET_RAW % 32));
    CHECK(::syscall(SYS_capset, &header, caps) == 0);
    CHECK(!may_open_packet_sockets());
    stream_test(false, true);
}
