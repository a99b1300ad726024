// The camera's connection: dropping off the link (by command or after so
// many frames) and returning, when configured, as a new connection.
#include "camera.hpp"

namespace vantix::sim {

bool Camera::reachable(Clock::time_point now) {
    if (!lost) return true;
    const std::int64_t after_ms = nodes.registers().get_int(return_after_);
    if (after_ms <= 0 || now < lost_at + std::chrono::milliseconds(after_ms)) return false;
    lost = false;
    return true;
}

void Camera::lose(Clock::time_point now) {
    lost = true;
    lost_at = now;
    ++generation;
    open = false;
    // The consumer locks the transport parameters while it streams and
    // unlocks them when it stops, which a lost connection never does: the
    // camera returns unlocked, its format free to change.
    nodes.registers().set_int(params_locked_, 0);
    end_acquisition();
}

void Camera::lose_now(int, std::int64_t) { lose(Clock::now()); }

}  // namespace vantix::sim
