// Sharing a frame among the CPU's threads. The frame is cut into parts of
// about kPartBytes of output, which the threads take in turn from a shared
// counter, so that a thread slowed by other work on its CPU takes fewer.
// The calling thread takes parts too; the others are helpers kept asleep
// between frames. Small frames, which would not pay for waking one, stay on
// the calling thread.
#pragma once

#include <cstddef>
#include <functional>

namespace vantix::pixel {

constexpr std::size_t kPartBytes = std::size_t(512) << 10;
// Output bytes per thread below which no further thread is woken.
constexpr std::size_t kThreadBytes = std::size_t(256) << 10;

// Threads this process may run on at once (its CPU affinity), at least 1.
std::size_t thread_count();

// body(worker, begin, end): items [begin, end) on thread `worker` (0 is the
// calling thread, all are below thread_count()). Must not throw.
using PartBody = std::function<void(std::size_t worker, std::size_t begin, std::size_t end)>;

// Calls body for parts that cover [0, n) once, items writing item_bytes
// each; every part but the last is a multiple of `grain` items. Returns when
// all are done. Helpers that cannot be started, are busy with another
// frame or wake late leave their parts to the others.
void parallel_parts(std::size_t n, std::size_t grain, std::size_t item_bytes, const PartBody &body);

}  // namespace vantix::pixel
