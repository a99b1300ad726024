#include "stream_packets.hpp"

#include <algorithm>

#include "gev/protocol/big_endian.hpp"

namespace vantix::gev::device {

void put_stream_header(std::vector<std::uint8_t> &out, std::uint16_t status, std::uint64_t block_id,
                       PacketFormat format, std::uint32_t packet_id, bool extended) {
    be::put16(out, status);
    const std::uint32_t format_bits = std::uint32_t{static_cast<std::uint8_t>(format)} << 24;
    if (extended) {
        be::put16(out, 0);  // flags
        be::put32(out, 0x80000000u | format_bits);
        be::put64(out, block_id);
        be::put32(out, packet_id);
    } else {
        be::put16(out, static_cast<std::uint16_t>(block_id));
        be::put32(out, format_bits | (packet_id & 0xFFFFFF));
    }
}

void build_block(const BlockImage &image, const std::uint8_t *data, std::size_t sent,
                 std::size_t total, std::size_t packet_size, Block &out) {
    const std::size_t chunk =
        std::max<std::size_t>(packet_data_size(packet_size, image.extended), 4);
    out.block_id = image.block_id;
    out.bytes.clear();
    out.offsets.clear();
    out.ids.clear();
    std::uint32_t id = 0;
    auto header = [&](PacketFormat format) {
        out.offsets.push_back(out.bytes.size());
        out.ids.push_back(id);
        put_stream_header(out.bytes, 0, image.block_id, format, id++, image.extended);
    };
    header(PacketFormat::leader);
    be::put16(out.bytes, 0);  // flags
    be::put16(out.bytes, kPayloadTypeImage);
    be::put64(out.bytes, image.timestamp);
    be::put32(out.bytes, image.pixel_format);
    be::put32(out.bytes, image.width);
    be::put32(out.bytes, image.height);
    be::put32(out.bytes, image.offset_x);
    be::put32(out.bytes, image.offset_y);
    be::put16(out.bytes, image.padding_x);
    be::put16(out.bytes, image.padding_y);
    // Packets of an incomplete frame that the camera never filled are not
    // sent; their ids are skipped, so the receiver sees them missing.
    const std::size_t packets = (total + chunk - 1) / chunk;
    for (std::size_t p = 0; p < packets; ++p) {
        const std::size_t at = p * chunk, n = std::min(chunk, total - at);
        if (at + n > sent) {
            ++id;
            continue;
        }
        header(PacketFormat::payload);
        out.bytes.insert(out.bytes.end(), data + at, data + at + n);
    }
    header(PacketFormat::trailer);
    be::put32(out.bytes, kPayloadTypeImage);
    be::put32(out.bytes, image.height);
    out.offsets.push_back(out.bytes.size());
}

}  // namespace vantix::gev::device
