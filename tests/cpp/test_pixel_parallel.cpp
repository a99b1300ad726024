// The parts a frame is shared in: each item once, parts on whole grains,
// worker numbers within the threads allowed, small frames on the caller
// alone, frames shared from several threads at once.
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "check.hpp"
#include "gentl_camera/pixel/parallel.hpp"
#include "pool_in_use.hpp"

using namespace vantix::pixel;

namespace {

bool covered_once(std::size_t n, std::size_t grain, std::size_t max_workers = SIZE_MAX) {
    std::unique_ptr<std::atomic<int>[]> seen(new std::atomic<int>[n]());
    std::atomic<bool> ok{true};
    const std::size_t bound = std::min(max_workers, thread_count());
    const auto body = [&](std::size_t worker, std::size_t begin, std::size_t end) {
        if (worker >= bound || begin >= end || end > n || (end != n && (end - begin) % grain != 0))
            ok = false;
        for (std::size_t i = begin; i < end; ++i) seen[i]++;
    };
    parallel_parts(n, grain, 1, body, max_workers);
    for (std::size_t i = 0; i < n; ++i) ok = ok && seen[i] == 1;
    return ok;
}

}  // namespace

TEST(parts_cover_every_item_once) {
    const std::size_t sizes[] = {
        1, 63, 64, 65, kPartBytes + 1, 3 * kPartBytes + 17, 40 * kPartBytes};
    for (std::size_t threads : {1u, 4u}) {
        PoolInUse pool(threads);
        for (std::size_t n : sizes)
            for (std::size_t grain : {1u, 64u}) CHECK(covered_once(n, grain));
        // A caller whose scratch was sized for two threads gets at most two.
        CHECK(covered_once(40 * kPartBytes, 64, 2));
        CHECK(workers_for(40 * kPartBytes, 64, 1) == threads);
    }
}

TEST(frames_shared_from_several_threads_at_once) {
    PoolInUse pool(3);
    std::atomic<int> good{0};
    std::vector<std::thread> callers;
    callers.reserve(4);
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&] {
            for (int i = 0; i < 20; ++i) good += covered_once(5 * kPartBytes + 3, 64);
        });
    for (auto &c : callers) c.join();
    CHECK(good == 80);
}

TEST(small_frames_stay_on_the_calling_thread) {
    int calls = 0;
    const std::size_t n = kThreadBytes / 3;
    parallel_parts(n, 1, 3, [&](std::size_t worker, std::size_t begin, std::size_t end) {
        ++calls;
        CHECK(worker == 0 && begin == 0 && end == n);
    });
    CHECK(calls == 1);
    parallel_parts(0, 1, 3, [&](std::size_t, std::size_t, std::size_t) { ++calls; });
    CHECK(calls == 1);
    CHECK(thread_count() >= 1);
}
