// The kernel tests again, against the SSE4.1 table, as a CPU without AVX2
// runs them.
#define VANTIX_TEST_ISA "sse41"
#include "test_pixel_portable.cpp"  // NOLINT(bugprone-suspicious-include): as that file does
