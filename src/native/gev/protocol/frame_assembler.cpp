#include "frame_assembler.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "big_endian.hpp"
#include "gvcp.hpp"

namespace vantix::gev {

namespace {

constexpr std::uint8_t kReceived = 0x1, kRequested = 0x2;
// Ids kept of finished blocks, so their late packets are known as late.
constexpr std::size_t kFinishedKept = 64;
// A block this far behind the newest is a camera that started again, not a
// late packet.
constexpr std::int64_t kRestartDistance = 1024;
constexpr std::uint64_t kStandardBlockCycle = 65535;  // ids 1..65535
constexpr std::uint32_t kMaxPacketIds = 1u << 24;     // the standard header's id range

bool carries_data(std::uint16_t status) {
    return status == kSuccess || status == kPacketResendStatus;
}

}  // namespace

struct FrameAssembler::Block {
    bool active = false;
    std::uint64_t id = 0, order = 0;
    Target target;
    AssembledFrame frame;
    std::vector<std::uint8_t> packets;  // by packet id: 0 leader .. trailer; what the buffer holds
    std::uint32_t received = 0;
    std::int64_t highest = -1;  // highest packet id received
    std::uint32_t highest_payload = 0;
    bool trailer = false;
    std::uint32_t last_payload = 0;   // known with the trailer
    std::uint32_t expected_last = 0;  // from the leader's image size; 0 unknown
    std::uint32_t short_payload = 0;  // the one payload packet shorter than the others
    bool oversize = false;            // the leader announced more than the buffer holds
    bool gap = false, asked = false;
    unsigned requests = 0;
    Clock::time_point last_packet, gap_since, last_ask;

