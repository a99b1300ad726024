#include <set>
#include <string>

#include "check.hpp"
#include "sim_producer/config.hpp"
#include "sim_producer/json.hpp"

using namespace vantix::sim;

namespace {

std::string error_of(const std::string &text) {
    SimulatorConfig c;
    std::string error;
    CHECK(!parse_config(text, c, error));
    return error;
}

}  // namespace

TEST(default_cameras_differ_in_every_identity_field) {
    const SimulatorConfig c = default_config();
    CHECK(c.devices.size() == 4 && !c.refuse_module_events);
    std::set<std::string> seen;
    for (const DeviceConfig &d : c.devices)
        for (const std::string *field : {&d.vendor, &d.model, &d.serial, &d.version, &d.user_name,
                                         &d.tl_type, &d.display_name})
            CHECK(seen.insert(*field).second);
    CHECK(c.devices[0].width == 2448 && c.devices[0].height == 2048);
    CHECK(c.devices[3].node_names == NodeNames::legacy);
}

TEST(devices_start_from_a_preset_and_override_it) {
    SimulatorConfig c;
    std::string error;
    CHECK(parse_config(R"({"refuse_module_events": true, "devices": [
        {"preset": "bayer12", "serial": "A1", "access": "control", "lose_after_frames": 10,
         "return_after_ms": 250.5, "pixel_formats": ["BayerGR8", "BayerGR12p"], "width": 640, "height": 480},
        {"serial": "B2", "model": "M", "incomplete_every": 3, "frame_delay_ms": 5, "frame_jitter_ms": 1}]})",
                       c, error));
    CHECK(error.empty() && c.refuse_module_events && c.devices.size() == 2);
    const DeviceConfig &a = c.devices[0];
    CHECK(a.sensor == Sensor::bayer && a.serial == "A1" && a.id == "A1" &&
          a.access == Grant::control);
    CHECK(a.lose_after_frames == 10 && a.return_after_ms == 250.5 && a.width == 640);
    CHECK(a.pixel_format == "BayerGR8" && a.pixel_formats.size() == 2);
    CHECK(a.vendor == "Kestrel Vision" && a.display_name == "Kestrel Vision KV-C2312 (A1)");
    const DeviceConfig &b = c.devices[1];
    CHECK(b.preset == "mono12" && b.model == "M" && b.incomplete_every == 3 &&
          b.frame_jitter_ms == 1);
}

TEST(mistakes_are_named_with_where_they_are) {
    CHECK(error_of(R"({"devices": [{"acess": "control"}]})") ==
          "devices[0].acess: unknown setting");
    CHECK(error_of(R"({"devices": [{}, {"access": "all"}]})") ==
          "devices[1].access: expected one of exclusive, control, read_only");
    CHECK(error_of(R"({"devices": [{"preset": "nope"}]})").rfind("devices[0].preset:", 0) == 0);
    CHECK(error_of(R"({"devices": [{"width": 100}]})") ==
          "devices[0].width: expected a multiple of 16, at least 16");
    CHECK(error_of(R"({"devices": [{"pixel_formats": ["RGB8"]}]})") ==
          "devices[0].pixel_formats: RGB8 does not match the sensor");
    CHECK(error_of(R"({"devices": [{"lose_after_frames": -1}]})").find("whole number") !=
          std::string::npos);
    CHECK(error_of(R"({"devices": [{}, {}]})").find("share the id or serial") != std::string::npos);
    CHECK(error_of("{\n\"devices\": [\n}") == "line 3: expected a value");
    CHECK(error_of("[]") == "expected an object at the top");
    CHECK(error_of(R"({"colour": 1})").rfind("colour: unknown setting", 0) == 0);
}

TEST(json_strings_numbers_and_limits) {
    json::Value v;
    std::string error;
    CHECK(json::parse(
        R"({"a": "x\"\\\/\n\u00e9\ud83d\ude00", "b": -1.5e2, "c": [true, false, null]})", v,
        error));
    CHECK(v.object[0].second.string == "x\"\\/\n\xC3\xA9\xF0\x9F\x98\x80");
    CHECK(v.object[1].second.number == -150.0);
    CHECK(v.object[2].second.array.size() == 3 && v.object[2].second.array[0].boolean);
    CHECK(!json::parse(std::string(100, '[') + std::string(100, ']'), v, error) &&
          error == "line 1: nested too deeply");
    CHECK(!json::parse(R"("\ud83d")", v, error));
    CHECK(!json::parse("\"abc", v, error) && error == "line 1: unterminated string");
    CHECK(!json::parse("1 2", v, error));
    CHECK(!json::parse("", v, error));
}
