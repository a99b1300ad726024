// sources: src/native/gentl_camera/pixel/format.cpp src/native/gentl_camera/pixel/parallel.cpp src/native/gentl_camera/pixel/simd.cpp src/native/gentl_camera/pixel/simd_avx2.cpp src/native/gentl_camera/pixel/simd_baseline.cpp src/native/gentl_camera/pixel/unpack.cpp src/native/gentl_camera/pixel/shift.cpp src/native/gentl_camera/pixel/colour.cpp src/native/gentl_camera/pixel/demosaic.cpp
// The kernel tests again, against the baseline table alone, as a CPU
// without AVX2 runs them.
#include <cstdlib>
#include <cstring>

#include "gentl_camera/pixel/simd.hpp"

namespace {
// Before any kernel runs: the table is chosen on first use.
const int kBaselineOnly = setenv("VANTIX_PIXEL_ISA", "baseline", 1);
}  // namespace

#include "test_pixel_demosaic.cpp"
#include "test_pixel_kernels.cpp"

TEST(baseline_table_is_the_one_used) {
    CHECK(kBaselineOnly == 0);
    CHECK(std::strcmp(vantix::pixel::simd().name, "baseline") == 0);
}
