// The acquisition thread of a data stream: decides when the camera takes a
// frame (free run at the frame period, or one per trigger), renders it into
// the next queued buffer without holding the library lock, and delivers it
// to the output queue, where EventGetData finds it.
#include <algorithm>
#include <functional>
#include <random>

#include "entry.hpp"

namespace vantix::sim {

namespace {

std::uint64_t steady_ns(Clock::time_point t) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

// Waits for a change, or until `until` when that is sooner than forever.
void wait(Camera &camera, Lock &lock, Clock::time_point until) {
    if (until == Clock::time_point::max()) camera.changed.wait(lock);
    else camera.changed.wait_until(lock, until);
}

}  // namespace

void run_acquisition(std::shared_ptr<Stream> stream) {
    Library &lib = library();
    Lock lock(lib.mutex);
    Stream &s = *stream;
    Camera &camera = *s.camera;
    std::minstd_rand random(static_cast<std::uint32_t>(std::hash<std::string>()(camera.config.serial)));
    std::chrono::nanoseconds late{-1};  // delay of the next frame (jitter drawn once per frame)

    while (!s.stop_requested) {
        const Clock::time_point now = Clock::now();
        if (!s.connected() || !camera.armed) {
            camera.changed.wait(lock);
            continue;
        }
        camera.run_pulses(now);
        const Clock::time_point pulse = camera.next_pulse_edge();
        if (!camera.active) {
            wait(camera, lock, pulse);
            continue;
        }
        const bool triggered = camera.frame_triggered();
        // Free run without a frame rate: as fast as the consumer returns buffers.
        if (!triggered && !camera.rate_limited() && s.input.empty()) {
            camera.changed.wait(lock);
            continue;
        }
        if (triggered && camera.triggers.empty()) {
            wait(camera, lock, pulse);
            continue;
        }
        if (late.count() < 0) {
            const auto jitter = camera.frame_jitter().count();
            late = camera.frame_delay();
            if (jitter > 0) late += std::chrono::nanoseconds(std::uniform_int_distribution<std::int64_t>(-jitter, jitter)(random));
            late = std::max(late, std::chrono::nanoseconds(0));
        }
        const Clock::time_point taken = triggered ? camera.triggers.front() + camera.exposure() : camera.next_frame;
        if (now < taken + late) {
            wait(camera, lock, std::min(taken + late, pulse));
            continue;
        }
        late = std::chrono::nanoseconds(-1);
        if (triggered) {
            camera.triggers.pop_front();
        } else {
            const auto period = camera.frame_period();
            camera.next_frame += period;
            if (camera.next_frame + period < now) camera.next_frame = now;  // fell behind: start afresh
        }
        Frame frame;
        frame.id = camera.next_frame_id++;
        frame.timestamp_ns = steady_ns(taken);
        frame.format = &camera.pixel_format();
        frame.geometry = camera.geometry();
        if (s.input.empty()) {
            ++s.underruns;  // the camera took a frame that no buffer could hold
            continue;
        }
        Buffer *buffer = s.input.front();
        s.input.pop_front();
        buffer->state = BufferState::filling;
        const std::size_t payload = line_bytes(*frame.format, frame.geometry.width) * frame.geometry.height;
        const std::uint64_t every = camera.incomplete_every();
        const bool cut = every && (camera.frames_delivered + 1) % every == 0;
        const std::size_t capacity = cut ? std::min(buffer->size, payload / 2) : buffer->size;
        std::uint8_t *memory = buffer->memory;

        lock.unlock();
        const std::size_t filled = s.renderer.render(*frame.format, frame.geometry, frame.id, memory, capacity);
        lock.lock();

        if ((s.stop_requested && s.stop_kill) || !s.connected()) {
            buffer->state = BufferState::input;
            s.input.push_front(buffer);
            continue;
        }
        buffer->frame = frame;
        buffer->filled = filled;
        buffer->incomplete = filled < payload;
        buffer->new_data = true;
        buffer->state = BufferState::output;
        s.output.push_back(buffer);
        ++s.delivered;
        if (s.new_buffer_event) ++s.new_buffer_event->fired;
        ++camera.frames_delivered;
        if (camera.single_frame()) camera.end_acquisition();
        if (s.frames_left != gentl::kInfinite && --s.frames_left == 0) s.stop_requested = true;
        const std::uint64_t lose_after = camera.lose_after();
        if (lose_after && camera.frames_delivered >= lose_after) camera.lose(Clock::now());
        camera.changed.notify_all();
    }
}

}  // namespace vantix::sim