    std::uint32_t trailer_id() const {
        if (trailer) return last_payload + 1;
        const std::int64_t guess =
            std::max<std::int64_t>(highest + 1, expected_last != 0 ? expected_last + 1 : 0);
        return static_cast<std::uint32_t>(
            std::min<std::int64_t>(guess, static_cast<std::int64_t>(packets.size()) - 1));
    }
    // Packets not received from the leader to the trailer (its id guessed
    // while it has not come).
    std::uint32_t missing() const { return trailer_id() + 1 - received; }
    bool complete() const {
        if (!trailer || received != last_payload + 2 || oversize) return false;
        if (short_payload != 0 && short_payload != last_payload) return false;
        if (frame.has_leader && image_size(frame.leader, target.size) > frame.filled) return false;
        return true;
    }
};

FrameAssembler::FrameAssembler(const AssemblerSettings &settings, FrameSink &sink)
    : settings_(settings), sink_(sink), finished_(kFinishedKept, 0) {
    settings_.frames_in_flight = std::max<std::size_t>(settings_.frames_in_flight, 1);
    blocks_.resize(settings_.frames_in_flight);
}

FrameAssembler::~FrameAssembler() = default;

void FrameAssembler::on_packet(const std::uint8_t *data, std::size_t size, Clock::time_point now) {
    StreamPacket packet;
    const bool usable =
        parse_stream_packet(data, size, packet) && packet.extended == settings_.extended_ids &&
        carries_data(packet.status) &&
        (packet.format == PacketFormat::leader || packet.format == PacketFormat::payload ||
         packet.format == PacketFormat::trailer);
    Block *block = usable ? block_for(packet.block_id, now) : nullptr;
    if (block == nullptr) {
        ++stats_.packets_dropped;
        return;
    }
    accept(*block, packet, now);
}

std::int64_t FrameAssembler::distance(std::uint64_t id) const {
    if (!settings_.extended_ids) {
        const auto cycle = static_cast<std::int64_t>(kStandardBlockCycle);
        std::int64_t d =
            (static_cast<std::int64_t>(id) - static_cast<std::int64_t>(last_block_)) % cycle;
        if (d < 0) d += cycle;
        return d > cycle / 2 ? d - cycle : d;
    }
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return id >= last_block_ ? static_cast<std::int64_t>(std::min(id - last_block_, kMax))
                             : -static_cast<std::int64_t>(std::min(last_block_ - id, kMax));
}

FrameAssembler::Block *FrameAssembler::block_for(std::uint64_t id, Clock::time_point now) {
    for (auto &b : blocks_)
        if (b.active && b.id == id) return &b;

    bool newest = last_block_ == 0;
    if (!newest) {
        const std::int64_t d = distance(id);
        if (d < -kRestartDistance) {
            std::fill(finished_.begin(), finished_.end(), 0);
            newest = true;
        } else if (d <= 0) {
            // Behind the newest: a block already handed over, or one too old
            // to tell, is late; a younger one never seen is taken.
            if (d < -static_cast<std::int64_t>(kFinishedKept)) return nullptr;
        } else {
            newest = true;
        }
    }
    if (std::find(finished_.begin(), finished_.end(), id) != finished_.end()) return nullptr;
    if (newest) last_block_ = id;

    // Room for it: the oldest frame beyond those allowed in flight goes now.
    Block *slot = nullptr;
    for (;;) {
        Block *oldest = nullptr;
        for (auto &b : blocks_) {
            if (!b.active) {
                slot = &b;
                break;
            }
            if (oldest == nullptr || b.order < oldest->order) oldest = &b;
        }
        if (slot != nullptr) break;
        finish(*oldest, false);
    }

    Target target;
    if (!sink_.acquire(target) || (target.memory == nullptr && target.size != 0)) {
        ++stats_.frames_dropped;
        remember_finished(id);
        return nullptr;
    }
    Block &b = *slot;
    b.active = true;
    b.id = id;
    b.order = ++order_;
    b.target = target;
    b.frame = AssembledFrame{};
    b.frame.block_id = id;
    const std::size_t data_size = settings_.packet_data_size;
    const std::uint64_t payloads =
        data_size == 0 ? 0 : (std::uint64_t{target.size} + data_size - 1) / data_size;
    b.packets.assign(
        static_cast<std::size_t>(std::min<std::uint64_t>(payloads, kMaxPacketIds - 2)) + 2, 0);
    b.received = 0;
    b.highest = -1;
    b.highest_payload = 0;
    b.trailer = false;
    b.last_payload = b.expected_last = b.short_payload = 0;
    b.oversize = b.gap = b.asked = false;
    b.requests = 0;
    b.last_packet = b.gap_since = b.last_ask = now;
    return &b;
}

void FrameAssembler::accept(Block &b, const StreamPacket &p, Clock::time_point now) {
    const std::uint32_t id = p.packet_id;
    const std::size_t data_size = settings_.packet_data_size;
    bool refused = id >= b.packets.size() || (b.packets[id] & kReceived) != 0;
    if (!refused) {
        switch (p.format) {
            case PacketFormat::leader: {
                if (id != 0 || p.size < 4) {
                    refused = true;
                    break;
                }
                ImageLeader leader;
                if (parse_image_leader(p, leader)) {
                    b.frame.has_leader = true;
                    b.frame.leader = leader;
                    const std::uint64_t bytes = image_size(leader, b.target.size);
                    if (bytes > b.target.size) {
                        // Kept from the frame, which goes incomplete; settled, so
                        // it is not asked for again nor waited for.
                        b.oversize = true;
                        b.packets[0] |= kReceived;
                        ++b.received;
                        refused = true;
                    } else if (data_size != 0) {
                        b.expected_last = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                            (bytes + data_size - 1) / data_size, b.packets.size() - 2));
                    }
                } else if ((be::get16(p.data + 2) & ~kPayloadTypeChunkFlag) == kPayloadTypeImage) {
                    refused = true;  // an image leader cut short
                }
                break;
            }
            case PacketFormat::trailer: {
                Trailer trailer;
                if (id == 0 || b.trailer || id - 1 < b.highest_payload ||
                    !parse_trailer(p, trailer)) {
                    refused = true;
                    break;
                }
                b.trailer = true;
                b.last_payload = id - 1;
                break;
            }
            default: {  // payload
                const std::uint64_t offset = std::uint64_t{id - 1} * data_size;
                if (id == 0 || (b.trailer && id > b.last_payload) || p.size == 0 ||
                    p.size > data_size || offset + p.size > b.target.size) {
                    refused = true;
                    break;
                }
                if (p.size < data_size) {
                    if (b.short_payload != 0) {
                        refused = true;  // only the last packet may be short
                        break;
                    }
                    b.short_payload = id;
                }
                std::memcpy(b.target.memory + offset, p.data, p.size);
                b.frame.filled += p.size;
                b.highest_payload = std::max(b.highest_payload, id);
                break;
            }
        }
    }
    if (refused) {
        ++stats_.packets_dropped;
        return;
    }
    ++stats_.packets_received;
    if (b.packets[id] & kRequested) ++stats_.packets_recovered;
    b.packets[id] |= kReceived;
    ++b.received;
    b.last_packet = now;
    if (static_cast<std::int64_t>(id) > b.highest + 1 && !b.gap) {
        b.gap = true;
        b.gap_since = now;
    }
    b.highest = std::max<std::int64_t>(b.highest, id);
    if (b.trailer && b.received == b.last_payload + 2) finish(b, b.complete());
}

