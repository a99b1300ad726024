// One simulated camera: its remote node map (the features a consumer reads
// and writes through the device port) and what those writes do. It lives as
// long as the library is initialised, so settings survive closing and
// reopening the device, as on a real camera.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "config.hpp"
#include "gentl_core/gentl.hpp"
#include "gentl_core/node_map.hpp"
#include "image_formula.hpp"
#include "pixel_formats.hpp"

namespace vantix::sim {

using Clock = std::chrono::steady_clock;

// What one frame is made with.
struct Frame {
    std::uint64_t id = 0;
    const PixelFormat *format = nullptr;
    Geometry geometry;
};

enum class TriggerSource { software = 0, line0 = 1, line1 = 2 };

// What a port write answered: success, or the GenTL error code and the text
// the transport reports it with (the thread's last error).
struct WriteResult {
    gentl::GC_ERROR code = gentl::GC_ERR_SUCCESS;
    std::string message;
};

class Camera {
public:
    static constexpr std::uint64_t kTimestampFrequency = 1000000000;  // ticks are ns
    static constexpr int kLines = 2;

    explicit Camera(DeviceConfig cfg);

    const DeviceConfig config;
    gentl_core::NodeMap nodes{"Device"};

    // Connection. A lost camera answers nothing; when it returns it is a
    // new connection (generation), so the old handles stay dead.
    bool lost = false;
    Clock::time_point lost_at;
    std::uint64_t generation = 0;
    bool open = false;
    Grant open_access = Grant::exclusive;   // of the open handle
    bool reachable(Clock::time_point now);  // false while lost; revives when due

    // Acquisition: set by the commands, consumed by the stream's thread.
    // The thread and the consumers waiting for buffers wait on `changed`.
    bool armed = false;                      // AcquisitionStart executed
    bool active = false;                     // armed and, if so configured, triggered
    std::deque<Clock::time_point> triggers;  // pending frame triggers
    Clock::time_point next_frame;            // free run: when the next frame is due
    std::uint64_t next_frame_id = 0;
    std::uint64_t frames_delivered = 0;  // on this connection
    std::condition_variable changed;

    // A port write of `size` bytes at `address`; refused on a read-only
    // open.
    WriteResult write(std::uint64_t address, const void *data, std::size_t size, bool read_only);
    void refresh();  // computed registers (limits, payload size)

    const PixelFormat &pixel_format() const;
    Geometry geometry() const;
    std::size_t payload_size() const;
    std::chrono::nanoseconds exposure() const;
    std::chrono::nanoseconds frame_period() const;  // exposure bounds it
    bool rate_limited() const;
    bool frame_triggered() const;  // the frame (or exposure) trigger is on
    bool single_frame() const;
    std::uint64_t incomplete_every() const;
    // The frame id the picture is drawn for: the frame's own, or 0 for
    // every frame while the scene is held still (a part on a fixture).
    std::uint64_t scene_frame(std::uint64_t frame_id) const;
    std::uint64_t lose_after() const;
    std::chrono::nanoseconds frame_delay() const;
    std::chrono::nanoseconds frame_jitter() const;

    // Free-running line pulses: the time of the next edge of a line that
    // feeds an enabled trigger (Clock::time_point::max() when none), and
    // the edges up to `now`, which then fire.
    Clock::time_point next_pulse_edge() const;
    void run_pulses(Clock::time_point now);
    // Stops what AcquisitionStart began.
    void end_acquisition();
    // Drops off the link: the connection's handles fail from now on.
    void lose(Clock::time_point now);

private:
    struct Selector {
        std::string name;
        bool per_frame;  // FrameStart / ExposureStart; else AcquisitionStart
        std::int64_t mode = 0, source = 0, activation = 0;
    };
    struct Line {
        bool level = false;
        std::int64_t period_us = 0;
        Clock::time_point next_edge;
        bool next_rising = true;
    };
    // What writing a feature does beyond storing its value, attached where
    // the feature is declared (build_nodes): `value` is the value stored, 1
    // for a command.
    using Effect = void (Camera::*)(int reg, std::int64_t value);
    // The node whose setting, like a running acquisition, locks the image
    // format.
    static constexpr const char *kFormatLock = "TLParamsLocked";

    void build_nodes();  // camera_nodes.cpp
    int add(gentl_core::Feature f, Effect effect = nullptr);
    int reg(const char *name) const;  // register of a feature, -1 if absent
    WriteResult apply(int reg, const void *data, std::size_t size);
    bool format_locked() const;

    // The effects, by what they act on: the image settings
    // (camera_writes.cpp), the acquisition and what starts frames
    // (camera_signals.cpp), the link (camera_link.cpp).
    void settle_auto(int reg, std::int64_t value);
    void start_acquisition(int reg, std::int64_t value);
    void stop_acquisition(int reg, std::int64_t value);
    void select_trigger(int reg, std::int64_t value);
    void set_trigger_mode(int reg, std::int64_t value);
    void set_trigger_source(int reg, std::int64_t value);
    void set_trigger_activation(int reg, std::int64_t value);
    void fire_software_trigger(int reg, std::int64_t value);
    void select_line(int reg, std::int64_t value);
    void set_line_level(int reg, std::int64_t value);
    void set_line_period(int reg, std::int64_t value);
    void pulse_line(int reg, std::int64_t value);
    void lose_now(int reg, std::int64_t value);

    void edge(TriggerSource source, bool rising, Clock::time_point when);
    void show_selector();
    void show_line();

    std::vector<Effect> effects_;  // by register
    std::vector<Selector> selectors_;
    std::size_t selected_ = 0;
    Line lines_[kLines];
    std::size_t line_selected_ = 0;

    // Registers of the features the behaviour reads (set as build_nodes declares them).
    int width_ = -1, height_ = -1, offset_x_ = -1, offset_y_ = -1, pixel_format_ = -1;
    int payload_ = -1, params_locked_ = -1, width_limit_ = -1, height_limit_ = -1;
    int offset_x_limit_ = -1, offset_y_limit_ = -1, acquisition_mode_ = -1, rate_enable_ = -1;
    int rate_ = -1, exposure_ = -1, gain_ = -1, trigger_selector_ = -1, trigger_mode_ = -1;
    int trigger_source_ = -1, trigger_activation_ = -1, line_level_ = -1, line_period_ = -1;
    int lose_after_ = -1, return_after_ = -1, incomplete_every_ = -1, delay_ = -1, jitter_ = -1;
    int still_ = -1, user_id_ = -1;
};

}  // namespace vantix::sim
