// Puts one stream's packets together into frames. It copies each payload
// once, straight into the buffer the receiver lent for that block, at
// (packet id - 1) x data size; it notes which packets are missing, asks
// for them again (bounded, and only if the camera resends), and hands a
// frame over complete, or incomplete when its time is up. Whatever the
// network brings (malformed, truncated, oversized, duplicated, reordered,
// stale packets) is dropped and counted; it never writes outside the
// buffer it was lent for that block.
//
// Not thread-safe: the receiver thread owns it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gvsp.hpp"

namespace vantix::gev {

struct AssemblerSettings {
    std::size_t packet_data_size = 0;  // payload bytes per full packet
    bool extended_ids = false;
    bool resend = false;  // the camera offers PACKETRESEND
    unsigned resend_requests_per_frame = 8;
    std::chrono::milliseconds resend_delay{5};     // a gap older than this is asked for
    std::chrono::milliseconds frame_timeout{200};  // after the last packet of a frame
    std::size_t frames_in_flight = 4;              // at least 1
};

// A buffer lent for one block.
struct Target {
    std::uint8_t *memory = nullptr;
    std::size_t size = 0;
    void *tag = nullptr;  // the receiver's
};

struct AssembledFrame {
    std::uint64_t block_id = 0;
    bool has_leader = false;
    ImageLeader leader;
    std::size_t filled = 0;  // bytes of the payload received
    bool incomplete = false;
    std::uint32_t packets_missing = 0;
};

struct StreamStatistics {
    std::uint64_t frames_complete = 0, frames_incomplete = 0, frames_dropped = 0;
    std::uint64_t packets_received = 0, packets_missing = 0, packets_resend_requested = 0,
                  packets_recovered = 0, packets_dropped = 0;
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // A buffer for a new block; false when there is none (the block is
    // then dropped and counted).
    virtual bool acquire(Target &target) = 0;
    // The block is done with `target`, complete or not.
    virtual void deliver(const Target &target, const AssembledFrame &frame) = 0;
    // Ask the camera for packets first..last of `block_id` again.
    virtual void request_resend(std::uint64_t block_id, std::uint32_t first,
                                std::uint32_t last) = 0;
};

class FrameAssembler {
public:
    using Clock = std::chrono::steady_clock;
    FrameAssembler(const AssemblerSettings &settings, FrameSink &sink);
    ~FrameAssembler();
    void on_packet(const std::uint8_t *data, std::size_t size, Clock::time_point now);
    // Resend requests for gaps and time-outs for frames; call at least
    // every few milliseconds while streaming.
    void on_tick(Clock::time_point now);
    // Hands every frame in progress back through deliver(), incomplete.
    void flush();
    // No frame in progress: nothing for on_tick to do until a packet comes.
    bool idle() const;
    const StreamStatistics &statistics() const { return stats_; }

private:
    struct Block;
    // Where a packet of block `id` goes: its block, or nullptr (counted).
    Block *block_for(std::uint64_t id, Clock::time_point now);
    void accept(Block &block, const StreamPacket &packet, Clock::time_point now);
    void ask_again(Block &block, Clock::time_point now);
    void finish(Block &block, bool complete);
    void remember_finished(std::uint64_t id);
    // How far `id` is ahead of the newest block (negative: behind).
    std::int64_t distance(std::uint64_t id) const;

    AssemblerSettings settings_;
    FrameSink &sink_;
    std::vector<Block> blocks_;  // one slot per frame in flight
    StreamStatistics stats_;
    std::uint64_t last_block_ = 0;         // the newest block id seen; 0 before any
    std::uint64_t order_ = 0;              // creation order of the blocks, oldest first
    std::vector<std::uint64_t> finished_;  // ids delivered or refused lately
    std::size_t finished_next_ = 0;
};

}  // namespace vantix::gev
