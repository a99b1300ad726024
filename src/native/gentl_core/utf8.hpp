// Checks on text that comes from outside (a configuration file, the path the
// environment names, what a camera says): GenTL hands strings to consumers
// as NUL-terminated UTF-8, and the node-map XML cannot carry most control
// characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "../common/control_chars.hpp"

namespace vantix::gentl_core {

// Offset of the first byte that does not start a well-formed UTF-8 sequence
// (overlong forms, surrogates, code points above U+10FFFF, truncated
// sequences, stray continuation bytes), or npos when all of it is valid.
std::size_t invalid_utf8_at(std::string_view text);

using text::first_control;

// "U+001B".
std::string code_point_name(int cp);

// `text` fit for a message: control characters as \u001b, bytes that are
// not UTF-8 as \xff, cut to `max_chars` characters with "..." after.
std::string printable(std::string_view text, std::size_t max_chars = std::string::npos);

}  // namespace vantix::gentl_core