void FrameAssembler::on_tick(Clock::time_point now) {
    for (auto &b : blocks_) {
        if (!b.active) continue;
        if (now - b.last_packet >= settings_.frame_timeout) {
            finish(b, false);
        } else if (settings_.resend) {
            ask_again(b, now);
        }
    }
}

void FrameAssembler::ask_again(Block &b, Clock::time_point now) {
    if (b.requests >= settings_.resend_requests_per_frame) return;
    const bool stalled = now - b.last_packet >= settings_.resend_delay;
    const bool old_gap = b.gap && now - b.gap_since >= settings_.resend_delay;
    if (!(stalled || old_gap) || (b.asked && now - b.last_ask < settings_.resend_delay)) return;
    b.asked = true;
    b.last_ask = now;
    // While packets still come only the holes behind them are asked for;
    // once they stop, up to the trailer.
    const std::uint32_t end =
        stalled ? b.trailer_id() : static_cast<std::uint32_t>(std::max<std::int64_t>(b.highest, 0));
    std::uint32_t id = 0;
    while (id <= end && b.requests < settings_.resend_requests_per_frame) {
        if (b.packets[id] & kReceived) {
            ++id;
            continue;
        }
        const std::uint32_t first = id;
        while (id <= end && !(b.packets[id] & kReceived)) b.packets[id++] |= kRequested;
        ++b.requests;
        stats_.packets_resend_requested += id - first;
        sink_.request_resend(b.id, first, id - 1);
    }
}

void FrameAssembler::finish(Block &b, bool complete) {
    b.active = false;
    b.frame.incomplete = !complete;
    b.frame.packets_missing = complete ? 0 : b.missing();
    if (complete) {
        ++stats_.frames_complete;
    } else {
        ++stats_.frames_incomplete;
        stats_.packets_missing += b.frame.packets_missing;
    }
    remember_finished(b.id);
    sink_.deliver(b.target, b.frame);
}

void FrameAssembler::remember_finished(std::uint64_t id) {
    finished_[finished_next_] = id;
    finished_next_ = (finished_next_ + 1) % finished_.size();
}

bool FrameAssembler::idle() const {
    return std::none_of(blocks_.begin(), blocks_.end(), [](const Block &b) { return b.active; });
}

void FrameAssembler::flush() {
    for (;;) {
        Block *oldest = nullptr;
        for (auto &b : blocks_)
            if (b.active && (oldest == nullptr || b.order < oldest->order)) oldest = &b;
        if (oldest == nullptr) return;
        finish(*oldest, false);
    }
}

}  // namespace vantix::gev
