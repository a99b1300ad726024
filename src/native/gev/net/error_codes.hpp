// The GenTL error numbers this layer answers with (GC_ERROR values, as the
// GenTL core defines them), so the layer needs nothing of the core.
#pragma once

#include <cstdint>
#include <string>

namespace vantix::gev {

namespace gc {
constexpr std::int32_t kSuccess = 0, kError = -1001, kNotImplemented = -1003, kAccessDenied = -1005,
                       kInvalidParameter = -1009, kIo = -1010, kTimeout = -1011,
                       kInvalidAddress = -1015, kBusy = -1022;
}  // namespace gc

// What an operation on the camera came to: a GenTL code and, when it
// failed, a text that names the command, the address and the camera.
struct Result {
    std::int32_t code = gc::kSuccess;
    std::string text;
    bool ok() const { return code == gc::kSuccess; }
    static Result success() { return {}; }
};

// An acknowledge's status code as a GenTL code.
std::int32_t gentl_code(std::uint16_t status);

}  // namespace vantix::gev
