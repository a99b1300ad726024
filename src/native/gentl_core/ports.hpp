// Port access to a node map the producer holds itself: its own modules' and,
// for a transport that keeps its cameras in memory, a camera's.
#pragma once

#include <cstdint>
#include <string>

#include "gentl.hpp"
#include "node_map.hpp"
#include "transport.hpp"

namespace vantix::gentl_core {

// A read of `size` bytes at `address`; sets the last error on failure.
gentl::GC_ERROR read_nodes(const NodeMap &nodes, std::uint64_t address, void *buffer,
                           std::size_t size);

// The document of `nodes` as a local URL, in a file named after `stem`.
PortUrl local_url(const std::string &stem, const NodeMap &nodes);

}  // namespace vantix::gentl_core
