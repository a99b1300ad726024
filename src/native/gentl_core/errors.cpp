#include "errors.hpp"

#include <cstdarg>
#include <cstdio>

#include "transport.hpp"
#include "utf8.hpp"

namespace vantix::gentl_core {

namespace {

struct LastError {
    gentl::GC_ERROR code = gentl::GC_ERR_SUCCESS;
    char text[512] = "";
};
thread_local LastError last;

}  // namespace

gentl::GC_ERROR fail(gentl::GC_ERROR code, const char *format, ...) noexcept {
    last.code = code;
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(last.text, sizeof last.text, format, args);
    va_end(args);
    // A text cut to fit may end inside a UTF-8 sequence: that part goes too.
    if (length >= static_cast<int>(sizeof last.text))
        if (const std::size_t cut = invalid_utf8_at(last.text); cut != std::string_view::npos)
            last.text[cut] = '\0';
    return code;
}

gentl::GC_ERROR last_error_code() noexcept { return last.code; }
const char *last_error_text() noexcept { return last.text; }

const char *producer_noun() noexcept { return transport().producer().noun; }

}  // namespace vantix::gentl_core
