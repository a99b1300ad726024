#include "work_sharing.hpp"

namespace vantix::work {
namespace {

std::size_t one_thread() { return 1; }
void on_caller(std::size_t, VantixWork work, void *context) { work(context, 0); }

const VantixWorkApi kCallingThreadOnly{VANTIX_WORK_API_VERSION, &one_thread, &on_caller};

// Set once at module initialisation, read by every kernel call.
std::atomic<const VantixWorkApi *> installed{&kCallingThreadOnly};

}  // namespace

void use(const VantixWorkApi *api) noexcept {
    installed.store(api ? api : &kCallingThreadOnly, std::memory_order_release);
}

const VantixWorkApi &api() noexcept { return *installed.load(std::memory_order_acquire); }

}  // namespace vantix::work
