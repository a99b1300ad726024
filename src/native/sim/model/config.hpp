// What the simulator offers: its cameras and the faults they show. Read from
// the JSON file that VANTIX_SIM_CONFIG names (see the README), or the
// default set when the variable is unset.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gentl_core/grant.hpp"

namespace vantix::sim {

enum class Sensor { mono, bayer, rgb };
// Node names: SFNC ("ExposureTime", ...) or the older second choices
// ("ExposureTimeAbs", "GainRaw", ...).
enum class NodeNames { standard, legacy };
using gentl_core::Grant;

struct DeviceConfig {
    std::string preset;  // the default device it started from
    std::string id, vendor, model, serial, version, user_name, tl_type, display_name, interface;
    Sensor sensor = Sensor::mono;
    std::uint32_t width = 0, height = 0;  // sensor size
    std::vector<std::string> pixel_formats;
    std::string pixel_format;  // at power-up
    NodeNames node_names = NodeNames::standard;
    Grant access = Grant::exclusive;
    // Faults; 0 means never.
    std::uint64_t lose_after_frames = 0;  // lost after delivering this many frames
    double return_after_ms = 0;  // back in the device list this long after a loss (0: never)
    std::uint64_t incomplete_every = 0;  // every Nth frame incomplete
    double frame_delay_ms = 0, frame_jitter_ms = 0;
};

struct SimulatorConfig {
    std::vector<DeviceConfig> devices;
    bool refuse_module_events = false;  // EVENT_MODULE registration answers invalid parameter
};

// The presets (src/vantix/sim/presets.json, built in), in the file's order:
// the cameras offered when nothing is configured.
SimulatorConfig default_config();
const std::vector<DeviceConfig> &presets();

// Parses a configuration document. On failure returns false and an error an
// operator can act on ("devices[1].access: expected one of ...").
bool parse_config(std::string_view text, SimulatorConfig &out, std::string &error);

}  // namespace vantix::sim
