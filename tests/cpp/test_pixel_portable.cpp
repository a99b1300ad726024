// sources:
// The kernel tests again, against the portable loops alone: no AVX2 clones
// and no AVX2 paths, as on a CPU without AVX2.
#define VANTIX_HOT
#define VANTIX_NO_AVX2_PATH
#include "gentl_camera/pixel/colour.cpp"
#include "gentl_camera/pixel/expand.cpp"
#include "gentl_camera/pixel/shift.cpp"
#include "gentl_camera/pixel/unpack.cpp"
#include "test_pixel_kernels.cpp"
