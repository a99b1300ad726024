// Control characters in UTF-8 text: C0 (U+0000-U+001F), DEL and C1
// (U+0080-U+009F, the two bytes C2 80 to C2 9F). GenTL strings end at the
// first NUL, GenApi takes names as C strings, and the node-map XML cannot
// carry most of the others. Free of Python; shared by the camera module and
// the simulated producer.
#pragma once

#include <cstddef>
#include <string_view>

namespace vantix::text {

// The first control character's code point, or -1 when there is none.
inline int first_control(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) return b;
        if (b == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F) return next;
        }
    }
    return -1;
}

}  // namespace vantix::text
