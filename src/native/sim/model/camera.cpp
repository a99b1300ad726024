#include "camera.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace vantix::sim {

using namespace gentl;
using namespace gentl_core;

namespace {

constexpr const char *kFormatLockedBy = "TLParamsLocked";
const std::vector<std::pair<std::string, std::int64_t>> kAuto = {
    {"Off", 0}, {"Once", 1}, {"Continuous", 2}};
const std::vector<std::pair<std::string, std::int64_t>> kOnOff = {{"Off", 0}, {"On", 1}};

Feature limited(const char *name, std::int64_t min, const char *max_node, std::int64_t inc) {
    Feature f = integer_feature(name, "ImageFormatControl", min, -1, inc);
    f.max_node = max_node;
    f.locked_by = kFormatLockedBy;
    return f;
}

// A refused write, its text formatted as printf does.
WriteResult refuse(GC_ERROR code, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
WriteResult refuse(GC_ERROR code, const char *format, ...) {
    WriteResult result{code, {}};
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        result.message.resize(static_cast<std::size_t>(length));
        std::vsnprintf(result.message.data(), result.message.size() + 1, format, again);
    }
    va_end(again);
    return result;
}

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

int Camera::add(Feature f) { return nodes.add(std::move(f)); }

int Camera::reg(const char *name) const {
    const Feature *f = nodes.find(name);
    return f ? f->reg : -1;
}

void Camera::build_nodes() {
    const bool legacy = config.node_names == NodeNames::legacy;
    add(text_feature("DeviceVendorName", "DeviceControl", Access::ro, "Maker of the camera"));
    add(text_feature("DeviceModelName", "DeviceControl", Access::ro, "Model of the camera"));
    add(text_feature("DeviceSerialNumber", "DeviceControl", Access::ro,
                     "Serial number of the camera"));
    add(text_feature("DeviceVersion", "DeviceControl", Access::ro,
                     "Firmware version of the camera"));
    user_id_ = add(text_feature("DeviceUserID", "DeviceControl", Access::rw,
                                "A name the user gives the camera"));

    add(read_only_integer("WidthMax", "ImageFormatControl"));
    add(read_only_integer("HeightMax", "ImageFormatControl"));
    width_ = add(limited("Width", 16, "WidthLimit", 16));
    height_ = add(limited("Height", 2, "HeightLimit", 2));
    offset_x_ = add(limited("OffsetX", 0, "OffsetXLimit", 2));
    offset_y_ = add(limited("OffsetY", 0, "OffsetYLimit", 2));
    Feature format = enum_feature("PixelFormat", "ImageFormatControl", {});
    for (const std::string &name : config.pixel_formats)
        format.entries.emplace_back(name, find_pixel_format(name)->code);
    format.locked_by = kFormatLockedBy;
    pixel_format_ = add(format);
    width_limit_ = add(read_only_integer("WidthLimit", ""));
    height_limit_ = add(read_only_integer("HeightLimit", ""));
    offset_x_limit_ = add(read_only_integer("OffsetXLimit", ""));
    offset_y_limit_ = add(read_only_integer("OffsetYLimit", ""));

    const char *acq = "AcquisitionControl";
    acquisition_mode_ =
        add(enum_feature("AcquisitionMode", acq, {{"Continuous", 0}, {"SingleFrame", 1}}));
    acquisition_start_ = add(command_feature("AcquisitionStart", acq, "Starts the acquisition"));
    acquisition_stop_ = add(command_feature("AcquisitionStop", acq, "Stops the acquisition"));
    rate_enable_ = add(
        bool_feature(legacy ? "AcquisitionFrameRateEnabled" : "AcquisitionFrameRateEnable", acq));
    rate_ = add(float_feature(legacy ? "AcquisitionFrameRateAbs" : "AcquisitionFrameRate", acq, 0.1,
                              1000.0, "Hz"));
    if (!legacy)
        add(enum_feature("AcquisitionFrameRateAuto", acq, {{"Off", 0}, {"Continuous", 2}}));
    exposure_ =
        add(float_feature(legacy ? "ExposureTimeAbs" : "ExposureTime", acq, 10.0, 1000000.0, "us"));
    exposure_auto_ = add(enum_feature("ExposureAuto", acq, kAuto));
    Feature selector = enum_feature("TriggerSelector", acq, {});
    const std::pair<const char *, std::int64_t> selector_values[] = {
        {"FrameStart", 0}, {"AcquisitionStart", 1}, {"ExposureStart", 2}};
    for (const Selector &s : selectors_)
        for (const auto &[name, value] : selector_values)
            if (s.name == name) selector.entries.emplace_back(name, value);
    trigger_selector_ = add(selector);
    trigger_mode_ = add(enum_feature("TriggerMode", acq, kOnOff));
    trigger_source_ =
        add(enum_feature("TriggerSource", acq, {{"Software", 0}, {"Line0", 1}, {"Line1", 2}}));
    trigger_activation_ =
        add(enum_feature("TriggerActivation", acq, {{"RisingEdge", 0}, {"FallingEdge", 1}}));
    trigger_software_ =
        add(command_feature("TriggerSoftware", acq, "Fires the selected software trigger"));

    if (legacy) {
        gain_ = add(integer_feature("GainRaw", "AnalogControl", 0, 1023));
    } else {
        gain_ = add(float_feature("Gain", "AnalogControl", 0.0, 24.0, "dB"));
    }
    gain_auto_ = add(enum_feature("GainAuto", "AnalogControl", kAuto));

    payload_ = add(read_only_integer("PayloadSize", "TransportLayerControl"));
    params_locked_ = add(integer_feature("TLParamsLocked", "TransportLayerControl", 0, 1));
    add(read_only_integer("GevTimestampTickFrequency", "TransportLayerControl", 8));

    const char *sim = "Simulation";
    line_selector_ = add(enum_feature("SimulationLineSelector", sim, {{"Line0", 0}, {"Line1", 1}}));
    line_level_ = add(bool_feature("SimulationLineLevel", sim));
    line_pulse_ = add(
        command_feature("SimulationLinePulse", sim, "One pulse on the selected line: both edges"));
    line_period_ = add(integer_feature("SimulationLinePulsePeriod", sim, 0, 10000000, 1, "us"));
    lose_now_ =
        add(command_feature("SimulationLoseDevice", sim, "The camera drops off the link now"));
    lose_after_ = add(integer_feature("SimulationLoseAfterFrames", sim, 0, 2000000000));
    return_after_ = add(integer_feature("SimulationReturnAfter", sim, 0, 3600000, 1, "ms"));
    incomplete_every_ = add(integer_feature("SimulationIncompleteEvery", sim, 0, 2000000000));
    delay_ = add(integer_feature("SimulationFrameDelay", sim, 0, 10000000, 1, "us"));
    jitter_ = add(integer_feature("SimulationFrameJitter", sim, 0, 10000000, 1, "us"));
    still_ = add(bool_feature("SimulationStillScene", sim));
}

bool Camera::reachable(Clock::time_point now) {
    if (!lost) return true;
    const std::int64_t after_ms = nodes.registers().get_int(return_after_);
    if (after_ms <= 0 || now < lost_at + std::chrono::milliseconds(after_ms)) return false;
    lost = false;
    return true;
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

bool Camera::frame_triggered() const {
    for (const Selector &s : selectors_)
        if (s.per_frame && s.mode) return true;
    return false;
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

void Camera::end_acquisition() {
    armed = active = false;
    triggers.clear();
    changed.notify_all();
}

// The selected trigger's (and line's) settings are what its registers show.
void Camera::show_selector() {
    RegisterMap &r = nodes.registers();
    const Selector &s = selectors_[selected_];
    r.set_int(trigger_mode_, s.mode);
    r.set_int(trigger_source_, s.source);
    r.set_int(trigger_activation_, s.activation);
}

void Camera::show_line() {
    RegisterMap &r = nodes.registers();
    r.set_int(line_level_, lines_[line_selected_].level ? 1 : 0);
    r.set_int(line_period_, lines_[line_selected_].period_us);
}

WriteResult Camera::write(std::uint64_t address, const void *data, std::size_t size,
                          bool read_only) {
    int id = -1;
    switch (nodes.registers().locate_write(address, size, id)) {
        case PortResult::ok:
            break;
        case PortResult::not_writable:
            return refuse(GC_ERR_ACCESS_DENIED, "the register at 0x%llX of camera %s is read-only",
                          static_cast<unsigned long long>(address), config.serial.c_str());
        case PortResult::bad_size:
            return refuse(GC_ERR_INVALID_PARAMETER,
                          "a write of %zu bytes at 0x%llX does not match the register there", size,
                          static_cast<unsigned long long>(address));
        default:
            return refuse(GC_ERR_INVALID_ADDRESS, "camera %s has no writable register at 0x%llX",
                          config.serial.c_str(), static_cast<unsigned long long>(address));
    }
    const Feature &f = nodes.features()[static_cast<std::size_t>(id)];
    if (read_only)
        return refuse(GC_ERR_ACCESS_DENIED, "%s cannot be written: camera %s is open read-only",
                      f.name.c_str(), config.serial.c_str());
    return apply(id, data, size);
}

WriteResult Camera::apply(int id, const void *data, std::size_t size) {
    RegisterMap &r = nodes.registers();
    const Feature &f = nodes.features()[static_cast<std::size_t>(id)];
    const char *name = f.name.c_str();
    if (f.locked_by == kFormatLockedBy && format_locked())
        return refuse(GC_ERR_ACCESS_DENIED,
                      "%s cannot change while the acquisition runs or TLParamsLocked is set", name);
    switch (f.kind) {
        case FeatureKind::string:
            r.store(id, data, size);
            return {};
        case FeatureKind::floating: {
            const double v = RegisterMap::decode_float(data);
            if (!std::isfinite(v) || v < f.fmin || v > f.fmax)
                return refuse(GC_ERR_INVALID_VALUE, "%s %g is outside %g to %g", name, v, f.fmin,
                              f.fmax);
            r.set_float(id, v);
            return {};
        }
        case FeatureKind::command:
            if (r.decode_int(id, data) != 1)
                return refuse(GC_ERR_INVALID_VALUE, "%s takes the command value 1", name);
            return execute(id);
        default:
            break;
    }
    const std::int64_t v = r.decode_int(id, data);
    if (f.kind == FeatureKind::enumeration) {
        bool known = false;
        for (const auto &entry : f.entries) known |= entry.second == v;
        if (!known)
            return refuse(GC_ERR_INVALID_VALUE, "%s has no entry with the value %lld", name,
                          static_cast<long long>(v));
    } else if (f.kind == FeatureKind::boolean) {
        if (v != 0 && v != 1) return refuse(GC_ERR_INVALID_VALUE, "%s takes 0 or 1", name);
    } else {
        const std::int64_t max =
            f.max_node.empty() ? f.max : r.get_int(nodes.find(f.max_node)->reg);
        if (v < f.min || v > max || (v - f.min) % f.inc != 0)
            return refuse(GC_ERR_INVALID_VALUE, "%s %lld is outside %lld to %lld in steps of %lld",
                          name, static_cast<long long>(v), static_cast<long long>(f.min),
                          static_cast<long long>(max), static_cast<long long>(f.inc));
    }
    r.set_int(id, v);

    if (id == exposure_auto_ || id == gain_auto_) {
        if (v == 1) r.set_int(id, 0);  // "Once" adjusts and falls back to Off
    } else if (id == trigger_selector_) {
        for (std::size_t i = 0; i < selectors_.size(); ++i)
            if (f.entries[i].second == v) selected_ = i;
        show_selector();
    } else if (id == trigger_mode_ || id == trigger_source_ || id == trigger_activation_) {
        Selector &s = selectors_[selected_];
        (id == trigger_mode_ ? s.mode : id == trigger_source_ ? s.source : s.activation) = v;
        if (id == trigger_mode_ && !s.per_frame && armed) active = !s.mode;
    } else if (id == line_selector_) {
        line_selected_ = static_cast<std::size_t>(v);
        show_line();
    } else if (id == line_level_) {
        Line &line = lines_[line_selected_];
        if (line.level != (v != 0)) {
            line.level = v != 0;
            edge(static_cast<TriggerSource>(line_selected_ + 1), line.level, Clock::now());
        }
    } else if (id == line_period_) {
        Line &line = lines_[line_selected_];
        line.period_us = v;
        line.next_edge = Clock::now() + std::chrono::microseconds(v);
        line.next_rising = true;
    }
    refresh();
    changed.notify_all();
    return {};
}

WriteResult Camera::execute(int id) {
    const Clock::time_point now = Clock::now();
    if (id == acquisition_start_) {
        armed = true;
        bool waits_for_trigger = false;
        for (const Selector &s : selectors_) waits_for_trigger |= !s.per_frame && s.mode;
        active = !waits_for_trigger;
        triggers.clear();
        next_frame = now + exposure();
    } else if (id == acquisition_stop_) {
        end_acquisition();
    } else if (id == trigger_software_) {
        const Selector &s = selectors_[selected_];
        if (s.mode && s.source == static_cast<std::int64_t>(TriggerSource::software))
            edge(TriggerSource::software, true, now);
    } else if (id == line_pulse_) {
        const Line &line = lines_[line_selected_];
        const auto source = static_cast<TriggerSource>(line_selected_ + 1);
        edge(source, !line.level, now);
        edge(source, line.level, now);
    } else if (id == lose_now_) {
        lose(now);
    }
    changed.notify_all();
    return {};
}

void Camera::edge(TriggerSource source, bool rising, Clock::time_point when) {
    for (const Selector &s : selectors_) {
        if (!s.mode || s.source != static_cast<std::int64_t>(source)) continue;
        if (source != TriggerSource::software && (s.activation == 0) != rising) continue;
        if (s.per_frame) {
            if (armed && active) triggers.push_back(when);
        } else if (armed && !active) {
            active = true;
            next_frame = when + exposure();
        }
    }
    changed.notify_all();
}

Clock::time_point Camera::next_pulse_edge() const {
    Clock::time_point next = Clock::time_point::max();
    for (const Line &line : lines_)
        if (line.period_us > 0) next = std::min(next, line.next_edge);
    return next;
}

void Camera::run_pulses(Clock::time_point now) {
    for (int i = 0; i < kLines; ++i) {
        Line &line = lines_[i];
        if (line.period_us <= 0) continue;
        const auto half = std::chrono::microseconds(line.period_us) / 2;
        // After a long pause (no acquisition), start again from now.
        if (line.next_edge + std::chrono::microseconds(line.period_us) < now) line.next_edge = now;
        while (line.next_edge <= now) {
            edge(static_cast<TriggerSource>(i + 1), line.next_rising, line.next_edge);
            line.next_edge +=
                line.next_rising ? half : std::chrono::microseconds(line.period_us) - half;
            line.next_rising = !line.next_rising;
        }
    }
}

}  // namespace vantix::sim
