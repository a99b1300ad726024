#include "utf8.hpp"

#include <cstdio>

namespace vantix::gentl_core {

namespace {

// Length of the well-formed UTF-8 sequence at `text[at]`, 0 if there is none
// (the table of well-formed byte sequences in the Unicode standard).
std::size_t sequence_length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    const unsigned b0 = byte(0);
    if (b0 < 0x80) return 1;
    const auto tail = [&](std::size_t i) { return byte(i) >= 0x80 && byte(i) <= 0xBF; };
    // Second-byte ranges exclude overlong forms (E0, F0), surrogates (ED) and
    // code points above U+10FFFF (F4).
    unsigned low = 0x80, high = 0xBF;
    std::size_t length = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        return 0;  // a continuation byte, C0, C1 or F5-FF
    }
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!tail(i)) return 0;
    return length;
}

}  // namespace

std::size_t invalid_utf8_at(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = sequence_length(text, i);
        if (n == 0) return i;
        i += n;
    }
    return std::string_view::npos;
}

std::string code_point_name(int cp) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(cp));
    return name;
}

std::string printable(std::string_view text, std::size_t max_chars) {
    std::string out;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++chars) {
        if (chars == max_chars) return out + "...";
        char escape[16];
        const std::size_t n = sequence_length(text, i);
        if (n == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[i]));
            out += escape;
            ++i;
            continue;
        }
        const int control = first_control(text.substr(i, n));
        if (control >= 0) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(control));
            out += escape;
        } else {
            out += text.substr(i, n);
        }
        i += n;
    }
    return out;
}

}  // namespace vantix::gentl_core
