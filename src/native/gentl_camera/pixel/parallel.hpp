// Sharing a frame among the threads of the process's pool (the module routes
// ../../common/work_sharing.hpp to it; without that, as in the C++ tests
// that install no pool, the calling thread does everything). The frame is
// cut into parts of about kPartBytes of output, which the threads take in
// turn from a shared counter, so that a thread slowed by other work on its
// CPU takes fewer. Small frames, which would not pay for waking a helper,
// stay on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vantix::pixel {

constexpr std::size_t kPartBytes = std::size_t(512) << 10;
// Output bytes per thread below which no further thread is woken.
constexpr std::size_t kThreadBytes = std::size_t(256) << 10;

// Threads the pool lets a frame use now, the calling thread included (at
// least 1). It may change between two calls (vantix.set_num_threads).
std::size_t thread_count();

// Threads parallel_parts would share such a frame among with the count as
// it is now (at least 1): what per-thread scratch is sized for.
std::size_t workers_for(std::size_t n, std::size_t grain, std::size_t item_bytes);

// body(worker, begin, end): items [begin, end) on thread `worker` (0 is the
// calling thread, all are below max_workers). Must not throw.
using PartBody = std::function<void(std::size_t worker, std::size_t begin, std::size_t end)>;

// Calls body for parts that cover [0, n) once, items writing item_bytes
// each; every part but the last is a multiple of `grain` items. At most
// min(max_workers, workers_for(n, grain, item_bytes)) threads take part; a
// caller whose scratch was sized by an earlier workers_for passes that.
// Returns when all are done. Helpers that are busy with another frame or
// wake late leave their parts to the others.
void parallel_parts(std::size_t n, std::size_t grain, std::size_t item_bytes, const PartBody &body,
                    std::size_t max_workers = SIZE_MAX);

}  // namespace vantix::pixel
