#include "receiver.hpp"

#include <algorithm>
#include <memory>
#include <pthread.h>
#include <utility>

namespace vantix::gev {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

// Passes the frames on and sends the assembler's resend requests.
class StreamReceiver::ResendingSink : public FrameSink {
public:
    ResendingSink(FrameSink &inner, ControlChannel &control, std::uint16_t channel, bool extended)
        : inner_(inner), control_(control), channel_(channel), extended_(extended) {}
    bool acquire(Target &target) override { return inner_.acquire(target); }
    void deliver(const Target &target, const AssembledFrame &frame) override {
        inner_.deliver(target, frame);
    }
    void request_resend(std::uint64_t block_id, std::uint32_t first, std::uint32_t last) override {
        control_.request_resend(channel_, block_id, first, last, extended_);
    }
    void set_extended(bool extended) { extended_ = extended; }

private:
    FrameSink &inner_;
    ControlChannel &control_;
    std::uint16_t channel_;
    bool extended_;
};

StreamReceiver::StreamReceiver(ControlChannel &control, ReceiverSettings settings)
    : control_(control), settings_(std::move(settings)) {}

bool StreamReceiver::test_packet_arrives(std::uint32_t size, std::uint32_t flags) {
    // Earlier test packets, or stray ones, must not count for this size.
    std::uint8_t drain[64];
    Endpoint from;
    while (socket_.receive(drain, sizeof drain, from, std::chrono::milliseconds(0)) > 0) {
    }
    const std::uint32_t address = reg::stream_packet_size(settings_.channel);
    if (!control_
             .write_register(address, flags | kPacketSizeFireTest | kPacketSizeDoNotFragment | size)
             .ok())
        return false;
    std::vector<std::uint8_t> packet(size + 64);
    const auto deadline = Clock::now() + settings_.test_packet_wait;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        const long n = socket_.receive(packet.data(), packet.size(), from, left);
        if (n < 0) return false;
        if (n == 0 || from.ip != control_.camera().ip) continue;
        // The camera may have cut the size to what it can: what it keeps
        // is what the register now reads.
        std::uint32_t now = 0;
        if (!control_.read_register(address, now).ok()) return false;
        const std::uint32_t kept = now & kPacketSizeMask;
        return kept <= size && static_cast<std::size_t>(n) + kIpUdpOverhead == kept;
    }
}

Result StreamReceiver::configure(std::uint32_t host_ip) {
    if (running()) return {gc::kError, "the stream of camera " + control_.name() + " is running"};
    std::string error;
    if (!socket_.open(Endpoint{host_ip, 0}, error))
        return {gc::kIo, "stream of camera " + control_.name() + ": " + error};
    granted_buffer_ = socket_.grow_receive_buffer(settings_.receive_buffer);

    const unsigned ch = settings_.channel;
    std::uint32_t gvcp_capability = 0;
    if (Result r = control_.read_register(reg::kCapability, gvcp_capability); !r.ok()) return r;
    // Older cameras have no stream capability register.
    if (!control_.read_register(reg::stream_capability(ch), capability_).ok()) capability_ = 0;
    settings_.assembler.resend =
        settings_.resend && (gvcp_capability & kCapabilityPacketResend) != 0;

    if (Result r = control_.write_register(reg::stream_destination(ch), host_ip); !r.ok()) return r;
    if (Result r = control_.write_register(reg::stream_port(ch), socket_.local().port); !r.ok())
        return r;

    std::uint32_t original = 0;
    if (Result r = control_.read_register(reg::stream_packet_size(ch), original); !r.ok()) return r;
    const std::uint32_t flags = original & ~(kPacketSizeFireTest | kPacketSizeMask);
    std::uint32_t chosen = original & kPacketSizeMask;
    if (settings_.negotiate_packet_size) {
        for (std::uint16_t size : settings_.packet_sizes) {
            if (test_packet_arrives(size, flags & ~kPacketSizeDoNotFragment)) {
                std::uint32_t now = 0;
                if (control_.read_register(reg::stream_packet_size(ch), now).ok())
                    chosen = now & kPacketSizeMask;
                break;
            }
        }
        // No test packet came back: the camera's own size stays.
        if (Result r = control_.write_register(reg::stream_packet_size(ch), flags | chosen);
            !r.ok())
            return r;
    }
    packet_size_ = chosen;
    settings_.assembler.packet_data_size =
        packet_data_size(packet_size_, settings_.assembler.extended_ids);
    if (settings_.assembler.packet_data_size == 0)
        return {gc::kIo, "camera " + control_.name() + " streams packets of " +
                             std::to_string(packet_size_) + " bytes, too small for any data"};
    return {};
}

