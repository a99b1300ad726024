// sources: src/native/gentl_camera/pixel/parallel.cpp
// The parts a frame is shared in: each item once, parts on whole grains,
// worker numbers within the thread count, small frames on the caller alone.
#include <atomic>
#include <memory>

#include "check.hpp"
#include "gentl_camera/pixel/parallel.hpp"

using namespace vantix::pixel;

TEST(parts_cover_every_item_once) {
    const std::size_t sizes[] = {1, 63, 64, 65, kPartBytes + 1, 3 * kPartBytes + 17, 40 * kPartBytes};
    for (std::size_t n : sizes)
        for (std::size_t grain : {1, 64}) {
            std::unique_ptr<std::atomic<int>[]> seen(new std::atomic<int>[n]());
            std::atomic<bool> ok{true};
            parallel_parts(n, grain, 1, [&](std::size_t worker, std::size_t begin, std::size_t end) {
                if (worker >= thread_count() || begin >= end || end > n ||
                    (end != n && (end - begin) % grain != 0))
                    ok = false;
                for (std::size_t i = begin; i < end; ++i) seen[i]++;
            });
            CHECK(ok);
            bool once = true;
            for (std::size_t i = 0; i < n; ++i) once = once && seen[i] == 1;
            CHECK(once);
        }
}

TEST(small_frames_stay_on_the_calling_thread) {
    int calls = 0;
    parallel_parts(kThreadBytes / 3, 1, 3, [&](std::size_t worker, std::size_t begin, std::size_t end) {
        ++calls;
        CHECK(worker == 0 && begin == 0 && end == kThreadBytes / 3);
    });
    CHECK(calls == 1);
    parallel_parts(0, 1, 3, [&](std::size_t, std::size_t, std::size_t) { ++calls; });
    CHECK(calls == 1);
    CHECK(thread_count() >= 1);
}
