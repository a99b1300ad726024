// Where a camera keeps its GenICam document (the first URL register) and
// how to get the document out of what is stored there: plain, or a zip
// archive whose first entry is inflated here (stored or deflated).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantix::gev {

struct XmlLocation {
    enum class Scheme { local, file, http } scheme = Scheme::local;
    std::string file_name;      // local: as named; file: the path
    std::uint64_t address = 0;  // local
    std::uint64_t size = 0;     // local
    bool zipped = false;        // the name ends in .zip
};
// Parses "Local:name.xml;ADDR;LEN" (also "Local:///name..."), hex without
// 0x, the document within 32-bit device memory; "File:path"; and http(s)
// URLs, kept whole in `file_name`. A "?SchemaVersion=..." suffix is set
// aside; the register's text ends at its first NUL. False, with the reason
// in `error`, for anything else (`out` is then left alone).
bool parse_xml_location(const char *text, std::size_t size, XmlLocation &out, std::string &error);

// The first entry of a zip archive, inflated; refused (false, with the
// reason) when the archive is truncated, uses another method, or would
// inflate to more than `max_size` bytes.
bool unzip_first_entry(const std::uint8_t *data, std::size_t size, std::string &out,
                       std::string &error, std::size_t max_size = 64u << 20);

}  // namespace vantix::gev
