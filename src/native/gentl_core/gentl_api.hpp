// The GenTL functions the producer exports, declared once from the list in
// gentl_entry_points.hpp. Every source that defines one includes this, so a
// definition that strays from its declaration does not compile; the fuzzing
// harness calls them through it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gentl.hpp"
#include "gentl_entry_points.hpp"

#define VANTIX_GENTL_DECLARE(name, parameters) GENTL_EXPORT gentl::GC_ERROR name parameters;
VANTIX_GENTL_ENTRY_POINTS(VANTIX_GENTL_DECLARE, VANTIX_GENTL_DECLARE)
#undef VANTIX_GENTL_DECLARE
