// Asking a GenTL producer, without Python, why it offers no device.
#pragma once

#include <optional>
#include <string>

namespace vantix::camera {

// The producer's own words for failing to start: GCInitLib is called again
// and, when it fails, the producer's last-error text of this thread is
// returned. A producer that starts now is closed again, and one already
// started (resource in use) has said nothing: both give nothing. Blocks for
// as long as the producer's GCInitLib does.
std::optional<std::string> producer_start_failure(const std::string &path);

}  // namespace vantix::camera
