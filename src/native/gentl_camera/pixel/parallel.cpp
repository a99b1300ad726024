#include "parallel.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif
#if defined(__unix__)
#include <unistd.h>
#endif

namespace vantix::pixel {
namespace {

using Work = std::function<void(std::size_t worker)>;

// Helper threads, started once and kept asleep between frames: starting a
// thread per frame costs more than waking one. One frame at a time uses
// them; a caller that finds them busy works alone.
class Helpers {
public:
    explicit Helpers(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            try {
                threads_.emplace_back([this] { serve(); });
            } catch (const std::system_error &) {
                break;
            }
        }
    }

    // Runs work(0) here and work(1..n) on up to n helpers that wake in time;
    // returns once every work that started has finished.
    void run(std::size_t n, const Work &work) {
        std::unique_lock<std::mutex> frame(frame_, std::try_to_lock);
        if (!frame.owns_lock() || threads_.empty()) return work(0);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = &work;
            wanted_ = n;
            taken_ = 0;
            ++generation_;
        }
        // Only the helpers the frame wants are woken; each takes the next number.
        if (n >= threads_.size())
            wake_.notify_all();
        else
            for (std::size_t i = 0; i < n; ++i) wake_.notify_one();
        work(0);
        // Helpers that have not taken the job by now find it closed.
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = nullptr;
        done_.wait(lock, [this] { return busy_ == 0; });
    }

private:
    void serve() {
        std::uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return generation_ != seen; });
            seen = generation_;
            if (!job_ || taken_ == wanted_) continue;
            const std::size_t worker = ++taken_;
            const Work *job = job_;
            ++busy_;
            lock.unlock();
            (*job)(worker);
            lock.lock();
            if (--busy_ == 0) done_.notify_one();
        }
    }

    std::mutex frame_;  // held by the frame being shared
    std::mutex mutex_;  // guards what follows
    std::condition_variable wake_, done_;
    const Work *job_ = nullptr;
    std::uint64_t generation_ = 0;
    std::size_t wanted_ = 0, taken_ = 0, busy_ = 0;
    std::vector<std::thread> threads_;
};

// The helpers of this process. They are never destroyed, so that a frame
// still being shared while the process exits has them to the end; a child
// of fork(), which has none of its parent's threads, starts its own.
Helpers &helpers() {
#if defined(__unix__)
    static std::atomic<Helpers *> current{nullptr};
    static std::atomic<pid_t> owner{0};
    static std::mutex creating;
    const pid_t pid = getpid();
    Helpers *h = current.load(std::memory_order_acquire);
    if (h && owner.load(std::memory_order_acquire) == pid) return *h;
    std::lock_guard<std::mutex> lock(creating);
    h = current.load(std::memory_order_acquire);
    if (!h || owner.load(std::memory_order_acquire) != pid) {
        h = new Helpers(thread_count() - 1);
        owner.store(pid, std::memory_order_release);
        current.store(h, std::memory_order_release);
    }
    return *h;
#else
    static Helpers *h = new Helpers(thread_count() - 1);
    return *h;
#endif
}

}  // namespace

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
    const std::size_t workers = std::min(
        {thread_count(), parts, std::max<std::size_t>(1, n / (kThreadBytes / item_bytes + 1))});
    if (workers <= 1) return body(0, 0, n);
    std::atomic<std::size_t> next{0};
    helpers().run(workers - 1, [&](std::size_t worker) {
        for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < parts;)
            body(worker, i * part, std::min(n, (i + 1) * part));
    });
}

}  // namespace vantix::pixel
