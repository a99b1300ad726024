#include "gvsp.hpp"

#include "big_endian.hpp"

namespace vantix::gev {

namespace {
constexpr std::uint32_t kExtendedFlag = 0x80000000u;
constexpr std::size_t kLeaderImageSize = 36, kTrailerTypeSize = 4, kTrailerHeightSize = 8;
}  // namespace

bool parse_stream_packet(const std::uint8_t *data, std::size_t size, StreamPacket &out) {
    if (data == nullptr || size < kStreamHeaderSize) return false;
    const std::uint32_t word = be::get32(data + 4);
    const unsigned format = word >> 24 & 0x7F;
    if (format < static_cast<unsigned>(PacketFormat::leader) ||
        format > static_cast<unsigned>(PacketFormat::gendc))
        return false;
    StreamPacket p;
    p.status = be::get16(data);
    p.format = static_cast<PacketFormat>(format);
    p.extended = (word & kExtendedFlag) != 0;
    std::size_t header = kStreamHeaderSize;
    if (p.extended) {
        if (size < kExtendedStreamHeaderSize) return false;
        p.block_id = be::get64(data + 8);
        p.packet_id = be::get32(data + 16);
        header = kExtendedStreamHeaderSize;
    } else {
        p.block_id = be::get16(data + 2);
        p.packet_id = word & 0xFFFFFF;
    }
    if (p.block_id == 0) return false;  // never used: wraps 65535 -> 1
    p.data = data + header;
    p.size = size - header;
    out = p;
    return true;
}

std::size_t packet_data_size(std::size_t packet_size, bool extended) {
    const std::size_t overhead =
        kIpUdpOverhead + (extended ? kExtendedStreamHeaderSize : kStreamHeaderSize);
    return packet_size > overhead ? packet_size - overhead : 0;
}

bool parse_image_leader(const StreamPacket &packet, ImageLeader &out) {
    if (packet.format != PacketFormat::leader || packet.size < kLeaderImageSize) return false;
    const std::uint8_t *d = packet.data;
    const std::uint16_t type = be::get16(d + 2);
    if ((type & ~kPayloadTypeChunkFlag) != kPayloadTypeImage) return false;
    ImageLeader l;
    l.payload_type = type;
    l.timestamp = be::get64(d + 4);
    l.pixel_format = be::get32(d + 12);
    l.width = be::get32(d + 16);
    l.height = be::get32(d + 20);
    l.offset_x = be::get32(d + 24);
    l.offset_y = be::get32(d + 28);
    l.padding_x = be::get16(d + 32);
    l.padding_y = be::get16(d + 34);
    out = l;
    return true;
}

bool parse_trailer(const StreamPacket &packet, Trailer &out) {
    if (packet.format != PacketFormat::trailer || packet.size < kTrailerTypeSize) return false;
    Trailer t;
    t.payload_type = be::get32(packet.data);
    // Some cameras send 0 here whatever they sent; it is reported, not trusted.
    if (packet.size >= kTrailerHeightSize) {
        t.has_height = true;
        t.height = be::get32(packet.data + 4);
    }
    out = t;
    return true;
}

std::uint64_t image_size(const ImageLeader &leader, std::uint64_t limit) {
    const std::uint64_t bits = leader.pixel_format >> 16 & 0xFF;
    const std::uint64_t row = (std::uint64_t{leader.width} * bits + 7) / 8 + leader.padding_x;
    if (leader.height != 0 && row > limit / leader.height) return limit + 1;
    return row * leader.height;
}

}  // namespace vantix::gev
