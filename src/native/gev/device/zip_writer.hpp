// A zip archive of one file, deflated: how a camera keeps its GenICam
// document small in its memory. The archive is what any unzip reads (local
// header, raw deflate data, central directory, end record).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantix::gev::device {

// Empty when zlib refuses (out of memory).
std::vector<std::uint8_t> zip_one_file(const std::string &name, const std::string &content);

}  // namespace vantix::gev::device
