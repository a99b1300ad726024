#include "privilege.hpp"

#include <algorithm>

namespace vantix::gev {

using std::chrono::milliseconds;

Privilege::Privilege(ControlChannel &channel, HeartbeatSettings settings)
    : channel_(channel), settings_(settings) {}

Result Privilege::take(Access access, LostCallback on_lost) {
    release();
    access_ = access;
    channel_.set_read_only(access == Access::read_only);
    std::uint32_t capability = 0;
    if (channel_.read_register(reg::kCapability, capability).ok()) {
        constexpr std::uint32_t kConcatenation = 0x1;
        channel_.set_write_memory((capability & kCapabilityWriteMem) != 0);
        channel_.set_concatenation((capability & kConcatenation) != 0);
    }
    if (access == Access::read_only) return {};

    const std::uint32_t ccp =
        access == Access::exclusive ? kPrivilegeControl | kPrivilegeExclusive : kPrivilegeControl;
    if (Result r = channel_.write_register(reg::kControlPrivilege, ccp); !r.ok()) {
        // A camera held by another application may refuse, or not answer.
        if (r.code == gc::kTimeout) r.text += " (another application may control it)";
        return r;
    }
    held_ = true;
    std::uint32_t timeout_ms = 0;
    if (channel_.read_register(reg::kHeartbeatTimeout, timeout_ms).ok() && timeout_ms > 0)
        heartbeat_timeout_ = milliseconds(timeout_ms);
    period_ = settings_.period.count() > 0 ? settings_.period : heartbeat_timeout_ / 3;
    period_ = std::max(period_, milliseconds(20));
    on_lost_ = std::move(on_lost);
    stop_ = false;
    thread_ = std::thread([this] {
        try {
            beat();
        } catch (...) {  // NOLINT(bugprone-empty-catch)
            // Out of memory: the camera's own time-out ends control.
        }
    });
    return {};
}

void Privilege::beat() {
    // Tries short enough that a heartbeat, resends included, fits its period.
    ControlSettings quick = channel_.settings();
    const auto tries = static_cast<long>(quick.retries) + 1;
    quick.timeout = std::max(milliseconds(10), std::min(quick.timeout, period_ / tries));
    unsigned failures = 0;
    bool due = false;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (!due && wake_.wait_for(lock, period_, [this] { return stop_; })) break;
        due = false;
        lock.unlock();
        std::uint32_t ccp = 0;
        const Result r = channel_.read_register(reg::kControlPrivilege, ccp, quick);
        lock.lock();
        std::string reason;
        if (r.ok() && !(ccp & kPrivilegeControl)) {
            // It answers but no longer takes us for its controller: it
            // restarted, or dropped us; our settings there are gone.
            reason = "it gave up our control (it restarted, or missed our heartbeats)";
        } else if (r.code != gc::kTimeout) {
            failures = 0;
            continue;
        } else if (++failures < settings_.failures_to_lose) {
            due = true;  // at once: the time-outs already took a period
            continue;
        } else {
            reason = "no answer to " + std::to_string(failures) + " heartbeats in a row (" +
                     r.text + ")";
        }
        channel_.mark_lost(reason);
        if (on_lost_) {
            lock.unlock();
            on_lost_(reason);
            lock.lock();
        }
        break;
    }
}

void Privilege::release() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    if (held_ && !channel_.lost()) channel_.write_register(reg::kControlPrivilege, 0);
    held_ = false;
}

}  // namespace vantix::gev
