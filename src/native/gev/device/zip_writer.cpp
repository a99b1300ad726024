#include "zip_writer.hpp"

#include <zlib.h>

namespace vantix::gev::device {

namespace {

void put16(std::vector<std::uint8_t> &out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t> &out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

constexpr std::uint32_t kLocalSignature = 0x04034B50, kCentralSignature = 0x02014B50,
                        kEndSignature = 0x06054B50;
constexpr std::uint16_t kVersion = 20, kDeflate = 8;
constexpr std::uint16_t kDate =
    (2024 - 1980) << 9 | 1 << 5 | 1;  // a fixed date: same bytes each run

// Version needed, flags, method, time, date, CRC-32, sizes, name length:
// the fields the local and the central header share.
void common_fields(std::vector<std::uint8_t> &out, std::uint32_t crc, std::uint32_t packed,
                   std::uint32_t unpacked, std::size_t name_size) {
    put16(out, kVersion);
    put16(out, 0);
    put16(out, kDeflate);
    put16(out, 0);
    put16(out, kDate);
    put32(out, crc);
    put32(out, packed);
    put32(out, unpacked);
    put16(out, static_cast<std::uint32_t>(name_size));
    put16(out, 0);  // extra field length
}

}  // namespace

std::vector<std::uint8_t> zip_one_file(const std::string &name, const std::string &content) {
    const auto *bytes = reinterpret_cast<const Bytef *>(content.data());
    const auto size = static_cast<uLong>(content.size());
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::vector<std::uint8_t> packed(deflateBound(&z, size));
    z.next_in = const_cast<Bytef *>(bytes);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = packed.data();
    z.avail_out = static_cast<uInt>(packed.size());
    const int status = deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END) return {};

    const auto crc = static_cast<std::uint32_t>(crc32(0, bytes, static_cast<uInt>(size)));
    const auto packed_size = static_cast<std::uint32_t>(packed.size());
    std::vector<std::uint8_t> out;
    put32(out, kLocalSignature);
    common_fields(out, crc, packed_size, static_cast<std::uint32_t>(size), name.size());
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), packed.begin(), packed.end());

    const auto directory = static_cast<std::uint32_t>(out.size());
    put32(out, kCentralSignature);
    put16(out, kVersion);  // made by
    common_fields(out, crc, packed_size, static_cast<std::uint32_t>(size), name.size());
    put16(out, 0);  // comment length
    put16(out, 0);  // disk
    put16(out, 0);  // internal attributes
    put32(out, 0);  // external attributes
    put32(out, 0);  // offset of the local header
    out.insert(out.end(), name.begin(), name.end());
    const auto directory_size = static_cast<std::uint32_t>(out.size()) - directory;

    put32(out, kEndSignature);
    put16(out, 0);  // this disk
    put16(out, 0);  // the directory's disk
    put16(out, 1);  // entries here
    put16(out, 1);  // entries in all
    put32(out, directory_size);
    put32(out, directory);
    put16(out, 0);  // comment length
    return out;
}

}  // namespace vantix::gev::device
