// The control and stream codecs against byte layouts written out by hand.
#include <cstring>
#include <string>
#include <vector>

#include "check.hpp"
#include "gev/protocol/gvcp.hpp"
#include "gev/protocol/gvsp.hpp"

using namespace vantix::gev;
using Bytes = std::vector<std::uint8_t>;

TEST(commands_are_laid_out_big_endian) {
    CHECK((discovery_command(0x1234, true) == Bytes{0x42, 0x11, 0x00, 0x02, 0, 0, 0x12, 0x34}));
    CHECK((discovery_command(1, false) == Bytes{0x42, 0x01, 0x00, 0x02, 0, 0, 0, 1}));
    CHECK((read_registers_command(7, {0x0A00, 0x12345678}) ==
           Bytes{0x42, 1, 0x00, 0x80, 0, 8, 0, 7, 0, 0, 0x0A, 0, 0x12, 0x34, 0x56, 0x78}));
    CHECK((write_registers_command(2, {{0x0A00, 2}}) ==
           Bytes{0x42, 1, 0x00, 0x82, 0, 8, 0, 2, 0, 0, 0x0A, 0, 0, 0, 0, 2}));
    CHECK((read_memory_command(3, 0x200, 512) ==
           Bytes{0x42, 1, 0x00, 0x84, 0, 8, 0, 3, 0, 0, 2, 0, 0, 0, 2, 0}));
    const std::uint8_t data[] = {0xDE, 0xAD, 0xBE, 0xEF};
    CHECK((write_memory_command(4, 0x10, data, 4) ==
           Bytes{0x42, 1, 0x00, 0x86, 0, 8, 0, 4, 0, 0, 0, 0x10, 0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST(packet_resend_in_both_forms) {
    // No acknowledge asked; standard: channel, block 16, ids 24 bits.
    CHECK(
        (packet_resend_command(9, 0, 0xFFFF, 3, 0x123456, false) ==
         Bytes{0x42, 0, 0, 0x40, 0, 12, 0, 9, 0, 0, 0xFF, 0xFF, 0, 0, 0, 3, 0, 0x12, 0x34, 0x56}));
    // Extended: block 16 is 0, ids 32 bits, the 64-bit block id follows.
    CHECK((packet_resend_command(9, 1, 0x0102030405060708, 0x01000000, 0x01000001, true) ==
           Bytes{0x42, 0x10, 0, 0x40, 0, 20, 0, 9, 0, 1, 0, 0, 1, 0,
                 0,    0,    1, 0,    0, 1,  1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(acks_are_bounded_by_their_datagram) {
    // READREG ack with two values.
    const Bytes regs{0, 0, 0x00, 0x81, 0, 8, 0, 7, 0, 0, 0, 2, 0xCA, 0xFE, 0xBA, 0xBE};
    Ack ack;
    CHECK(parse_ack(regs.data(), regs.size(), ack));
    CHECK(ack.status == kSuccess && ack.ack_code == 0x81 && ack.request_id == 7);
    std::uint32_t values[2] = {};
    CHECK(read_registers_values(ack, 2, values));
    CHECK(values[0] == 2 && values[1] == 0xCAFEBABE);
    CHECK(!read_registers_values(ack, 3, values));
    // A length running past the datagram, and a short header, are refused.
    CHECK(!parse_ack(regs.data(), regs.size() - 1, ack));
    CHECK(!parse_ack(regs.data(), 7, ack));

    // READMEM ack: address then data; the address must be the one asked.
    const Bytes mem{0, 0, 0x00, 0x85, 0, 8, 0, 3, 0, 0, 2, 0, 'L', 'o', 'c', 'a'};
    CHECK(parse_ack(mem.data(), mem.size(), ack));
    const std::uint8_t *data = nullptr;
    CHECK(read_memory_data(ack, 0x200, 4, data) && std::memcmp(data, "Loca", 4) == 0);
    CHECK(!read_memory_data(ack, 0x204, 4, data));
    CHECK(!read_memory_data(ack, 0x200, 8, data));
    CHECK(!read_registers_values(ack, 1, values));  // another command's answer

    const Bytes denied{0x80, 0x06, 0x00, 0x83, 0, 0, 0, 5};
    CHECK(parse_ack(denied.data(), denied.size(), ack) && ack.status == kAccessDenied);
    CHECK(std::string(status_name(ack.status)) == "access denied");
    CHECK(std::string(status_name(0x8123)) == "status 0x8123");

    const Bytes pending{0, 0, 0x00, 0x89, 0, 4, 0, 5, 0, 0, 0x01, 0xF4};
    std::uint32_t ms = 0;
    CHECK(parse_ack(pending.data(), pending.size(), ack) && pending_ack_time_ms(ack, ms) &&
          ms == 500);
}

TEST(discovery_ack_of_248_bytes) {
    Bytes d(kHeaderSize + 248, 0);
    const Bytes head{0, 0, 0x00, 0x03, 0x00, 0xF8, 0x12, 0x34};
    std::memcpy(d.data(), head.data(), head.size());
    std::uint8_t *m = d.data() + kHeaderSize;
    m[0x01] = 2, m[0x03] = 1;                                        // version 2.1
    m[0x0A] = 0x00, m[0x0B] = 0x11;                                  // MAC high
    m[0x0C] = 0x22, m[0x0D] = 0x33, m[0x0E] = 0x44, m[0x0F] = 0x55;  // MAC low
    m[0x24] = 127, m[0x27] = 1;
    m[0x34] = 255;
    std::memcpy(m + 0x48, "Aravis", 6);
    std::memcpy(m + 0x68, "GV\x01\xff", 4);         // a control character and a stray byte
    std::memcpy(m + 0xD8, "0123456789ABCDEF", 16);  // all 16 bytes, no NUL
    std::memcpy(m + 0xE8, "caf\xc3\xa9", 5);
    Ack ack;
    Identity id;
    CHECK(parse_ack(d.data(), d.size(), ack) && parse_discovery_ack(ack, id));
    CHECK(id.version_major == 2 && id.version_minor == 1);
    CHECK(mac_text(id.mac) == "00:11:22:33:44:55");
    CHECK(ip_text(id.ip) == "127.0.0.1" && ip_text(id.subnet_mask) == "255.0.0.0");
    CHECK(id.manufacturer == "Aravis");
    CHECK(id.model == "GV\xEF\xBF\xBD\xEF\xBF\xBD");
    CHECK(id.serial == "0123456789ABCDEF");  // ends at the field, not beyond
    CHECK(id.user_name == "caf\xc3\xa9");
    d[5] = 0xF7;  // one byte short
    CHECK(parse_ack(d.data(), d.size() - 1, ack) && !parse_discovery_ack(ack, id));
}

TEST(field_text_is_printable_utf8) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain", "plain"},
        {std::string("a\0b", 3), "a"},
        {"\xc3", "\xEF\xBF\xBD"},                                  // cut short
        {"\xc0\xaf", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong
        {"\xed\xa0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"\xc2\x85x", "\xEF\xBF\xBDx"},                            // C1 control
        {"\x7f\t", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xf0\x9f\x93\xb7", "\xf0\x9f\x93\xb7"},
    };
    for (const auto &c : cases)
        CHECK(field_text(reinterpret_cast<const std::uint8_t *>(c.in.data()), c.in.size()) ==
              c.out);
}

TEST(stream_headers_leader_and_trailer) {
    // Standard payload packet: block 0xFFFF, id 57, 2 bytes of data.
    const Bytes payload{0, 0, 0xFF, 0xFF, 0x03, 0, 0, 57, 0xAA, 0xBB};
    StreamPacket p;
    CHECK(parse_stream_packet(payload.data(), payload.size(), p));
    CHECK(!p.extended && p.format == PacketFormat::payload && p.block_id == 0xFFFF &&
          p.packet_id == 57 && p.size == 2 && p.data[0] == 0xAA);
    // Extended: flag in bit 31, block id 64 and packet id 32 after the word.
    const Bytes ext{0, 0, 0, 0, 0x83, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 1, 0, 0, 0xCC};
    CHECK(parse_stream_packet(ext.data(), ext.size(), p));
    CHECK(p.extended && p.block_id == 0x100000002 && p.packet_id == 0x10000 && p.size == 1);
    CHECK(!parse_stream_packet(ext.data(), 19, p));  // extended header cut short
    const Bytes block0{0, 0, 0, 0, 0x03, 0, 0, 1};
    CHECK(!parse_stream_packet(block0.data(), block0.size(), p));
    const Bytes format9{0, 0, 0, 1, 0x09, 0, 0, 1};
    CHECK(!parse_stream_packet(format9.data(), format9.size(), p));

    // Leader: Mono8 320 x 240 at (4, 2), timestamp 0x1_00000002.
    const Bytes leader{0, 0, 0, 5, 0x01, 0,    0, 0, 0, 0,    0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 1, 8,
                       0, 1, 0, 0, 1,    0x40, 0, 0, 0, 0xF0, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 0};
    CHECK(parse_stream_packet(leader.data(), leader.size(), p));
    ImageLeader l;
    CHECK(parse_image_leader(p, l));
    CHECK(l.payload_type == 1 && l.timestamp == 0x100000002 && l.pixel_format == 0x01080001 &&
          l.width == 320 && l.height == 240 && l.offset_x == 4 && l.offset_y == 2);
    CHECK(image_size(l, 1u << 20) == 76800 && image_size(l, 1000) == 1001);
    p.size = 35;
    CHECK(!parse_image_leader(p, l));

    // Trailer: payload type, height sent (0 from some cameras).
    const Bytes trailer{0, 0, 0, 5, 0x02, 0, 0, 58, 0, 0, 0, 1, 0, 0, 0, 0};
    Trailer t;
    CHECK(parse_stream_packet(trailer.data(), trailer.size(), p) && parse_trailer(p, t));
    CHECK(p.packet_id == 58 && t.payload_type == 1 && t.has_height && t.height == 0);

    CHECK(packet_data_size(1400, false) == 1364 && packet_data_size(1400, true) == 1352);
    CHECK(packet_data_size(36, false) == 0);
}
