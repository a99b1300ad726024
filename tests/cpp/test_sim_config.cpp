#include <set>
#include <string>

#include "check.hpp"
#include "sim/model/config.hpp"
#include "sim/model/json.hpp"

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
    CHECK(error_of(R"({"devices": [{"preset": "nope"}]})") ==
          "devices[0].preset: expected one of mono12, bayer12, rgb8, legacy");
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
    CHECK(!json::parse("[1e999]", v, error) && error == "line 1: number out of range");
    CHECK(!json::parse("", v, error));
}

TEST(strings_gentl_cannot_carry_are_refused_by_their_setting) {
    const struct {
        std::string text, error;
    } cases[] = {
        {R"({"devices": [{"serial": "A\u0000B"}]})",
         "devices[0].serial: control character U+0000 is not allowed"},
        {R"({"devices": [{"vendor": "A\nB"}]})",
         "devices[0].vendor: control character U+000A is not allowed"},
        {"{\"devices\": [{\"model\": \"A\tB\"}]}",
         "devices[0].model: control character U+0009 is not allowed"},
        {"{\"devices\": [{\"version\": \"A\x7f\"}]}",
         "devices[0].version: control character U+007F is not allowed"},
        {R"({"devices": [{"user_defined_name": "A\u0085"}]})",
         "devices[0].user_defined_name: control character U+0085 is not allowed"},
        {"{\"devices\": [{\"interface\": \"A\xC2\x9F\"}]}",
         "devices[0].interface: control character U+009F is not allowed"},
        {R"({"devices": [{}, {"pixel_format": "Mono8\u001b"}]})",
         "devices[1].pixel_format: control character U+001B is not allowed"},
        {R"({"devices": [{"pixel_formats": ["Mono8", "Mono\u0000"]}]})",
         "devices[0].pixel_formats[1]: control character U+0000 is not allowed"},
        {R"({"devices": [{"preset": "mono12\u0000"}]})",
         "devices[0].preset: control character U+0000 is not allowed"},
        // Keys are named in the error, escaped: a NUL or an escape sequence
        // must not cut or colour the message.
        {R"({"devices": [{"serial\u0000x": "A"}]})",
         R"(devices[0].serial\u0000x: unknown setting)"},
        {"{\"\x1b[2J\xC2\x85\": 1}",
         R"(\u001b[2J\u0085: unknown setting (expected devices or refuse_module_events))"},
        {"{\"" + std::string(100, 'k') + "\": 1}",
         std::string(40, 'k') + "...: unknown setting (expected devices or refuse_module_events)"},
    };
    for (const auto &c : cases) CHECK(error_of(c.text) == c.error);
}

TEST(string_settings_hold_63_bytes_of_utf8) {
    const std::string e_acute = "\xC3\xA9", euro = "\xE2\x82\xAC";
    std::string e32, euro21;
    for (int i = 0; i < 32; ++i) e32 += e_acute;
    for (int i = 0; i < 21; ++i) euro21 += euro;
    const struct {
        std::string value;
        bool accepted;
    } cases[] = {
        {std::string(63, 'x'), true},
        {std::string(64, 'x'), false},
        {"", false},
        {euro21, true},                      // 21 characters, 63 bytes
        {e32, false},                        // 32 characters, 64 bytes
        {"\xC2\xA0\xF4\x8F\xBF\xBF", true},  // U+00A0 and U+10FFFF are no controls
    };
    for (const auto &c : cases) {
        SimulatorConfig config;
        std::string error;
        const bool ok =
            parse_config(R"({"devices": [{"model": ")" + c.value + "\"}]}", config, error);
        CHECK(ok == c.accepted);
        if (ok) CHECK(config.devices[0].model == c.value);
        if (!ok) CHECK(error.rfind("devices[0].model: expected 1 to 63 characters", 0) == 0);
    }
}

TEST(text_that_is_not_utf8_is_refused_with_its_line) {
    const char *bad[] = {
        "\xC0\xAF",          // overlong '/'
        "\xE0\x80\xAF",      // overlong, three bytes
        "\xF0\x80\x80\xAF",  // overlong, four bytes
        "\xED\xA0\x80",      // the surrogate U+D800
        "\xF4\x90\x80\x80",  // U+110000
        "\xF5\x80\x80\x80",
        "\xE2\x82",  // truncated before the closing quote
        "\x80",      // stray continuation byte
        "\xFF",
    };
    for (const char *bytes : bad) {
        std::string error;
        json::Value v;
        CHECK(!json::parse(std::string("{\n\"a\": \"x") + bytes + "\"}", v, error));
        CHECK(error.rfind("line 2: invalid UTF-8 (byte 0x", 0) == 0);
    }
    const char *good[] = {"\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80", "\xF0\x90\x80\x80",
                          "\xF4\x8F\xBF\xBF"};
    for (const char *bytes : good) {
        std::string error;
        json::Value v;
        CHECK(json::parse(std::string("\"") + bytes + "\"", v, error) && v.string == bytes);
    }
    std::string error;
    json::Value v;
    CHECK(!json::parse("{\"a\": \"x\n}", v, error) &&
          error == "line 1: line break in a string (a quote missing?)");
    // An escape is echoed only when printable: here half a character would be.
    CHECK(!json::parse("\"\\\xC3\xA9\"", v, error) &&
          error == "line 1: unknown escape: a backslash goes before one of \" \\ / b f n r t u");
    CHECK(json::parse("\xEF\xBB\xBF{}", v, error));  // a byte order mark
}
