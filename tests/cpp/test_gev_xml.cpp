// Where the GenICam document lies (first URL register), and the zip reader
// on archives built here with zlib.
#include <zlib.h>

#include <string>
#include <vector>

#include "check.hpp"
#include "gev/protocol/xml_location.hpp"

using namespace vantix::gev;
using Bytes = std::vector<std::uint8_t>;

namespace {

void le(Bytes &b, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes raw_deflate(const std::string &text) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, text.size()));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// One entry, "a.xml"; sizes as given unless `descriptor` (then zero in the
// header and written after the data).
Bytes zip(const std::string &text, std::uint16_t method, std::uint16_t flags = 0,
          std::int64_t stated_size = -1) {
    const Bytes body = method == 8 ? raw_deflate(text) : Bytes(text.begin(), text.end());
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef *>(text.data()), static_cast<uInt>(text.size())));
    const bool descriptor = flags & 0x8;
    const auto unpacked =
        stated_size >= 0 ? std::uint32_t(stated_size) : std::uint32_t(text.size());
    Bytes z;
    le(z, 0x04034B50, 4);
    le(z, 20, 2);
    le(z, flags, 2);
    le(z, method, 2);
    le(z, 0, 4);
    le(z, descriptor ? 0 : crc, 4);
    le(z, descriptor ? 0 : std::uint32_t(body.size()), 4);
    le(z, descriptor ? 0 : unpacked, 4);
    le(z, 5, 2);
    le(z, 0, 2);
    for (char c : std::string("a.xml")) z.push_back(std::uint8_t(c));
    z.insert(z.end(), body.begin(), body.end());
    if (descriptor) {
        le(z, 0x08074B50, 4);
        le(z, crc, 4);
        le(z, std::uint32_t(body.size()), 4);
        le(z, std::uint32_t(text.size()), 4);
    }
    le(z, 0x02014B50, 4);  // where a central directory would start
    return z;
}

}  // namespace

TEST(xml_locations) {
    struct Case {
        std::string url;
        bool ok;
        XmlLocation::Scheme scheme;
        std::string name;
        std::uint64_t address, size;
        bool zipped;
    } cases[] = {
        {"Local:name.xml;8000;3E7F", true, XmlLocation::Scheme::local, "name.xml", 0x8000, 0x3E7F,
         false},
        {"local:///x.zip;10000;200", true, XmlLocation::Scheme::local, "x.zip", 0x10000, 0x200,
         true},
        {"Local:Cam_v1.ZIP;a0000;1b2C?SchemaVersion=1.1.0", true, XmlLocation::Scheme::local,
         "Cam_v1.ZIP", 0xA0000, 0x1B2C, true},
        {std::string("Local:n.xml;0;10\0garbage", 24), true, XmlLocation::Scheme::local, "n.xml", 0,
         0x10, false},
        {"File:///opt/cam/device.xml", true, XmlLocation::Scheme::file, "/opt/cam/device.xml", 0, 0,
         false},
        {"file:device.zip", true, XmlLocation::Scheme::file, "device.zip", 0, 0, true},
        {"http://example.com/d.xml", true, XmlLocation::Scheme::http, "http://example.com/d.xml", 0,
         0, false},
        {"Local:name.xml;0x8000;100", false, {}, "", 0, 0, false},
        {"Local:name.xml;8000", false, {}, "", 0, 0, false},
        {"Local:name.xml;8000;0", false, {}, "", 0, 0, false},
        {"Local:;8000;10", false, {}, "", 0, 0, false},
        {"Local:a;FFFFFFFF;2", false, {}, "", 0, 0, false},  // past 32-bit memory
        {"Local:a;1;2;3", false, {}, "", 0, 0, false},
        {"Local:a\x01.xml;1;2", false, {}, "", 0, 0, false},
        {"\xff\xfe", false, {}, "", 0, 0, false},
        {"", false, {}, "", 0, 0, false},
        {"ftp://x", false, {}, "", 0, 0, false},
    };
    for (const auto &c : cases) {
        XmlLocation l;
        std::string error;
        const bool ok = parse_xml_location(c.url.data(), c.url.size(), l, error);
        bool right = ok == c.ok && ok == error.empty();
        if (ok)
            right &= l.scheme == c.scheme && l.file_name == c.name && l.address == c.address &&
                     l.size == c.size && l.zipped == c.zipped;
        if (!right) std::fprintf(stderr, "url: %s (%s)\n", c.url.c_str(), error.c_str());
        CHECK(right);
    }
}

TEST(zip_first_entry) {
    const std::string xml =
        "<RegisterDescription>" + std::string(5000, 'x') + "</RegisterDescription>";
    const std::string zeros(1 << 20, '\0');
    Bytes truncated = zip(xml, 8);
    truncated.resize(truncated.size() / 2);
    Bytes corrupt = zip(xml, 8);
    corrupt[40] ^= 0xFF;
    Bytes header_only = zip(xml, 0);
    header_only.resize(29);
    struct Case {
        const char *name;
        Bytes archive;
        bool ok;
        std::size_t max_size;
    } cases[] = {
        {"stored", zip(xml, 0), true, 1 << 20},
        {"deflated", zip(xml, 8), true, 1 << 20},
        {"deflated, sizes after the data", zip(xml, 8, 0x8), true, 1 << 20},
        {"stored, sizes after the data", zip(xml, 0, 0x8), false, 1 << 20},
        {"truncated", truncated, false, 1 << 20},
        {"corrupt", corrupt, false, 1 << 20},
        {"header cut short", header_only, false, 1 << 20},
        {"bomb past the bound", zip(zeros, 8), false, 1 << 16},
        {"bomb past the bound, sizes after the data", zip(zeros, 8, 0x8), false, 1 << 16},
        {"inflates past its stated size", zip(zeros, 8, 0, 100), false, 1 << 22},
        {"encrypted", zip(xml, 0, 0x1), false, 1 << 20},
        {"another method", zip(xml, 12), false, 1 << 20},
        {"not a zip", Bytes(xml.begin(), xml.end()), false, 1 << 20},
    };
    for (const auto &c : cases) {
        std::string out = "untouched", error;
        const bool ok =
            unzip_first_entry(c.archive.data(), c.archive.size(), out, error, c.max_size);
        const bool right =
            ok == c.ok && (ok ? out == xml && error.empty() : out == "untouched" && !error.empty());
        if (!right) std::fprintf(stderr, "zip: %s (%s)\n", c.name, error.c_str());
        CHECK(right);
    }
}
