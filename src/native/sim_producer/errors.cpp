#include "errors.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vantix::sim {

namespace {

struct LastError {
    gentl::GC_ERROR code = gentl::GC_ERR_SUCCESS;
    char text[512] = "";
};
thread_local LastError last;

// A text cut to fit may end inside a UTF-8 sequence: that part goes too,
// so the text stays valid UTF-8.
void drop_cut_character(char *text) {
    const std::size_t end = std::strlen(text);
    std::size_t lead = end;
    while (lead > 0 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead == 0) return;
    const auto first = static_cast<unsigned char>(text[lead - 1]);
    const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    if (end - (lead - 1) < length) text[lead - 1] = '\0';
}

}  // namespace

gentl::GC_ERROR fail(gentl::GC_ERROR code, const char *format, ...) noexcept {
    last.code = code;
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(last.text, sizeof last.text, format, args);
    va_end(args);
    if (length >= static_cast<int>(sizeof last.text)) drop_cut_character(last.text);
    return code;
}

gentl::GC_ERROR last_error_code() noexcept { return last.code; }
const char *last_error_text() noexcept { return last.text; }

}  // namespace vantix::sim
