#include "thread_pool.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif
#if defined(__unix__)
#include <unistd.h>
#endif

namespace vantix::threads {
namespace {

long current_process() {
#if defined(__unix__)
    return static_cast<long>(getpid());
#else
    return 0;
#endif
}

}  // namespace

std::size_t affinity_cpus() {
#if defined(__linux__)
    // A machine may have more CPUs than a cpu_set_t holds: grow until it fits.
    for (std::size_t cpus = CPU_SETSIZE; cpus <= (std::size_t{1} << 20); cpus *= 2) {
        cpu_set_t *set = CPU_ALLOC(cpus);
        if (!set) break;
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set);
        const int failed = sched_getaffinity(0, size, set);
        const int error = errno;
        const int count = failed ? 0 : CPU_COUNT_S(size, set);
        CPU_FREE(set);
        if (count > 0) return static_cast<std::size_t>(count);
        if (!failed || error != EINVAL) break;
    }
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

// Everything a process's helpers share. Guarded by `mutex`, except the
// constants.
struct ThreadPool::State {
    State(long owner, std::size_t helpers_allowed, State *replaced)
        : pid(owner), previous(replaced), allowed(helpers_allowed) {}

    const long pid;
    // The parent's state when this one replaced it after a fork: kept
    // reachable, never used (its threads and lock holders are not here).
    State *const previous;

    std::mutex mutex;
    std::condition_variable wake;  // helpers: a job, or a stop
    std::condition_variable done;  // the caller: the last helper left the job
    std::condition_variable idle;  // set_threads: nothing holds the helpers
    bool taken = false;            // a job or a count change holds them
    std::size_t allowed;           // helpers numbered from here on stop
    std::vector<std::thread> helpers;

    // The job: helpers that see a new generation join while fewer than
    // `wanted` have, each with the next worker number.
    VantixWork work = nullptr;
    void *context = nullptr;
    std::uint64_t generation = 0;
    std::size_t wanted = 0, joined = 0, busy = 0;

    void serve(std::size_t index, std::uint64_t seen) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return generation != seen || index >= allowed; });
            if (index >= allowed) return;
            seen = generation;
            if (!work || joined == wanted) continue;
            const std::size_t worker = ++joined;
            const VantixWork job = work;
            void *const job_context = context;
            ++busy;
            lock.unlock();
            job(job_context, worker);
            lock.lock();
            if (--busy == 0) done.notify_one();
        }
    }

    // Starts helpers until there are `count`, or until one cannot be had.
    // The new ones will join the next generation's job.
    void start(std::size_t count) {
        try {
            while (helpers.size() < count)
                helpers.emplace_back(&State::serve, this, helpers.size(), generation);
        } catch (const std::exception &) {  // NOLINT(bugprone-empty-catch)
            // No thread (or no memory) to be had: fewer helpers.
        }
    }
};

ThreadPool::ThreadPool(std::size_t threads) : threads_(std::max<std::size_t>(threads, 1)) {}

ThreadPool::~ThreadPool() {
    State *s = state_.load(std::memory_order_acquire);
    if (!s || s->pid != current_process()) return;
    set_threads(1);
    delete s;
}

std::size_t ThreadPool::threads() const noexcept {
    return threads_.load(std::memory_order_relaxed);
}

ThreadPool::State &ThreadPool::state() {
    const long pid = current_process();
    State *s = state_.load(std::memory_order_acquire);
    while (!s || s->pid != pid) {
        auto *fresh = new State(pid, threads() - 1, s);
        if (state_.compare_exchange_strong(s, fresh, std::memory_order_acq_rel)) return *fresh;
        delete fresh;  // another thread made this process's state first
    }
    return *s;
}

ThreadPool::State *ThreadPool::state_or_null() noexcept {
    try {
        return &state();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

void ThreadPool::set_threads(std::size_t threads) {
    threads_.store(std::max<std::size_t>(threads, 1), std::memory_order_relaxed);
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.idle.wait(lock, [&] { return !s.taken; });
    // The latest count, should another call have come in meanwhile.
    s.allowed = this->threads() - 1;
    if (s.helpers.size() <= s.allowed) return;
    std::vector<std::thread> leaving;
    for (auto it = s.helpers.begin() + static_cast<std::ptrdiff_t>(s.allowed);
         it != s.helpers.end(); ++it)
        leaving.push_back(std::move(*it));
    s.helpers.resize(s.allowed);
    s.taken = true;
    lock.unlock();
    s.wake.notify_all();
    for (auto &t : leaving) t.join();
    lock.lock();
    s.taken = false;
    lock.unlock();
    s.idle.notify_all();
}

std::size_t ThreadPool::helpers() {
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.helpers.size();
}

void ThreadPool::run(std::size_t helpers, VantixWork work, void *context) noexcept {
    helpers = std::min(helpers, threads() - 1);
    State *s = helpers ? state_or_null() : nullptr;
    if (!s) return work(context, 0);
    std::unique_lock<std::mutex> lock(s->mutex);
    if (s->taken) {
        lock.unlock();
        return work(context, 0);
    }
    s->start(std::min(helpers, s->allowed));
    helpers = std::min(helpers, s->helpers.size());
    if (helpers == 0) {
        lock.unlock();
        return work(context, 0);
    }
    s->taken = true;
    s->work = work;
    s->context = context;
    s->wanted = helpers;
    s->joined = 0;
    ++s->generation;
    const bool everyone = helpers == s->helpers.size();
    lock.unlock();
    // Only as many helpers as the job wants are woken.
    if (everyone)
        s->wake.notify_all();
    else
        for (std::size_t i = 0; i < helpers; ++i) s->wake.notify_one();
    work(context, 0);
    lock.lock();
    s->work = nullptr;  // helpers that have not joined yet find the job closed
    s->done.wait(lock, [&] { return s->busy == 0; });
    s->taken = false;
    lock.unlock();
    s->idle.notify_all();
}

}  // namespace vantix::threads
