#include "xml_location.hpp"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <string_view>
#include <utility>

namespace vantix::gev {

namespace {

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

bool ends_with_nocase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           starts_with_nocase(text.substr(text.size() - suffix.size()), suffix);
}

// Hex without 0x, as the register holds it; 1 to 16 digits.
bool parse_hex(std::string_view text, std::uint64_t &out) {
    if (text.empty() || text.size() > 16) return false;
    out = 0;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        const int digit = std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        out = out << 4 | static_cast<std::uint64_t>(digit);
    }
    return true;
}

bool fail(std::string &error, const char *reason) {
    error = reason;
    return false;
}

std::uint16_t le16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t *p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

}  // namespace

bool parse_xml_location(const char *text, std::size_t size, XmlLocation &out, std::string &error) {
    std::string_view url(text, text == nullptr ? 0 : size);
    url = url.substr(0, url.find('\0'));
    for (const char c : url) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F) return fail(error, "the URL holds a character it cannot");
    }
    // Newer writers add the schema's version as a query; it does not say where.
    url = url.substr(0, url.find('?'));

    XmlLocation location;
    if (starts_with_nocase(url, "local:")) {
        std::string_view rest = url.substr(6);
        if (rest.substr(0, 3) == "///") rest.remove_prefix(3);
        const std::size_t first = rest.find(';');
        const std::size_t second = first == rest.npos ? rest.npos : rest.find(';', first + 1);
        if (second == rest.npos || rest.find(';', second + 1) != rest.npos)
            return fail(error, "a local URL is NAME;ADDRESS;LENGTH");
        const std::string_view name = rest.substr(0, first);
        if (name.empty()) return fail(error, "the local URL names no file");
        if (!parse_hex(rest.substr(first + 1, second - first - 1), location.address) ||
            !parse_hex(rest.substr(second + 1), location.size))
            return fail(error, "the local URL's address and length are not hex numbers");
        // READMEM addresses are 32 bits wide.
        if (location.size == 0 || location.address > 0xFFFFFFFFu ||
            location.size > 0x100000000u - location.address)
            return fail(error, "the local URL's document lies outside the device's memory");
        location.scheme = XmlLocation::Scheme::local;
        location.file_name = std::string(name);
        location.zipped = ends_with_nocase(name, ".zip");
    } else if (starts_with_nocase(url, "file:")) {
        std::string_view path = url.substr(5);
        if (path.substr(0, 2) == "//") path.remove_prefix(2);  // file:///abs -> /abs
        if (path.empty()) return fail(error, "the file URL names no file");
        location.scheme = XmlLocation::Scheme::file;
        location.file_name = std::string(path);
        location.zipped = ends_with_nocase(path, ".zip");
    } else if (starts_with_nocase(url, "http:") || starts_with_nocase(url, "https:")) {
        location.scheme = XmlLocation::Scheme::http;
        location.file_name = std::string(url);
        location.zipped = ends_with_nocase(url, ".zip");
    } else {
        return fail(error, "the URL is neither local, file nor http");
    }
    out = std::move(location);
    return true;
}

bool unzip_first_entry(const std::uint8_t *data, std::size_t size, std::string &out,
                       std::string &error, std::size_t max_size) {
    // Local file header: signature, version, flags, method, time, date,
    // CRC-32, compressed and uncompressed size, name and extra lengths.
    constexpr std::size_t kLocalHeader = 30;
    constexpr std::uint32_t kSignature = 0x04034B50;
    constexpr std::uint16_t kEncrypted = 0x0001, kDescriptor = 0x0008, kStrongEncryption = 0x0040;
    if (data == nullptr || size < kLocalHeader) return fail(error, "the zip archive is truncated");
    if (le32(data) != kSignature) return fail(error, "not a zip archive");
    const std::uint16_t flags = le16(data + 6), method = le16(data + 8);
    const std::uint32_t crc = le32(data + 14), packed = le32(data + 18), unpacked = le32(data + 22);
    const std::size_t start = kLocalHeader + std::size_t{le16(data + 26)} + le16(data + 28);
    if (flags & (kEncrypted | kStrongEncryption)) return fail(error, "the zip entry is encrypted");
    if (method != 0 && method != 8) return fail(error, "the zip entry uses an unknown method");
    if (packed == 0xFFFFFFFFu || unpacked == 0xFFFFFFFFu)
        return fail(error, "the zip entry is too large (zip64)");
    if (start > size) return fail(error, "the zip archive is truncated");
    // With a data descriptor the sizes may come only after the data.
    const bool sized = !(flags & kDescriptor) || packed != 0 || unpacked != 0;
    if (sized && unpacked > max_size) return fail(error, "the zip entry is larger than allowed");
    if (sized && packed > size - start) return fail(error, "the zip archive is truncated");
    const std::uint8_t *body = data + start;

    if (method == 0) {
        if (!sized) return fail(error, "a stored zip entry without its size");
        if (packed != unpacked) return fail(error, "the stored zip entry's sizes differ");
        if (!(flags & kDescriptor) && crc32(0, body, packed) != crc)
            return fail(error, "the zip entry's checksum does not match");
        out.assign(reinterpret_cast<const char *>(body), packed);
        return true;
    }

    const std::size_t input = sized ? packed : size - start;
    if (input > UINT_MAX) return fail(error, "the zip entry is too large");
    const std::size_t limit = sized ? unpacked : max_size;
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return fail(error, "zlib cannot start");
    z.next_in = const_cast<Bytef *>(body);
    z.avail_in = static_cast<uInt>(input);
    std::string result;
    int status = Z_OK;
    // One byte beyond the limit is room to notice that the entry would pass it.
    while (status == Z_OK && result.size() <= limit) {
        const std::size_t have = result.size();
        const std::size_t grow = std::min<std::size_t>({limit + 1 - have, 1u << 16, UINT_MAX});
        result.resize(have + grow);
        z.next_out = reinterpret_cast<Bytef *>(&result[have]);
        z.avail_out = static_cast<uInt>(grow);
        status = inflate(&z, Z_NO_FLUSH);
        result.resize(have + grow - z.avail_out);
    }
    inflateEnd(&z);
    if (result.size() > limit)
        return fail(error, "the zip entry inflates to more than it says or is allowed");
    if (status != Z_STREAM_END)
        return fail(error, status == Z_DATA_ERROR ? "the zip entry's data is corrupt"
                                                  : "the zip archive is truncated");
    if (sized && result.size() != unpacked)
        return fail(error, "the zip entry inflates to another size than it says");
    if (!(flags & kDescriptor) && crc32(0, reinterpret_cast<const Bytef *>(result.data()),
                                        static_cast<uInt>(result.size())) != crc)
        return fail(error, "the zip entry's checksum does not match");
    out = std::move(result);
    return true;
}

}  // namespace vantix::gev
