#include "errors.hpp"

#include <cstdarg>
#include <cstdio>

namespace vantix::sim {

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
    std::vsnprintf(last.text, sizeof last.text, format, args);
    va_end(args);
    return code;
}

gentl::GC_ERROR last_error_code() noexcept { return last.code; }
const char *last_error_text() noexcept { return last.text; }

}  // namespace vantix::sim
