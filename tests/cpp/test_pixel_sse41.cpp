// sources: src/native/gentl_camera/pixel/format.cpp src/native/gentl_camera/pixel/parallel.cpp src/native/gentl_camera/pixel/simd.cpp src/native/gentl_camera/pixel/simd_avx2.cpp src/native/gentl_camera/pixel/simd_sse41.cpp src/native/gentl_camera/pixel/simd_baseline.cpp src/native/gentl_camera/pixel/unpack.cpp src/native/gentl_camera/pixel/shift.cpp src/native/gentl_camera/pixel/colour.cpp src/native/gentl_camera/pixel/demosaic.cpp
// The kernel tests again, against the SSE4.1 table, as a CPU without AVX2
// runs them.
#define VANTIX_TEST_ISA "sse41"
#include "test_pixel_portable.cpp"
