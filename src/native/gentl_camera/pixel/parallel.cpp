#include "parallel.hpp"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif

namespace vantix::pixel {

std::size_t thread_count() {
    static const std::size_t count = [] {
#if defined(__linux__)
        cpu_set_t set;
        if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
            return static_cast<std::size_t>(CPU_COUNT(&set));
#endif
        return std::max<std::size_t>(1, std::thread::hardware_concurrency());
    }();
    return count;
}

void parallel_parts(std::size_t n, std::size_t grain, std::size_t item_bytes,
                    const PartBody &body) {
    if (n == 0) return;
    grain = std::max<std::size_t>(grain, 1);
    item_bytes = std::max<std::size_t>(item_bytes, 1);
    const std::size_t part = std::max(grain, kPartBytes / item_bytes / grain * grain);
    const std::size_t parts = n / part + (n % part != 0);
    const std::size_t workers =
        std::min({thread_count(), parts, std::max<std::size_t>(1, n / (kThreadBytes / item_bytes + 1))});
    if (workers <= 1) {
        body(0, 0, n);
        return;
    }
    std::atomic<std::size_t> next{0};
    auto work = [&](std::size_t worker) {
        for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < parts;)
            body(worker, i * part, std::min(n, (i + 1) * part));
    };
    std::vector<std::thread> helpers;
    helpers.reserve(workers - 1);
    for (std::size_t w = 1; w < workers; ++w) {
        try {
            helpers.emplace_back(work, w);
        } catch (const std::system_error &) {
            break;
        }
    }
    work(0);
    for (auto &t : helpers) t.join();
}

}  // namespace vantix::pixel
