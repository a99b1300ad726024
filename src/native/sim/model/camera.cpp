// The camera at power-up, and its settings as the stream reads them.
#include "camera.hpp"

#include <algorithm>

namespace vantix::sim {

using namespace gentl_core;

namespace {

std::chrono::nanoseconds from_us(double us) {
    return std::chrono::nanoseconds(static_cast<std::int64_t>(us * 1000.0));
}

}  // namespace

Camera::Camera(DeviceConfig cfg) : config(std::move(cfg)) {
    if (config.node_names == NodeNames::legacy) {
        selectors_.push_back({"ExposureStart", true});
    } else {
        selectors_.push_back({"FrameStart", true});
        selectors_.push_back({"AcquisitionStart", false});
    }
    build_nodes();
    RegisterMap &r = nodes.registers();
    r.set_string(reg("DeviceVendorName"), config.vendor);
    r.set_string(reg("DeviceModelName"), config.model);
    r.set_string(reg("DeviceSerialNumber"), config.serial);
    r.set_string(reg("DeviceVersion"), config.version);
    r.set_string(user_id_, config.user_name);
    r.set_int(reg("WidthMax"), config.width);
    r.set_int(reg("HeightMax"), config.height);
    r.set_int(width_, config.width);
    r.set_int(height_, config.height);
    r.set_int(pixel_format_, find_pixel_format(config.pixel_format)->code);
    r.set_int(rate_enable_, 1);
    r.set_float(rate_, 30.0);
    r.set_float(exposure_, 10000.0);
    if (config.node_names == NodeNames::legacy)
        r.set_int(gain_, 0);
    else
        r.set_float(gain_, 0.0);
    r.set_int(trigger_selector_,
              nodes.features()[static_cast<std::size_t>(trigger_selector_)].entries.front().second);
    r.set_int(reg("GevTimestampTickFrequency"), static_cast<std::int64_t>(kTimestampFrequency));
    r.set_int(lose_after_, static_cast<std::int64_t>(config.lose_after_frames));
    r.set_int(return_after_, static_cast<std::int64_t>(config.return_after_ms));
    r.set_int(incomplete_every_, static_cast<std::int64_t>(config.incomplete_every));
    r.set_int(delay_, static_cast<std::int64_t>(config.frame_delay_ms * 1000));
    r.set_int(jitter_, static_cast<std::int64_t>(config.frame_jitter_ms * 1000));
    refresh();
    nodes.publish(config.model, config.vendor);
}

int Camera::reg(const char *name) const {
    const Feature *f = nodes.find(name);
    return f ? f->reg : -1;
}

const PixelFormat &Camera::pixel_format() const {
    const auto code = static_cast<std::uint32_t>(nodes.registers().get_int(pixel_format_));
    return *find_pixel_format(code);
}

Geometry Camera::geometry() const {
    const RegisterMap &r = nodes.registers();
    Geometry g;
    g.sensor_width = config.width, g.sensor_height = config.height;
    g.width = static_cast<std::uint32_t>(r.get_int(width_));
    g.height = static_cast<std::uint32_t>(r.get_int(height_));
    g.offset_x = static_cast<std::uint32_t>(r.get_int(offset_x_));
    g.offset_y = static_cast<std::uint32_t>(r.get_int(offset_y_));
    return g;
}

std::size_t Camera::payload_size() const {
    const Geometry g = geometry();
    return line_bytes(pixel_format(), g.width) * g.height;
}

void Camera::refresh() {
    RegisterMap &r = nodes.registers();
    const Geometry g = geometry();
    r.set_int(payload_, static_cast<std::int64_t>(payload_size()));
    r.set_int(width_limit_, g.sensor_width - g.offset_x);
    r.set_int(height_limit_, g.sensor_height - g.offset_y);
    r.set_int(offset_x_limit_, g.sensor_width - g.width);
    r.set_int(offset_y_limit_, g.sensor_height - g.height);
}

std::chrono::nanoseconds Camera::exposure() const {
    return from_us(nodes.registers().get_float(exposure_));
}

bool Camera::rate_limited() const { return nodes.registers().get_int(rate_enable_) != 0; }

std::chrono::nanoseconds Camera::frame_period() const {
    const std::chrono::nanoseconds exp = exposure();
    if (!rate_limited()) return exp;
    return std::max(exp, from_us(1e6 / nodes.registers().get_float(rate_)));
}

bool Camera::single_frame() const { return nodes.registers().get_int(acquisition_mode_) == 1; }

std::uint64_t Camera::incomplete_every() const {
    return static_cast<std::uint64_t>(nodes.registers().get_int(incomplete_every_));
}

std::uint64_t Camera::scene_frame(std::uint64_t frame_id) const {
    return nodes.registers().get_int(still_) ? 0 : frame_id;
}

std::uint64_t Camera::lose_after() const {
    return static_cast<std::uint64_t>(nodes.registers().get_int(lose_after_));
}

std::chrono::nanoseconds Camera::frame_delay() const {
    return std::chrono::microseconds(nodes.registers().get_int(delay_));
}

std::chrono::nanoseconds Camera::frame_jitter() const {
    return std::chrono::microseconds(nodes.registers().get_int(jitter_));
}

bool Camera::format_locked() const {
    return armed || nodes.registers().get_int(params_locked_) != 0;
}

}  // namespace vantix::sim
