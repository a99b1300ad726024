// Element-wise mean and floored standard deviation over a set of samples,
// bit for bit as numpy computes them: np.stack(samples).mean(axis=0) and
// np.maximum(np.stack(samples).std(axis=0), floor) + eps.
//
// numpy reduces along the sample axis sequentially (one running sum per
// element, started at +0), in float32 for float32 input and in float64 for
// float64 and integer input; the deviation is the sum of the rounded squared
// differences from the already rounded mean, divided by n (population).
// The kernel must be compiled without floating-point contraction: a fused
// multiply-add changes the bits.
#pragma once

#include <cstddef>

namespace vantix::stats {

// samples: n pointers, each to d contiguous elements. Acc is float for float
// input and double otherwise. mean and sd receive d elements each. Large
// inputs are shared among the threads of the process's pool
// (common/work_sharing.hpp), small ones done on the calling thread; the bits
// do not depend on how.
template <typename T, typename Acc>
void mean_std(const T *const *samples, std::size_t n, std::size_t d, Acc floor, Acc eps, Acc *mean,
              Acc *sd);

}  // namespace vantix::stats
