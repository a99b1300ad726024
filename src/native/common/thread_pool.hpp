// Helper threads shared by every kernel that splits its work, free of
// Python (threads/module.cpp makes the process's one pool and offers it to
// the kernels through work_api.hpp).
//
// Helpers start lazily, when a job first wants them, never more than
// threads() - 1, and sleep between jobs: waking a thread costs less than
// starting one. One job at a time has them; a caller that finds them taken
// (by another job, by a count being changed, or because it is itself
// inside a job's work) does its work alone. Lowering the count stops the
// helpers beyond it once the job in progress is done; with a count of 1 no
// helper is started.
//
// A child of fork() has none of its parent's threads, and a lock another
// thread held at the fork stays held there for good. The pool therefore
// keeps everything but the count in a state tagged with the process id and
// starts from a fresh one in a new process, never touching the parent's.
#pragma once

#include <atomic>
#include <cstddef>

#include "work_api.hpp"

namespace vantix::threads {

// CPUs this process may run on (its CPU affinity), at least 1.
std::size_t affinity_cpus();

class ThreadPool {
public:
    explicit ThreadPool(std::size_t threads);
    // Stops and joins this process's helpers; no job may be running. The
    // state a forked child inherited from its parent is left as it is.
    ~ThreadPool();
    ThreadPool(const ThreadPool &) = delete;
    ThreadPool &operator=(const ThreadPool &) = delete;

    // Threads a job may use, the calling thread included (at least 1).
    std::size_t threads() const noexcept;

    // Sets that count (0 counts as 1). Helpers beyond it stop after the job
    // in progress, which this waits for; more start when a job wants them.
    // Not to be called from a job's work.
    void set_threads(std::size_t threads);

    // Helper threads of this process.
    std::size_t helpers();

    // As VantixWorkApi::run: work(context, 0) here, work(context, w) on up to
    // `helpers` helpers (fewer than threads()), each w once, w in 1..helpers.
    void run(std::size_t helpers, VantixWork work, void *context) noexcept;

private:
    struct State;
    State &state();
    State *state_or_null() noexcept;

    std::atomic<std::size_t> threads_;
    std::atomic<State *> state_{nullptr};
};

}  // namespace vantix::threads
