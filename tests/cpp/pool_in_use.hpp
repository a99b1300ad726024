// Routes the kernels under test to a real thread pool for a scope, as each
// module does at init with the process's pool; without one they run on the
// calling thread alone.
#pragma once

#include "common/thread_pool.hpp"
#include "common/work_sharing.hpp"

class PoolInUse {
public:
    explicit PoolInUse(std::size_t threads) {
        pool().set_threads(threads);
        vantix::work::use(&kApi);
    }
    ~PoolInUse() { vantix::work::use(nullptr); }
    PoolInUse(const PoolInUse &) = delete;
    PoolInUse &operator=(const PoolInUse &) = delete;

    static vantix::threads::ThreadPool &pool() {
        static vantix::threads::ThreadPool instance(1);
        return instance;
    }

private:
    static std::size_t threads() { return pool().threads(); }
    static void run(std::size_t helpers, VantixWork work, void *context) {
        pool().run(helpers, work, context);
    }
    static constexpr VantixWorkApi kApi{VANTIX_WORK_API_VERSION, &threads, &run};
};
