// The kernel tests again, against the baseline table alone, as a CPU
// without vector extensions runs them (or another table, as a file that
// includes this one says).
#include <cstdlib>
#include <cstring>

#include "gentl_camera/pixel/simd.hpp"

#ifndef VANTIX_TEST_ISA
#define VANTIX_TEST_ISA "baseline"
#endif

namespace {
// Before any kernel runs: the table is chosen on first use.
const int kTableSet = setenv("VANTIX_PIXEL_ISA", VANTIX_TEST_ISA, 1);
}  // namespace

// NOLINTBEGIN(bugprone-suspicious-include): the same tests, another table
#include "test_pixel_demosaic.cpp"
#include "test_pixel_kernels.cpp"
// NOLINTEND(bugprone-suspicious-include)

TEST(the_table_asked_for_is_the_one_used) {
    CHECK(kTableSet == 0);
    CHECK(std::strcmp(vantix::pixel::simd().name, VANTIX_TEST_ISA) == 0);
}
