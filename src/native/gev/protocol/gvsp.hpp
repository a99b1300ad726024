// The stream protocol, as bytes: the header of every stream packet, and the
// leader and trailer of an image block. Pure functions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantix::gev {

constexpr std::size_t kIpUdpOverhead = 20 + 8;
constexpr std::size_t kStreamHeaderSize = 8, kExtendedStreamHeaderSize = 20;

enum class PacketFormat : std::uint8_t {
    leader = 1,
    trailer = 2,
    payload = 3,
    all_in = 4,
    h264 = 5,
    multizone = 6,
    multipart = 7,
    gendc = 8,
};

struct StreamPacket {
    std::uint16_t status = 0;
    bool extended = false;
    PacketFormat format = PacketFormat::payload;
    std::uint64_t block_id = 0;
    std::uint32_t packet_id = 0;
    const std::uint8_t *data = nullptr;  // after the header
    std::size_t size = 0;
};
// False for anything that is not a well-formed stream packet.
bool parse_stream_packet(const std::uint8_t *data, std::size_t size, StreamPacket &out);

// Payload bytes each packet carries at a given packet size (the value of
// the packet-size register: IP, UDP and stream headers included).
std::size_t packet_data_size(std::size_t packet_size, bool extended);

constexpr std::uint16_t kPayloadTypeImage = 0x0001;
constexpr std::uint16_t kPayloadTypeChunkFlag = 0x4000;

struct ImageLeader {
    std::uint16_t payload_type = 0;
    std::uint64_t timestamp = 0;
    std::uint32_t pixel_format = 0, width = 0, height = 0, offset_x = 0, offset_y = 0;
    std::uint16_t padding_x = 0, padding_y = 0;
};
// False for a leader too short for an image, or of another payload type.
bool parse_image_leader(const StreamPacket &packet, ImageLeader &out);
// Bytes of the image a leader announces (rows with their padding; bits per
// pixel from the PFNC code), or `limit` + 1 when that would be more.
std::uint64_t image_size(const ImageLeader &leader, std::uint64_t limit);

// The height is what the camera says it sent; some send 0 for every frame,
// so it never decides whether a frame is complete.
struct Trailer {
    std::uint32_t payload_type = 0;
    bool has_height = false;
    std::uint32_t height = 0;
};
bool parse_trailer(const StreamPacket &packet, Trailer &out);

}  // namespace vantix::gev
