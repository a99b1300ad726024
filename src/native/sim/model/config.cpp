#include "config.hpp"

#include <cmath>
#include <set>
#include <stdexcept>

#include "gentl_core/utf8.hpp"
#include "json.hpp"
#include "pixel_formats.hpp"
#include "presets_json.hpp"

namespace vantix::sim {

using gentl_core::code_point_name;
using gentl_core::first_control;
using gentl_core::printable;

namespace {

// Whether a sensor can deliver pixels of this colour.
bool fits(Sensor sensor, Colour colour) {
    switch (sensor) {
        case Sensor::mono:
            return colour == Colour::mono;
        case Sensor::bayer:
            return is_bayer(colour);
        default:
            return colour != Colour::mono && !is_bayer(colour);
    }
}

// GenTL strings end at the first NUL and the node-map XML cannot carry
// control characters, so none is accepted, not even written as an escape.
std::string control_problem(const std::string &text) {
    const int control = first_control(text);
    return control < 0 ? "" : "control character " + code_point_name(control) + " is not allowed";
}

// What is wrong with a string setting, or "" if nothing.
std::string string_problem(const std::string &text) {
    if (std::string problem = control_problem(text); !problem.empty()) return problem;
    // The camera's string registers hold 63 bytes and a NUL.
    if (text.empty() || text.size() > 63)
        return "expected 1 to 63 characters (at most 63 bytes of UTF-8)";
    return "";
}

// A key as an error message shows it: an unknown one may hold anything.
std::string key_name(const std::string &key) { return printable(key, 40); }

// Reads one device object over a copy of its preset (a preset itself, over
// nothing).
struct DeviceReader {
    const json::Value &object;
    std::string where;  // "devices[2]"
    std::string &error;

    bool fail(const std::string &key, const std::string &what) {
        error = where + (key.empty() ? "" : "." + key) + ": " + what;
        return false;
    }
    bool text(const json::Value &v, const std::string &key, std::string &out) {
        if (v.type != json::Value::Type::string)
            return fail(key, std::string("expected a string, found ") + v.type_name());
        if (const std::string problem = string_problem(v.string); !problem.empty())
            return fail(key, problem);
        out = v.string;
        return true;
    }
    bool count(const json::Value &v, const std::string &key, std::uint64_t &out, double limit) {
        if (v.type != json::Value::Type::number || v.number < 0 || v.number > limit ||
            v.number != std::floor(v.number))
            return fail(key, "expected a whole number from 0 to " +
                                 std::to_string(static_cast<long long>(limit)));
        out = static_cast<std::uint64_t>(v.number);
        return true;
    }
    bool millis(const json::Value &v, const std::string &key, double &out, double limit) {
        if (v.type != json::Value::Type::number || v.number < 0 || v.number > limit)
            return fail(key, "expected milliseconds from 0 to " +
                                 std::to_string(static_cast<long long>(limit)));
        out = v.number;
        return true;
    }
    template <typename E>
    bool choice(const json::Value &v, const std::string &key,
                std::initializer_list<std::pair<const char *, E>> options, E &out) {
        std::string names;
        for (const auto &o : options) {
            if (v.type == json::Value::Type::string && v.string == o.first) {
                out = o.second;
                return true;
            }
            names += (names.empty() ? "" : ", ") + std::string(o.first);
        }
        return fail(key, "expected one of " + names);
    }

