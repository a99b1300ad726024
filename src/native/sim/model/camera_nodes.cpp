// The camera's features: each one's node and register, and the effect its
// write has beyond storing the value, declared together.
#include "camera.hpp"

namespace vantix::sim {

using namespace gentl_core;

namespace {

const std::vector<std::pair<std::string, std::int64_t>> kAuto = {
    {"Off", 0}, {"Once", 1}, {"Continuous", 2}};
const std::vector<std::pair<std::string, std::int64_t>> kOnOff = {{"Off", 0}, {"On", 1}};

}  // namespace

int Camera::add(Feature f, Effect effect) {
    const int id = nodes.add(std::move(f));
    effects_.resize(static_cast<std::size_t>(id) + 1);
    effects_[static_cast<std::size_t>(id)] = effect;
    return id;
}

void Camera::build_nodes() {
    const bool legacy = config.node_names == NodeNames::legacy;
    const auto limited = [](const char *name, std::int64_t min, const char *max_node,
                            std::int64_t inc) {
        Feature f = integer_feature(name, "ImageFormatControl", min, -1, inc);
        f.max_node = max_node;
        f.locked_by = kFormatLock;
        return f;
    };
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
    format.locked_by = kFormatLock;
    pixel_format_ = add(format);
    width_limit_ = add(read_only_integer("WidthLimit", ""));
    height_limit_ = add(read_only_integer("HeightLimit", ""));
    offset_x_limit_ = add(read_only_integer("OffsetXLimit", ""));
    offset_y_limit_ = add(read_only_integer("OffsetYLimit", ""));

    const char *acq = "AcquisitionControl";
    acquisition_mode_ =
        add(enum_feature("AcquisitionMode", acq, {{"Continuous", 0}, {"SingleFrame", 1}}));
    add(command_feature("AcquisitionStart", acq, "Starts the acquisition"),
        &Camera::start_acquisition);
    add(command_feature("AcquisitionStop", acq, "Stops the acquisition"),
        &Camera::stop_acquisition);
    rate_enable_ = add(
        bool_feature(legacy ? "AcquisitionFrameRateEnabled" : "AcquisitionFrameRateEnable", acq));
    rate_ = add(float_feature(legacy ? "AcquisitionFrameRateAbs" : "AcquisitionFrameRate", acq, 0.1,
                              1000.0, "Hz"));
    if (!legacy)
        add(enum_feature("AcquisitionFrameRateAuto", acq, {{"Off", 0}, {"Continuous", 2}}));
    exposure_ =
        add(float_feature(legacy ? "ExposureTimeAbs" : "ExposureTime", acq, 10.0, 1000000.0, "us"));
    add(enum_feature("ExposureAuto", acq, kAuto), &Camera::settle_auto);
    Feature selector = enum_feature("TriggerSelector", acq, {});
    const std::pair<const char *, std::int64_t> selector_values[] = {
        {"FrameStart", 0}, {"AcquisitionStart", 1}, {"ExposureStart", 2}};
    for (const Selector &s : selectors_)
        for (const auto &[name, value] : selector_values)
            if (s.name == name) selector.entries.emplace_back(name, value);
    trigger_selector_ = add(selector, &Camera::select_trigger);
    trigger_mode_ = add(enum_feature("TriggerMode", acq, kOnOff), &Camera::set_trigger_mode);
    trigger_source_ =
        add(enum_feature("TriggerSource", acq, {{"Software", 0}, {"Line0", 1}, {"Line1", 2}}),
            &Camera::set_trigger_source);
    trigger_activation_ =
        add(enum_feature("TriggerActivation", acq, {{"RisingEdge", 0}, {"FallingEdge", 1}}),
            &Camera::set_trigger_activation);
    add(command_feature("TriggerSoftware", acq, "Fires the selected software trigger"),
        &Camera::fire_software_trigger);

    if (legacy) {
        gain_ = add(integer_feature("GainRaw", "AnalogControl", 0, 1023));
    } else {
        gain_ = add(float_feature("Gain", "AnalogControl", 0.0, 24.0, "dB"));
    }
    add(enum_feature("GainAuto", "AnalogControl", kAuto), &Camera::settle_auto);

    payload_ = add(read_only_integer("PayloadSize", "TransportLayerControl"));
    params_locked_ = add(integer_feature(kFormatLock, "TransportLayerControl", 0, 1));
    add(read_only_integer("GevTimestampTickFrequency", "TransportLayerControl", 8));

    const char *sim = "Simulation";
    add(enum_feature("SimulationLineSelector", sim, {{"Line0", 0}, {"Line1", 1}}),
        &Camera::select_line);
    line_level_ = add(bool_feature("SimulationLineLevel", sim), &Camera::set_line_level);
    add(command_feature("SimulationLinePulse", sim, "One pulse on the selected line: both edges"),
        &Camera::pulse_line);
    line_period_ = add(integer_feature("SimulationLinePulsePeriod", sim, 0, 10000000, 1, "us"),
                       &Camera::set_line_period);
    add(command_feature("SimulationLoseDevice", sim, "The camera drops off the link now"),
        &Camera::lose_now);
    lose_after_ = add(integer_feature("SimulationLoseAfterFrames", sim, 0, 2000000000));
    return_after_ = add(integer_feature("SimulationReturnAfter", sim, 0, 3600000, 1, "ms"));
    incomplete_every_ = add(integer_feature("SimulationIncompleteEvery", sim, 0, 2000000000));
    delay_ = add(integer_feature("SimulationFrameDelay", sim, 0, 10000000, 1, "us"));
    jitter_ = add(integer_feature("SimulationFrameJitter", sim, 0, 10000000, 1, "us"));
    still_ = add(bool_feature("SimulationStillScene", sim));
}

}  // namespace vantix::sim
