// The acquisition thread of a data stream: decides when the camera takes a
// frame (free run at the frame period, or one per trigger), renders it
// without the library lock, ahead of its time where it can (a frame's pixels
// depend only on its id and the image format, locked while acquiring), and
// delivers it to the output queue, where EventGetData finds it.
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

bool same_picture(const Frame &a, const Frame &b) {
    const Geometry &x = a.geometry, &y = b.geometry;
    return a.id == b.id && a.format == b.format && x.width == y.width && x.height == y.height &&
           x.offset_x == y.offset_x && x.offset_y == y.offset_y;
}

class Acquisition {
public:
    explicit Acquisition(std::shared_ptr<Stream> stream)
        : stream_(std::move(stream)),
          s_(*stream_),
          camera_(*s_.camera),
          random_(static_cast<std::uint32_t>(std::hash<std::string>()(camera_.config.serial))) {}

    void run(Lock &lock) {
        while (!s_.stop_requested) step(lock);
        s_.return_pending();
    }

private:
    // The frame the camera takes next, as far as known now.
    Frame next_frame() const {
        Frame f;
        f.id = camera_.next_frame_id;
        f.format = &camera_.pixel_format();
        f.geometry = camera_.geometry();
        return f;
    }

    void wait(Lock &lock, Clock::time_point until) {
        if (until == Clock::time_point::max())
            camera_.changed.wait(lock);
        else
            camera_.changed.wait_until(lock, until);
    }

    // Renders `frame` into the first queued buffer, as the pending frame
    // (there is none yet); false when the stream stopped or the camera was
    // lost meanwhile.
    bool render(const Frame &frame, Lock &lock) {
        Buffer *buffer = s_.input.front();
        s_.input.pop_front();
        buffer->state = BufferState::filling;
        const std::size_t payload =
            line_bytes(*frame.format, frame.geometry.width) * frame.geometry.height;
        const std::uint64_t every = camera_.incomplete_every();
        const bool cut = every && (camera_.frames_delivered + 1) % every == 0;
        const std::size_t capacity = cut ? std::min(buffer->size, payload / 2) : buffer->size;
        std::uint8_t *memory = buffer->memory;
        const std::uint64_t scene = camera_.scene_frame(frame.id);
        lock.unlock();
        const std::size_t filled =
            s_.renderer.render(*frame.format, frame.geometry, scene, memory, capacity);
        lock.lock();
        s_.pending = {buffer, frame, filled, payload, false, {}, {}};
        if ((s_.stop_requested && s_.stop_kill) || !s_.connected()) {
            s_.return_pending();
            return false;
        }
        return true;
    }

    // Transport delay of the next frame, drawn once per frame.
    std::chrono::nanoseconds delay() {
        if (late_.count() < 0) {
            const auto jitter = camera_.frame_jitter().count();
            late_ = camera_.frame_delay();
            if (jitter > 0)
                late_ += std::chrono::nanoseconds(
                    std::uniform_int_distribution<std::int64_t>(-jitter, jitter)(random_));
            late_ = std::max(late_, std::chrono::nanoseconds(0));
        }
        return late_;
    }

    void step(Lock &lock) {
        const Clock::time_point now = Clock::now();
        if (!s_.connected() || !camera_.armed || !camera_.active) {
            s_.return_pending();
            camera_.run_pulses(now);  // a pulse may start the acquisition
            wait(lock, s_.connected() && camera_.armed ? camera_.next_pulse_edge()
                                                       : Clock::time_point::max());
            return;
        }
        camera_.run_pulses(now);
        const Clock::time_point pulse = camera_.next_pulse_edge();
        if (s_.pending.scheduled) {
            if (!s_.deliver_due(now)) wait(lock, std::min(s_.pending.due, pulse));
            return;
        }
        const bool triggered = camera_.frame_triggered();
        // Free run without a frame rate: as fast as the consumer returns buffers.
        if (!triggered && !camera_.rate_limited() && s_.input.empty() && !s_.pending.buffer) {
            camera_.changed.wait(lock);
            return;
        }
        // Rendering ahead waits until the consumer has taken the last frame:
        // on a busy machine it would otherwise hold up that consumer.
        const Clock::time_point settled =
            s_.last_delivery +
            std::min<Clock::duration>(std::chrono::milliseconds(2), camera_.frame_period() / 4);
        const bool may_render = !s_.input.empty() && now >= settled;
        const Clock::time_point render_time = s_.input.empty() ? Clock::time_point::max() : settled;
        if (triggered && camera_.triggers.empty()) {
            if (!s_.pending.buffer && may_render)
                render(next_frame(), lock);
            else
                wait(lock,
                     std::min(pulse, s_.pending.buffer ? Clock::time_point::max() : render_time));
            return;
        }
        const Clock::time_point taken =
            triggered ? camera_.triggers.front() + camera_.exposure() : camera_.next_frame;
        const Clock::time_point due = taken + delay();
        if (!s_.pending.buffer && now < due && !may_render) {
            wait(lock, std::min({due, pulse, render_time}));
            return;
        }
        // The camera takes this frame: it leaves the schedule.
        late_ = std::chrono::nanoseconds(-1);
        if (triggered) {
            camera_.triggers.pop_front();
        } else {
            const auto period = camera_.frame_period();
            camera_.next_frame += period;
            if (camera_.next_frame + period < now)
                camera_.next_frame = now;  // fell behind: start afresh
        }
        const Frame frame = next_frame();
        ++camera_.next_frame_id;
        if (s_.pending.buffer && !same_picture(s_.pending.frame, frame)) s_.return_pending();
        if (!s_.pending.buffer) {
            if (s_.input.empty()) {
                ++s_.underruns;  // no buffer could hold it
                return;
            }
            if (!render(frame, lock)) return;
        }
        s_.pending.scheduled = true;
        s_.pending.taken = taken;
        s_.pending.due = due;
        s_.deliver_due(Clock::now());
        camera_.changed.notify_all();  // consumers wait for the due time now
    }

    std::shared_ptr<Stream> stream_;
    Stream &s_;
    Camera &camera_;
    std::minstd_rand random_;
    std::chrono::nanoseconds late_{-1};
};

}  // namespace

void Stream::return_pending() {
    if (!pending.buffer) return;
    pending.buffer->state = BufferState::input;
    input.push_front(pending.buffer);
    pending = Pending{};
}

bool Stream::deliver_due(Clock::time_point now) {
    if (!pending.scheduled || now < pending.due || !connected() || !camera->armed ||
        !camera->active)
        return false;
    Buffer *buffer = pending.buffer;
    buffer->frame = pending.frame;
    buffer->frame.timestamp_ns = steady_ns(pending.taken);
    buffer->filled = pending.filled;
    buffer->incomplete = pending.filled < pending.payload;
    buffer->new_data = true;
    buffer->state = BufferState::output;
    pending = Pending{};
    last_delivery = now;
    output.push_back(buffer);
    ++delivered;
    if (new_buffer_event) ++new_buffer_event->fired;
    Camera &c = *camera;
    ++c.frames_delivered;
    if (c.single_frame()) c.end_acquisition();
    if (frames_left != gentl::kInfinite && --frames_left == 0) stop_requested = true;
    if (c.lose_after() && c.frames_delivered >= c.lose_after()) c.lose(now);
    c.changed.notify_all();
    return true;
}

void run_acquisition(std::shared_ptr<Stream> stream) {
    Lock lock(library().mutex);
    Acquisition(std::move(stream)).run(lock);
}

}  // namespace vantix::sim