    bool read(DeviceConfig &d) {
        bool renamed = false;
        for (const auto &[key, v] : object.object) {
            std::uint64_t n = 0;
            bool ok = true;
            if (key == "preset") continue;  // applied before
            if (key == "id")
                ok = text(v, key, d.id);
            else if (key == "vendor")
                ok = text(v, key, d.vendor), renamed = true;
            else if (key == "model")
                ok = text(v, key, d.model), renamed = true;
            else if (key == "serial")
                ok = text(v, key, d.serial), renamed = true;
            else if (key == "version")
                ok = text(v, key, d.version);
            else if (key == "user_defined_name")
                ok = text(v, key, d.user_name);
            else if (key == "tl_type")
                ok = text(v, key, d.tl_type);
            else if (key == "display_name")
                ok = text(v, key, d.display_name);
            else if (key == "interface")
                ok = text(v, key, d.interface);
            else if (key == "pixel_format")
                ok = text(v, key, d.pixel_format);
            else if (key == "sensor")
                ok = choice<Sensor>(
                    v, key,
                    {{"mono", Sensor::mono}, {"bayer", Sensor::bayer}, {"rgb", Sensor::rgb}},
                    d.sensor);
            else if (key == "node_names")
                ok = choice<NodeNames>(
                    v, key, {{"standard", NodeNames::standard}, {"legacy", NodeNames::legacy}},
                    d.node_names);
            else if (key == "access")
                ok = choice<Grant>(v, key,
                                   {{"exclusive", Grant::exclusive},
                                    {"control", Grant::control},
                                    {"read_only", Grant::read_only}},
                                   d.access);
            else if (key == "width")
                ok = count(v, key, n, 16384) && (d.width = static_cast<std::uint32_t>(n), true);
            else if (key == "height")
                ok = count(v, key, n, 16384) && (d.height = static_cast<std::uint32_t>(n), true);
            else if (key == "lose_after_frames")
                ok = count(v, key, d.lose_after_frames, 1e15);
            else if (key == "incomplete_every")
                ok = count(v, key, d.incomplete_every, 1e15);
            else if (key == "return_after_ms")
                ok = millis(v, key, d.return_after_ms, 3.6e6);
            else if (key == "frame_delay_ms")
                ok = millis(v, key, d.frame_delay_ms, 1e4);
            else if (key == "frame_jitter_ms")
                ok = millis(v, key, d.frame_jitter_ms, 1e4);
            else if (key == "pixel_formats")
                ok = formats(v, d);
            else
                ok = fail(key_name(key), "unknown setting");
            if (!ok) return false;
        }
        bool named_id = false, named_display = false;
        for (const auto &[key, v] : object.object) {
            named_id |= key == "id";
            named_display |= key == "display_name";
        }
        if (!named_id) d.id = d.serial;
        if (renamed && !named_display)
            d.display_name = d.vendor + " " + d.model + " (" + d.serial + ")";
        return check(d);
    }

    bool formats(const json::Value &v, DeviceConfig &d) {
        if (v.type != json::Value::Type::array || v.array.empty())
            return fail("pixel_formats", "expected a non-empty list of format names");
        d.pixel_formats.clear();
        for (std::size_t i = 0; i < v.array.size(); ++i) {
            std::string name;
            if (!text(v.array[i], "pixel_formats[" + std::to_string(i) + "]", name)) return false;
            d.pixel_formats.push_back(name);
        }
        bool current_listed = false;
        for (const std::string &f : d.pixel_formats) current_listed |= f == d.pixel_format;
        if (!current_listed) d.pixel_format = d.pixel_formats.front();
        return true;
    }

