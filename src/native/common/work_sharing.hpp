// The kernels' side of the thread policy: how a pure kernel shares its work.
// Each module routes it to the process's pool at its initialisation (see
// shared_pool.hpp); until then, and in the C++ tests that install nothing,
// everything runs on the calling thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>

#include "work_api.hpp"

namespace vantix::work {

// Kernels of this module use `api` from now on; nullptr puts them back on
// the calling thread alone.
void use(const VantixWorkApi *api) noexcept;

// The table in use.
const VantixWorkApi &api() noexcept;

// Threads a kernel may use now, the calling thread included (at least 1).
inline std::size_t threads() noexcept { return api().threads(); }

// Calls part(worker, i) once for every i in [0, parts) and returns when all
// are done. At most `workers` threads take part, worker 0 being the calling
// thread and every worker below `workers`. Each takes the next part from a
// shared counter, so a thread that wakes late or is slowed by other work on
// its CPU does fewer, and the result must not depend on who did which.
// part must not throw.
template <class Part>
void for_parts(std::size_t parts, std::size_t workers, const Part &part) {
    workers = std::min(workers, parts);
    if (workers <= 1) {
        for (std::size_t i = 0; i < parts; ++i) part(std::size_t(0), i);
        return;
    }
    struct Shared {
        std::atomic<std::size_t> next{0};
        std::size_t parts = 0;
        const Part *part = nullptr;
    } shared;
    shared.parts = parts;
    shared.part = &part;
    const VantixWork take = [](void *context, std::size_t worker) {
        auto &s = *static_cast<Shared *>(context);
        for (std::size_t i; (i = s.next.fetch_add(1, std::memory_order_relaxed)) < s.parts;)
            (*s.part)(worker, i);
    };
    api().run(workers - 1, take, &shared);
}

}  // namespace vantix::work
