#include "parallel.hpp"

#include <algorithm>

#include "../../common/work_sharing.hpp"

namespace vantix::pixel {
namespace {

struct Split {
    std::size_t part, parts, workers;
};

Split split(std::size_t n, std::size_t grain, std::size_t item_bytes) {
    grain = std::max<std::size_t>(grain, 1);
    item_bytes = std::max<std::size_t>(item_bytes, 1);
    const std::size_t part = std::max(grain, kPartBytes / item_bytes / grain * grain);
    const std::size_t parts = n / part + (n % part != 0);
    const std::size_t workers = std::min(
        {thread_count(), parts, std::max<std::size_t>(1, n / (kThreadBytes / item_bytes + 1))});
    return {part, parts, std::max<std::size_t>(workers, 1)};
}

}  // namespace

std::size_t thread_count() { return std::max<std::size_t>(work::threads(), 1); }

std::size_t workers_for(std::size_t n, std::size_t grain, std::size_t item_bytes) {
    return split(n, grain, item_bytes).workers;
}

void parallel_parts(std::size_t n, std::size_t grain, std::size_t item_bytes, const PartBody &body,
                    std::size_t max_workers) {
    if (n == 0) return;
    const Split s = split(n, grain, item_bytes);
    const std::size_t workers = std::min(s.workers, max_workers);
    if (workers <= 1) return body(0, 0, n);
    work::for_parts(s.parts, workers, [&](std::size_t worker, std::size_t i) {
        body(worker, i * s.part, std::min(n, (i + 1) * s.part));
    });
}

}  // namespace vantix::pixel
