// The access a camera grants an open device handle. Apart from the
// transport so a producer's configuration can name it without the GenTL API.
#pragma once

namespace vantix::gentl_core {

// Ordered: a camera that grants `control` also grants `read_only`.
enum class Grant { read_only = 1, control = 2, exclusive = 3 };

}  // namespace vantix::gentl_core
