// The data stream of a simulated camera: a thread that decides when the
// camera takes a frame, renders it into a buffer of the stream's input pool
// and delivers it (acquisition.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <thread>

#include "gentl_core/producer.hpp"
#include "sim/model/camera.hpp"
#include "sim/model/image_formula.hpp"

namespace vantix::sim {

using gentl_core::Buffer;
using gentl_core::Lock;
using gentl_core::Stream;

class SimStream final : public gentl_core::StreamSource {
public:
    SimStream(std::shared_ptr<Camera> camera, std::uint64_t generation)
        : camera_(std::move(camera)), generation_(generation) {}
    ~SimStream() override;

    std::size_t payload_size() override { return camera_->payload_size(); }
    gentl::GC_ERROR start(Stream &stream, std::uint64_t frames, Lock &lock) override;
    void stop(Stream &stream, Lock &lock, bool kill) override;
    std::condition_variable &changed() override { return camera_->changed; }
    bool connected() const override { return !camera_->lost && camera_->generation == generation_; }
    bool deliver_due(Stream &stream, Clock::time_point now) override;
    Clock::time_point next_due(const Stream &) const override {
        return pending_.scheduled ? pending_.due : Clock::time_point::max();
    }

private:
    class Acquisition;

    void return_pending(Stream &stream);  // its buffer back to the input pool

    const std::shared_ptr<Camera> camera_;
    const std::uint64_t generation_;  // the camera connection it streams from
    bool stop_requested_ = false, stop_kill_ = false;
    std::uint64_t frames_left_ = 0;  // frames DSStartAcquisition asked for
    std::thread worker_;
    FrameRenderer renderer_;
    // A frame rendered ahead into a buffer taken from the input pool. Once
    // `scheduled`, it is due at `due`, and whichever thread runs first after
    // that delivers it: the acquisition thread, or a consumer waiting in
    // EventGetData (one wake-up less between the frame's time and the
    // consumer).
    struct Pending {
        Buffer *buffer = nullptr;
        Frame frame;
        std::size_t filled = 0, payload = 0;
        bool scheduled = false;
        Clock::time_point taken, due;
    } pending_;
    Clock::time_point last_delivery_;
};

}  // namespace vantix::sim