Result StreamReceiver::start(FrameSink &sink) {
    if (!socket_.is_open())
        return {gc::kError, "the stream of camera " + control_.name() + " is not configured"};
    if (running()) return {};
    // The ring reads the stream from now on; the socket, still bound,
    // keeps nothing more (what it holds already is read first).
    std::string ignored;
    if (settings_.packet_ring && ring_.open(socket_.local(), settings_.ring_bytes, ignored) &&
        !socket_.set_discard(true))
        ring_.close();
    stop_ = false;
    thread_ = std::thread([this, &sink] {
        // Nothing may escape into the consumer's process: out of memory
        // ends this stream's reception, and its waits time out.
        try {
            run(sink);
        } catch (...) {  // NOLINT(bugprone-empty-catch): as said above
        }
    });
    pthread_setname_np(thread_.native_handle(), "vantix gev rx");
    return {};
}

void StreamReceiver::stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
    if (ring_.is_open()) {
        ring_.close();
        socket_.set_discard(false);
    }
}

void StreamReceiver::run(FrameSink &sink) {
    AssemblerSettings mode = settings_.assembler;
    ResendingSink resending(sink, control_, static_cast<std::uint16_t>(settings_.channel),
                            mode.extended_ids);
    auto assembler = std::make_unique<FrameAssembler>(mode, resending);
    // The camera chooses 16- or 64-bit block ids (a GigE Vision 2 camera
    // may be set to the latter): its first packet tells which this stream
    // speaks, and the ids and the data per packet follow.
    bool mode_known = false;
    auto adopt_mode = [&](const ReceiveSlot &s) {
        StreamPacket packet;
        if (!parse_stream_packet(s.data, s.size, packet)) return;  // a late test packet, say
        mode_known = true;
        const bool extended = packet.extended;
        if (extended == mode.extended_ids) return;
        mode.extended_ids = extended;
        mode.packet_data_size = packet_data_size(packet_size_, extended);
        resending.set_extended(extended);
        assembler = std::make_unique<FrameAssembler>(mode, resending);
    };
    // Room for the largest packet plus slack, so a longer one shows as cut.
    const std::size_t room = std::max<std::size_t>(packet_size_, 1500) + 64;
    const std::size_t batch = std::max<std::size_t>(settings_.batch, 1);
    std::vector<std::uint8_t> memory(room * batch);
    std::vector<ReceiveSlot> slots(batch), ring_slots(batch);
    for (std::size_t i = 0; i < batch; ++i) {
        slots[i].data = memory.data() + i * room;
        slots[i].capacity = room;
    }
    const bool ringed = ring_.is_open();
    const std::uint32_t camera_ip = control_.camera().ip;
    std::uint64_t foreign = 0, truncated = 0;
    auto publish = [&] {
        std::lock_guard<std::mutex> hold(stats_mutex_);
        stats_.stream = assembler->statistics();
        stats_.foreign_packets = foreign;
        stats_.truncated_packets = truncated;
        stats_.receive_buffer = granted_buffer_;
        stats_.packet_ring = ringed;
    };
    // What the socket took before the ring was there comes first.
    bool socket_drained = !ringed;
    auto receive = [&]() -> std::pair<int, const ReceiveSlot *> {
        if (!socket_drained) {
            const int n =
                socket_.receive_batch(slots.data(), slots.size(), std::chrono::milliseconds(0));
            if (n > 0) return {n, slots.data()};
            socket_drained = true;
        }
        // Between frames only a packet needs the thread.
        const auto wait = assembler->idle() ? settings_.idle_wait : settings_.tick;
        if (ringed)
            return {ring_.receive_batch(ring_slots.data(), ring_slots.size(), wait),
                    ring_slots.data()};
        return {socket_.receive_batch(slots.data(), slots.size(), wait), slots.data()};
    };
    auto last_tick = Clock::now();
    while (!stop_) {
        const auto [n, got] = receive();
        const auto now = Clock::now();
        if (n < 0) std::this_thread::sleep_for(settings_.tick);  // not a busy loop on errors
        for (int i = 0; i < n; ++i) {
            const ReceiveSlot &s = got[i];
            if (s.from.ip != camera_ip) {
                ++foreign;
            } else if (s.truncated) {
                ++truncated;
            } else {
                if (!mode_known) adopt_mode(s);
                assembler->on_packet(s.data, s.size, now);
            }
        }
        if (now - last_tick >= settings_.tick || n <= 0) {
            assembler->on_tick(now);
            last_tick = now;
            publish();
        }
    }
    assembler->flush();
    publish();
}

ReceiverStatistics StreamReceiver::statistics() const {
    std::lock_guard<std::mutex> hold(stats_mutex_);
    ReceiverStatistics s = stats_;
    s.receive_buffer = granted_buffer_;
    return s;
}

}  // namespace vantix::gev