    bool check(const DeviceConfig &d) {
        if (d.width < 16 || d.width % 16 != 0)
            return fail("width", "expected a multiple of 16, at least 16");
        if (d.height < 2 || d.height % 2 != 0)
            return fail("height", "expected an even number, at least 2");
        for (const std::string &name : d.pixel_formats) {
            const PixelFormat *f = find_pixel_format(name);
            if (!f) return fail("pixel_formats", "unknown pixel format " + name);
            if (!fits(d.sensor, f->colour))
                return fail("pixel_formats", name + " does not match the sensor");
        }
        bool listed = false;
        for (const std::string &f : d.pixel_formats) listed |= f == d.pixel_format;
        if (!listed) return fail("pixel_format", d.pixel_format + " is not in pixel_formats");
        return true;
    }
};

// The presets of presets.json: a list of {"name", "camera"} objects (other
// keys are the Python package's), each camera in the device keys of the
// configuration file, read as a device that starts from nothing. A fault
// here is in the package's own file, not the user's.
std::vector<DeviceConfig> make_presets() {
    json::Value root;
    std::string error;
    if (!json::parse(kPresetsJson, root, error)) throw std::logic_error("presets.json: " + error);
    std::vector<DeviceConfig> all;
    for (std::size_t i = 0; i < root.array.size(); ++i) {
        const std::string where = "presets.json[" + std::to_string(i) + "]";
        const json::Value *name = nullptr, *camera = nullptr;
        for (const auto &[key, v] : root.array[i].object) {
            if (key == "name" && v.type == json::Value::Type::string) name = &v;
            if (key == "camera" && v.type == json::Value::Type::object) camera = &v;
        }
        if (!name || !camera) throw std::logic_error(where + ": expected a name and a camera");
        DeviceConfig d;
        DeviceReader reader{*camera, where + ".camera", error};
        if (!reader.read(d)) throw std::logic_error(error);
        d.preset = name->string;
        d.interface = "Sim" + d.tl_type + "0";
        all.push_back(std::move(d));
    }
    if (all.empty()) throw std::logic_error("presets.json: expected a list of presets");
    return all;
}

}  // namespace

const std::vector<DeviceConfig> &presets() {
    static const std::vector<DeviceConfig> all = make_presets();
    return all;
}

SimulatorConfig default_config() {
    SimulatorConfig c;
    c.devices = presets();
    return c;
}

bool parse_config(std::string_view text, SimulatorConfig &out, std::string &error) {
    json::Value root;
    if (!json::parse(text, root, error)) return false;
    if (root.type != json::Value::Type::object) {
        error = "expected an object at the top";
        return false;
    }
    SimulatorConfig config = default_config();
    for (const auto &[key, v] : root.object) {
        if (key == "refuse_module_events") {
            if (v.type != json::Value::Type::boolean) {
                error = "refuse_module_events: expected true or false";
                return false;
            }
            config.refuse_module_events = v.boolean;
        } else if (key == "devices") {
            if (v.type != json::Value::Type::array) {
                error = "devices: expected a list of device objects";
                return false;
            }
            config.devices.clear();
            for (std::size_t i = 0; i < v.array.size(); ++i) {
                const json::Value &item = v.array[i];
                const std::string where = "devices[" + std::to_string(i) + "]";
                if (item.type != json::Value::Type::object) {
                    error = where + ": expected an object";
                    return false;
                }
                std::string preset_name = presets().front().preset;  // the first is the base
                for (const auto &[k, pv] : item.object)
                    if (k == "preset")
                        preset_name = pv.type == json::Value::Type::string ? pv.string : "";
                if (const std::string problem = control_problem(preset_name); !problem.empty()) {
                    error = where + ".preset: " + problem;
                    return false;
                }
                const DeviceConfig *base = nullptr;
                for (const DeviceConfig &p : presets())
                    if (p.preset == preset_name) base = &p;
                if (!base) {
                    error = where + ".preset: expected one of ";
                    for (const DeviceConfig &p : presets())
                        error += (&p == &presets().front() ? "" : ", ") + p.preset;
                    return false;
                }
                DeviceConfig d = *base;
                DeviceReader reader{item, where, error};
                if (!reader.read(d)) return false;
                config.devices.push_back(std::move(d));
            }
        } else {
            error = key_name(key) + ": unknown setting (expected devices or refuse_module_events)";
            return false;
        }
    }
    std::set<std::string> ids, serials;
    for (const DeviceConfig &d : config.devices) {
        if (!ids.insert(d.id).second || !serials.insert(d.serial).second) {
            error = "devices: two devices share the id or serial number " + d.serial;
            return false;
        }
    }
    out = std::move(config);
    return true;
}

}  // namespace vantix::sim
