// The packets of one image block as a device sends them: leader, payload
// packets and trailer, each header and payload written into one buffer
// the sender keeps (and resends from). Pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gev/protocol/gvsp.hpp"

namespace vantix::gev::device {

struct BlockImage {
    std::uint64_t block_id = 0;
    bool extended = false;  // 64-bit block ids, 32-bit packet ids
    std::uint64_t timestamp = 0;
    std::uint32_t pixel_format = 0, width = 0, height = 0, offset_x = 0, offset_y = 0;
    std::uint16_t padding_x = 0, padding_y = 0;
};

// A block's packets: packet i starts at offsets[i] in `bytes` and ends
// where the next one starts, its id ids[i]; packet 0 is the leader, the last the trailer.
struct Block {
    std::uint64_t block_id = 0;
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> offsets;
    std::vector<std::uint32_t> ids;  // packet ids (an incomplete block skips some)
    std::size_t count() const { return offsets.size() - 1; }
    const std::uint8_t *packet(std::size_t i) const { return bytes.data() + offsets[i]; }
    std::size_t packet_size(std::size_t i) const { return offsets[i + 1] - offsets[i]; }
};

// Packs `sent` bytes of an image of `total` bytes (less when the camera
// delivered it incomplete: only the payload packets it fills go) at the
// packet size of the stream channel register. The trailer says the full
// height either way.
void build_block(const BlockImage &image, const std::uint8_t *data, std::size_t sent,
                 std::size_t total, std::size_t packet_size, Block &out);

// The header of one stream packet (8 or 20 bytes), appended.
void put_stream_header(std::vector<std::uint8_t> &out, std::uint16_t status, std::uint64_t block_id,
                       PacketFormat format, std::uint32_t packet_id, bool extended);

}  // namespace vantix::gev::device
