// What starts the camera's frames: the acquisition commands, the triggers
// and the two input lines, set by hand or pulsing by themselves, whose edges
// fire the triggers that listen to them.
#include "camera.hpp"

#include <algorithm>

namespace vantix::sim {

using gentl_core::Feature;
using gentl_core::RegisterMap;

namespace {

TriggerSource line_source(std::size_t line) { return static_cast<TriggerSource>(line + 1); }

}  // namespace

bool Camera::frame_triggered() const {
    for (const Selector &s : selectors_)
        if (s.per_frame && s.mode) return true;
    return false;
}

void Camera::start_acquisition(int, std::int64_t) {
    armed = true;
    bool waits_for_trigger = false;
    for (const Selector &s : selectors_) waits_for_trigger |= !s.per_frame && s.mode;
    active = !waits_for_trigger;
    triggers.clear();
    next_frame = Clock::now() + exposure();
}

void Camera::stop_acquisition(int, std::int64_t) { end_acquisition(); }

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

void Camera::select_trigger(int reg, std::int64_t value) {
    const Feature &f = nodes.features()[static_cast<std::size_t>(reg)];
    for (std::size_t i = 0; i < selectors_.size(); ++i)
        if (f.entries[i].second == value) selected_ = i;
    show_selector();
}

void Camera::set_trigger_mode(int, std::int64_t value) {
    Selector &s = selectors_[selected_];
    s.mode = value;
    if (!s.per_frame && armed) active = !s.mode;
}

void Camera::set_trigger_source(int, std::int64_t value) { selectors_[selected_].source = value; }

void Camera::set_trigger_activation(int, std::int64_t value) {
    selectors_[selected_].activation = value;
}

void Camera::fire_software_trigger(int, std::int64_t) {
    const Selector &s = selectors_[selected_];
    if (s.mode && s.source == static_cast<std::int64_t>(TriggerSource::software))
        edge(TriggerSource::software, true, Clock::now());
}

void Camera::select_line(int, std::int64_t value) {
    line_selected_ = static_cast<std::size_t>(value);
    show_line();
}

void Camera::set_line_level(int, std::int64_t value) {
    Line &line = lines_[line_selected_];
    if (line.level != (value != 0)) {
        line.level = value != 0;
        edge(line_source(line_selected_), line.level, Clock::now());
    }
}

void Camera::set_line_period(int, std::int64_t value) {
    Line &line = lines_[line_selected_];
    line.period_us = value;
    line.next_edge = Clock::now() + std::chrono::microseconds(value);
    line.next_rising = true;
}

void Camera::pulse_line(int, std::int64_t) {
    const Clock::time_point now = Clock::now();
    const Line &line = lines_[line_selected_];
    edge(line_source(line_selected_), !line.level, now);
    edge(line_source(line_selected_), line.level, now);
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
    for (std::size_t i = 0; i < kLines; ++i) {
        Line &line = lines_[i];
        if (line.period_us <= 0) continue;
        const auto half = std::chrono::microseconds(line.period_us) / 2;
        // After a long pause (no acquisition), start again from now.
        if (line.next_edge + std::chrono::microseconds(line.period_us) < now) line.next_edge = now;
        while (line.next_edge <= now) {
            edge(line_source(i), line.next_rising, line.next_edge);
            line.next_edge +=
                line.next_rising ? half : std::chrono::microseconds(line.period_us) - half;
            line.next_rising = !line.next_rising;
        }
    }
}

}  // namespace vantix::sim
