// The shared thread pool: every part done once and no worker number used by
// two threads at a time, whatever the sizes and counts; helpers stopped when
// the count is lowered (after the job in progress) and started again when
// it is raised; concurrent callers; a forked child with helpers of its own
// although its parent's pool was taken and its lock in use.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "check.hpp"
#include "pool_in_use.hpp"

using vantix::threads::ThreadPool;
using namespace std::chrono_literals;

namespace {

bool parts_done_once(std::size_t parts, std::size_t workers) {
    std::unique_ptr<std::atomic<int>[]> seen(new std::atomic<int>[parts + 1]());
    std::unique_ptr<std::atomic<int>[]> active(new std::atomic<int>[workers + 1]());
    std::atomic<bool> ok{true};
    vantix::work::for_parts(parts, workers, [&](std::size_t worker, std::size_t i) {
        if (worker >= std::max<std::size_t>(workers, 1) || active[worker]++ != 0) ok = false;
        seen[i]++;
        active[worker]--;
    });
    for (std::size_t i = 0; i < parts; ++i) ok = ok && seen[i] == 1;
    return ok;
}

// A job whose workers record their numbers and wait for `release` (a
// second at most); the calling thread's share then lingers a little longer.
struct Gate {
    std::atomic<bool> release{false};
    std::atomic<int> entered{0}, left{0};
    std::atomic<unsigned> workers{0};
    std::chrono::milliseconds caller_lingers{0};
    static void work(void *context, std::size_t worker) {
        auto &g = *static_cast<Gate *>(context);
        g.workers |= 1u << worker;
        ++g.entered;
        const auto until = std::chrono::steady_clock::now() + 1s;
        while (!g.release && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
        if (worker == 0) std::this_thread::sleep_for(g.caller_lingers);
        ++g.left;
    }
    void run_on(ThreadPool &pool, std::size_t helpers) {
        release = true;
        pool.run(helpers, &work, this);
    }
};

int tasks() {
    int count = 0;
    if (DIR *dir = opendir("/proc/self/task")) {
        while (const dirent *e = readdir(dir)) count += e->d_name[0] != '.';
        closedir(dir);
    }
    return count;
}

}  // namespace

TEST(every_part_done_once_for_any_size_and_count) {
    for (std::size_t threads : {1u, 2u, 3u, 8u}) {
        PoolInUse pool(threads);
        for (std::size_t parts : {0u, 1u, 2u, 3u, 7u, 64u, 1000u})
            for (std::size_t workers : {std::size_t(2), threads, threads + 5})
                CHECK(parts_done_once(parts, workers));
    }
}

TEST(lowering_stops_helpers_and_raising_starts_them_again) {
    const int before = tasks();
    ThreadPool pool(4);
    Gate().run_on(pool, 9);
    CHECK(pool.helpers() == 3 && tasks() == before + 3);
    pool.set_threads(2);
    CHECK(pool.threads() == 2 && pool.helpers() == 1 && tasks() == before + 1);
    pool.set_threads(1);
    Gate alone;
    alone.run_on(pool, 3);
    CHECK(alone.workers == 1u && pool.helpers() == 0 && tasks() == before);
    pool.set_threads(3);
    CHECK(pool.helpers() == 0);  // until a job wants them
    Gate again;
    again.run_on(pool, 3);
    CHECK(pool.helpers() == 2 && (again.workers & ~7u) == 0 && (again.workers & 1u));
    pool.set_threads(0);  // counts as 1
    CHECK(pool.threads() == 1 && pool.helpers() == 0);
}

TEST(lowering_waits_for_the_job_in_progress) {
    ThreadPool pool(3);
    Gate gate;
    gate.caller_lingers = 50ms;  // the job ends well after its helpers' shares
    std::thread job([&] { pool.run(2, &Gate::work, &gate); });
    while (gate.entered == 0) std::this_thread::sleep_for(1ms);
    std::thread release([&] {
        std::this_thread::sleep_for(50ms);
        gate.release = true;
    });
    pool.set_threads(1);
    CHECK(gate.left == gate.entered && pool.helpers() == 0);
    release.join();
    job.join();
}

TEST(concurrent_callers_while_the_count_changes) {
    PoolInUse pool(3);
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        for (std::size_t i = 0; !stop; ++i) {
            PoolInUse::pool().set_threads(1 + i % 4);
            std::this_thread::sleep_for(200us);
        }
    });
    std::atomic<int> good{0};
    std::vector<std::thread> callers;
    callers.reserve(4);
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&] {
            for (int i = 0; i < 100; ++i) good += parts_done_once(257, 4);
        });
    for (auto &c : callers) c.join();
    stop = true;
    changer.join();
    CHECK(good == 400);
}

TEST(a_forked_child_starts_helpers_of_its_own) {
    ThreadPool pool(3);
    Gate busy;  // holds the parent's helpers across the forks
    std::thread job([&] { pool.run(2, &Gate::work, &busy); });
    while (busy.entered < 3) std::this_thread::sleep_for(1ms);
    std::atomic<bool> stop{false};
    std::thread locker([&] {
        while (!stop) pool.helpers();  // takes the pool's lock
    });
    for (int round = 0; round < 5; ++round) {
        const pid_t pid = fork();
        if (pid == 0) {
            // The caller waits (a second at most) for a helper to join in.
            std::atomic<bool> helped{false};
            const bool fresh = pool.helpers() == 0;
            pool.run(
                2,
                [](void *context, std::size_t worker) {
                    auto &h = *static_cast<std::atomic<bool> *>(context);
                    const auto until = std::chrono::steady_clock::now() + 1s;
                    if (worker > 0) h = true;
                    while (!h && std::chrono::steady_clock::now() < until)
                        std::this_thread::sleep_for(1ms);
                },
                &helped);
            _exit(fresh && helped && pool.helpers() == 2 ? 0 : 1);
        }
        int status = -1;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) kill(pid, SIGKILL);
            std::this_thread::sleep_for(2ms);
        }
        CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    stop = true;
    locker.join();
    busy.release = true;
    job.join();
    CHECK(busy.left == 3 && pool.helpers() == 2);
}
