// Control of a camera: taking the control channel privilege, keeping it
// with a heartbeat, noticing when the camera is gone, and giving it back.
// A read-only open takes nothing and makes the channel refuse writes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "control_channel.hpp"

namespace vantix::gev {

enum class Access { read_only, control, exclusive };

struct HeartbeatSettings {
    // 0: a third of the camera's heartbeat time-out.
    std::chrono::milliseconds period{0};
    // Heartbeats in a row left unanswered (every try timed out) before the
    // camera counts as lost; with the period at a third of the time-out,
    // two of them span about the time-out.
    unsigned failures_to_lose = 2;
};

class Privilege {
public:
    using LostCallback = std::function<void(const std::string &reason)>;
    explicit Privilege(ControlChannel &channel, HeartbeatSettings settings = {});
    ~Privilege() { release(); }
    Privilege(const Privilege &) = delete;
    Privilege &operator=(const Privilege &) = delete;

    // Takes `access` and starts the heartbeat; `on_lost` is called once,
    // from the heartbeat thread, when the camera stops answering.
    Result take(Access access, LostCallback on_lost = {});
    // Stops the heartbeat and gives control back (CCP 0) while the camera
    // still answers. Safe to call more than once.
    void release();

    Access access() const { return access_; }
    std::chrono::milliseconds heartbeat_timeout() const { return heartbeat_timeout_; }
    std::chrono::milliseconds heartbeat_period() const { return period_; }

private:
    void beat();

    ControlChannel &channel_;
    const HeartbeatSettings settings_;
    Access access_ = Access::read_only;
    bool held_ = false;
    std::chrono::milliseconds heartbeat_timeout_{3000}, period_{1000};
    LostCallback on_lost_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace vantix::gev
