// The acquisition thread of a data stream: decides when the camera takes a
// frame (free run at the frame period, or one per trigger), renders it
// without the library lock, ahead of its time where it can (a frame's pixels
// depend only on its id and the image format, locked while acquiring), and
// delivers it to the output queue, where EventGetData finds it.
#include <algorithm>
#include <functional>
#include <random>

#include "sim_stream.hpp"

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

}  // namespace

class SimStream::Acquisition {
public:
    explicit Acquisition(std::shared_ptr<Stream> stream)
        : stream_(std::move(stream)),
          s_(*stream_),
          src_(static_cast<SimStream &>(*s_.source)),
          camera_(*src_.camera_),
          random_(static_cast<std::uint32_t>(std::hash<std::string>()(camera_.config.serial))) {}

    void run(Lock &lock) {
        while (!src_.stop_requested_) step(lock);
        src_.return_pending(s_);
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
        Buffer *buffer = s_.take_input();
        const std::size_t payload =
            line_bytes(*frame.format, frame.geometry.width) * frame.geometry.height;
        const std::uint64_t every = camera_.incomplete_every();
        const bool cut = every && (camera_.frames_delivered + 1) % every == 0;
        const std::size_t capacity = cut ? std::min(buffer->size, payload / 2) : buffer->size;
        std::uint8_t *memory = buffer->memory;
        const std::uint64_t scene = camera_.scene_frame(frame.id);
        lock.unlock();
        const std::size_t filled =
            src_.renderer_.render(*frame.format, frame.geometry, scene, memory, capacity);
        lock.lock();
        src_.pending_ = {buffer, frame, filled, payload, false, {}, {}};
        if ((src_.stop_requested_ && src_.stop_kill_) || !src_.connected()) {
            src_.return_pending(s_);
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
        if (!src_.connected() || !camera_.armed || !camera_.active) {
            src_.return_pending(s_);
            camera_.run_pulses(now);  // a pulse may start the acquisition
            wait(lock, src_.connected() && camera_.armed ? camera_.next_pulse_edge()
                                                         : Clock::time_point::max());
            return;
        }
        camera_.run_pulses(now);
        const Clock::time_point pulse = camera_.next_pulse_edge();
        if (src_.pending_.scheduled) {
            if (!src_.deliver_due(s_, now)) wait(lock, std::min(src_.pending_.due, pulse));
            return;
        }
        const bool triggered = camera_.frame_triggered();
        // Free run without a frame rate: as fast as the consumer returns buffers.
        if (!triggered && !camera_.rate_limited() && !s_.has_input() && !src_.pending_.buffer) {
            camera_.changed.wait(lock);
            return;
        }
        // Rendering ahead waits until the consumer has taken the last frame:
        // on a busy machine it would otherwise hold up that consumer.
        const Clock::time_point settled =
            src_.last_delivery_ +
            std::min<Clock::duration>(std::chrono::milliseconds(2), camera_.frame_period() / 4);
        const bool may_render = s_.has_input() && now >= settled;
        const Clock::time_point render_time = s_.has_input() ? settled : Clock::time_point::max();
        if (triggered && camera_.triggers.empty()) {
            if (!src_.pending_.buffer && may_render)
                render(next_frame(), lock);
            else
                wait(lock, std::min(pulse,
                                    src_.pending_.buffer ? Clock::time_point::max() : render_time));
            return;
        }
        const Clock::time_point taken =
            triggered ? camera_.triggers.front() + camera_.exposure() : camera_.next_frame;
        const Clock::time_point due = taken + delay();
        if (!src_.pending_.buffer && now < due && !may_render) {
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
        if (src_.pending_.buffer && !same_picture(src_.pending_.frame, frame))
            src_.return_pending(s_);
        if (!src_.pending_.buffer) {
            if (!s_.has_input()) {
                s_.count_underrun();  // no buffer could hold it
                return;
            }
            if (!render(frame, lock)) return;
        }
        src_.pending_.scheduled = true;
        src_.pending_.taken = taken;
        src_.pending_.due = due;
        src_.deliver_due(s_, Clock::now());
        camera_.changed.notify_all();  // consumers wait for the due time now
    }

    std::shared_ptr<Stream> stream_;  // keeps the stream, and so this source, alive
    Stream &s_;
    SimStream &src_;
    Camera &camera_;
    std::minstd_rand random_;
    std::chrono::nanoseconds late_{-1};
};

SimStream::~SimStream() {
    // Closing the stream joins the worker; one left here means the process
    // is ending.
    if (worker_.joinable()) worker_.detach();
}

gentl::GC_ERROR SimStream::start(Stream &stream, std::uint64_t frames, Lock &) {
    frames_left_ = frames;
    stop_requested_ = false;
    worker_ = std::thread(
        [](std::shared_ptr<Stream> s) {
            Lock lock(gentl_core::library().mutex);
            Acquisition(std::move(s)).run(lock);
        },
        stream.self());
    return gentl::GC_ERR_SUCCESS;
}

void SimStream::stop(Stream &, Lock &lock, bool kill) {
    stop_requested_ = true;
    stop_kill_ = kill;
    camera_->changed.notify_all();
    std::thread worker = std::move(worker_);
    lock.unlock();
    if (worker.joinable()) worker.join();
    lock.lock();
    stop_requested_ = false;
}

void SimStream::return_pending(Stream &stream) {
    if (!pending_.buffer) return;
    stream.give_back(pending_.buffer);
    pending_ = Pending{};
}

bool SimStream::deliver_due(Stream &stream, Clock::time_point now) {
    if (!pending_.scheduled || now < pending_.due || !connected() || !camera_->armed ||
        !camera_->active)
        return false;
    const Frame &f = pending_.frame;
    gentl_core::FrameInfo info;
    info.has_image = true;
    info.id = f.id;
    info.timestamp = info.timestamp_ns = steady_ns(pending_.taken);  // ticks are ns
    info.pixel_format = f.format->code;
    info.width = f.geometry.width;
    info.height = f.geometry.height;
    info.offset_x = f.geometry.offset_x;
    info.offset_y = f.geometry.offset_y;
    const std::size_t line = line_bytes(*f.format, f.geometry.width);
    info.delivered_height = line ? pending_.filled / line : 0;
    info.data_size = pending_.payload;
    Buffer *buffer = pending_.buffer;
    const std::size_t filled = pending_.filled;
    const bool incomplete = filled < pending_.payload;
    pending_ = Pending{};
    last_delivery_ = now;
    Camera &c = *camera_;
    ++c.frames_delivered;
    if (c.single_frame()) c.end_acquisition();
    if (frames_left_ != gentl::kInfinite) {
        --frames_left_;
        if (frames_left_ == 0) stop_requested_ = true;
    }
    if (c.lose_after() && c.frames_delivered >= c.lose_after()) c.lose(now);
    stream.deliver(buffer, info, filled, incomplete);  // notifies the waiters
    return true;
}

}  // namespace vantix::sim
