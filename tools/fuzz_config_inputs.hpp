// The inputs of tools/fuzz_config.cpp: configuration documents made from
// the configuration's own grammar (its keys, the kind of value each takes,
// values on and around every bound), mutations of documents, rare large
// shapes, and seed documents.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/model/pixel_formats.hpp"

namespace fuzz_config {

// clang-format off
const char *const kDeviceKeys[] = {
    "preset", "id", "vendor", "model", "serial", "version", "user_defined_name", "tl_type",
    "display_name", "interface", "sensor", "width", "height", "pixel_formats", "pixel_format",
    "node_names", "access", "lose_after_frames", "return_after_ms", "incomplete_every",
    "frame_delay_ms", "frame_jitter_ms"};
const char *const kStringKeys[] = {"id", "vendor", "model", "serial", "version",
                                   "user_defined_name", "tl_type", "display_name", "interface"};
const char *const kWords[] = {"A", "LINE-A", "VXS-M12-001", "VXS-B12-002", "Mono8", "mono12",
                              "Kestrel Vision", "GEV", "x", "\xC3\xA9t\xC3\xA9", "\xF0\x9F\x98\x80"};
const char *const kEscapes[] = {
    "\\\"", "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t", "\\u0000", "\\u001f", "\\u007f",
    "\\u0080", "\\u0085", "\\u009f", "\\u00a0", "\\u00e9", "\\uFFFF", "\\u2028", "\\ud83d\\ude00",
    "\\ud800", "\\udc00", "\\ud800\\u0041", "\\udbff\\udfff", "\\u12", "\\x41", "\\", "\\U0041"};
const char *const kRawBytes[] = {"\x01", "\t", "\x1b", "\x7f", "\xC2\x80", "\xC2\x85", "\xC2\x9F",
                                 "\xC2\xA0", "\r", "\n", "\xEF\xBB\xBF", "\xF4\x8F\xBF\xBF"};
// Overlong, surrogate, above U+10FFFF, truncated, stray and never-valid bytes.
const char *const kInvalidUtf8[] = {
    "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xF0\x80\x80\xAF", "\xF0\x8F\xBF\xBF",
    "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xE2\x82",
    "\xF0\x9F\x98", "\xC3", "\x80", "\xBF", "\xFE", "\xFF", "\xF8\x88\x80\x80\x80"};
// On and around the bounds (16, 16384, 1e15, 3.6e6, 1e4), and not JSON at all.
const char *const kNumbers[] = {
    "0", "-0", "1", "2", "15", "16", "17", "640", "16384", "16385", "16400", "-1", "-16", "1.5",
    "1e3", "1E+3", "1e-3", "0.1", "1e15", "1000000000000001", "1e16", "3600000", "3600000.5",
    "10000", "10000.0001", "1e308", "1e309", "-1e309", "4.9e-324", "2.5e-324", "00", "01", ".5",
    "1.", "-", "+1", "NaN", "Infinity", "0x10", "1e", "1e+", "--1", "18446744073709551616",
    "9007199254740993", "123456789012345678901234567890123456789e-20"};
const char *const kTokens[] = {
    "{", "}", "[", "]", "\"", ":", ",", "true", "false", "null", "\"devices\":", "\"preset\":",
    "\"serial\":", "\"pixel_formats\":", "\"width\":", "{}", "[]", "\\u", "\\ud800", "\"\":", " ",
    "\n", "\r\n", "\t", "\"\\u0000\"", "1e999", "-0", ",,", "::"};
// clang-format on

struct Generator {
    std::mt19937_64 rng;
    std::uint64_t serial = 0;

    explicit Generator(std::uint64_t seed) : rng(seed) {}

    std::uint64_t below(std::uint64_t n) { return n ? rng() % n : 0; }
    bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }
    template <typename T, std::size_t N>
    const T &pick(const T (&items)[N]) {
        return items[below(N)];
    }

    std::string space() {
        if (chance(70)) return "";
        const char *const spaces[] = {" ", "\n", "\t", "\r\n", "  \n  "};
        return pick(spaces);
    }

    std::string text_piece() {
        switch (below(12)) {
            case 0:
            case 1:
            case 2:
                return pick(kWords);
            case 3:  // around the 63-byte bound
                return std::string(chance(50) ? 58 + below(10) : below(6), "aZ-_ .9"[below(7)]);
            case 4: {  // multi-byte characters up to and past the bound
                const char *const wide[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                            "\xEF\xBF\xBD"};
                std::string s;
                const std::string one = pick(wide);
                for (std::uint64_t n = 1 + below(34); n; --n) s += one;
                return s;
            }
            case 5:
                return pick(kEscapes);
            case 6:
                return pick(kRawBytes);
            case 7:
                return pick(kInvalidUtf8);
            default:
                return "S" + std::to_string(serial++);
        }
    }

    std::string string_value() {
        std::string s = "\"";
        for (std::uint64_t n = below(4); n; --n) s += text_piece();
        return chance(2) ? s : s + "\"";
    }

    std::string number() {
        switch (below(4)) {
            case 0:
                return pick(kNumbers);
            case 1:
                return std::to_string(16 * below(1100));
            case 2:
                return std::to_string(2 * below(9000));
            default:
                return std::to_string(below(100000)) + (chance(30) ? ".25" : "");
        }
    }

    std::string any_value(int depth) {
        switch (depth > 3 ? below(4) : below(6)) {
            case 0:
                return string_value();
            case 1:
                return number();
            case 2:
                return pick({"true", "false", "null"});
            case 3:
                return chance(50) ? "[]" : "{}";
            case 4: {
                std::string s = "[";
                for (std::uint64_t n = below(4); n; --n)
                    s += any_value(depth + 1) + (n > 1 ? "," : "");
                return s + "]";
            }
            default: {
                std::string s = "{";
                for (std::uint64_t n = below(3); n; --n)
                    s += string_value() + ":" + any_value(depth + 1) + (n > 1 ? "," : "");
                return s + "}";
            }
        }
    }

    std::string pixel_format_name() {
        if (chance(10)) return string_value();
        const auto &all = vantix::sim::all_pixel_formats();
        return "\"" + std::string(all[below(all.size())].name) + "\"";
    }

    // A value of the kind `key` takes, on or near its bounds; sometimes not.
    std::string setting(const std::string &key) {
        if (chance(5)) return any_value(1);
        for (const char *k : kStringKeys)
            if (key == k) return string_value();
        if (key == "refuse_module_events") return chance(50) ? "true" : "false";
        if (key == "preset")
            return chance(80) ? pick({"\"mono12\"", "\"bayer12\"", "\"rgb8\"", "\"legacy\""})
                              : pick({"\"Mono12\"", "\"mono12 \"", "\"\"", "\"mono12\\u0000\""});
        if (key == "sensor")
            return pick({"\"mono\"", "\"bayer\"", "\"rgb\"", "\"RGB\"", "\"mono\\u0000\""});
        if (key == "node_names") return pick({"\"standard\"", "\"legacy\"", "\"old\""});
        if (key == "access")
            return pick({"\"exclusive\"", "\"control\"", "\"read_only\"", "\"all\""});
        if (key == "pixel_format") return pixel_format_name();
        if (key == "pixel_formats") {
            std::string s = "[";
            for (std::uint64_t n = below(5); n; --n) s += pixel_format_name() + (n > 1 ? "," : "");
            return s + "]";
        }
        if (key == "width") return chance(70) ? std::to_string(16 * (1 + below(64))) : number();
        if (key == "height") return chance(70) ? std::to_string(2 * (1 + below(600))) : number();
        return number();
    }

    std::string device() {
        std::vector<std::string> pairs;
        if (chance(60)) pairs.push_back("\"serial\":\"S" + std::to_string(serial++) + "\"");
        for (std::uint64_t n = below(7); n; --n) {
            const std::string key =
                chance(3) ? string_value() : "\"" + std::string(pick(kDeviceKeys)) + "\"";
            pairs.push_back(key + space() + ":" + space() + setting(key.substr(1, key.size() - 2)));
        }
        std::shuffle(pairs.begin(), pairs.end(), rng);
        std::string s = "{" + space();
        for (std::size_t i = 0; i < pairs.size(); ++i) s += (i ? "," + space() : "") + pairs[i];
        return s + space() + "}";
    }

    std::string document() {
        if (chance(3)) return any_value(0);
        std::vector<std::string> pairs;
        if (chance(90)) {
            std::string list = "[";
            for (std::uint64_t n = below(5); n; --n)
                list += (chance(97) ? device() : any_value(2)) + (n > 1 ? "," + space() : "");
            pairs.push_back("\"devices\":" + space() + list + "]");
        }
        if (chance(30))
            pairs.push_back("\"refuse_module_events\":" + setting("refuse_module_events"));
        if (chance(3)) pairs.push_back(string_value() + ":" + any_value(1));
        if (chance(3)) pairs.push_back("\"devices\":[]");  // a duplicate key
        std::string s = space() + "{";
        for (std::size_t i = 0; i < pairs.size(); ++i) s += (i ? "," : "") + space() + pairs[i];
        return s + space() + "}" + space();
    }

    // ------------------------------------------------------------ mutations

    std::size_t position(const std::string &s) { return below(s.size() + 1); }

    void mutate(std::string &s, const std::vector<std::string> &corpus) {
        for (std::uint64_t rounds = 1 + below(5); rounds; --rounds) {
            const std::size_t at = position(s);
            switch (below(11)) {
                case 0:
                    if (!s.empty()) {
                        char &c = s[at % s.size()];
                        c = static_cast<char>(static_cast<unsigned char>(c) ^ (1u << below(8)));
                    }
                    break;
                case 1:
                    s.insert(at, 1, static_cast<char>(below(256)));
                    break;
                case 2:
                    s.erase(at, 1 + below(8));
                    break;
                case 3:
                    s.insert(at, pick(kTokens));
                    break;
                case 4: {  // splice in part of another input
                    const std::string &other = corpus[below(corpus.size())];
                    const std::size_t from = position(other);
                    const std::string part = other.substr(from, below(other.size() - from + 1));
                    if (chance(50))
                        s.insert(at, part);
                    else
                        s.replace(at, below(s.size() - at + 1), part);
                    break;
                }
                case 5:
                    s.insert(at, pick(kInvalidUtf8));
                    break;
                case 6: {  // deep nesting, around the reader's bound and far past it
                    const std::size_t depths[] = {62, 63, 64, 65, 66, 300, 20000};
                    const std::string open = chance(50) ? "[" : "{\"a\":";
                    std::string nest;
                    const std::size_t depth = pick(depths);
                    for (std::size_t i = 0; i < depth; ++i) nest += open;
                    if (chance(50))
                        for (std::size_t i = 0; i < depth; ++i) nest += open == "[" ? "]" : "}";
                    s.insert(at, nest);
                    break;
                }
                case 7: {  // an odd number in place of a digit run
                    const std::size_t digit = s.find_first_of("0123456789", at);
                    if (digit == std::string::npos) break;
                    const std::size_t end = s.find_first_not_of("0123456789.eE+-", digit);
                    s.replace(digit, end == std::string::npos ? end : end - digit, pick(kNumbers));
                    break;
                }
                case 8: {  // a key again in an object, often a known one
                    const std::size_t brace = s.find('{', at);
                    if (brace == std::string::npos) break;
                    const std::string key =
                        chance(70)
                            ? pick({"serial", "preset", "id", "width", "devices", "pixel_formats"})
                            : "k";
                    s.insert(brace + 1, "\"" + key + "\":" + setting(key) + ",");
                    break;
                }
                case 9:
                    s.resize(at);
                    break;
                default:
                    s.insert(at, text_piece());
                    break;
            }
        }
    }

    // Rare, large shapes: long lists and strings, many devices.
    std::string large() {
        switch (below(4)) {
            case 0: {
                std::string s = "{\"devices\":[";
                for (std::uint64_t n = 1 + below(200); n; --n)
                    s += "{\"serial\":\"S" + std::to_string(serial++) + "\"}" + (n > 1 ? "," : "");
                return s + "]}";
            }
            case 1:
                return "{\"devices\":[{\"serial\":\"" + std::string(below(100000), 'x') + "\"}]}";
            case 2: {
                std::string s = "[";
                for (std::uint64_t n = below(50000); n; --n) s += "0,";
                return s + "0]";
            }
            default:
                return "{\"devices\":[{\"width\":" + std::string(1 + below(5000), '9') + "}]}";
        }
    }
};

const char *const kSeeds[] = {
    "{}",
    R"({"devices": []})",
    R"({"refuse_module_events": false, "devices": [
  {"preset": "mono12", "serial": "LINE-A", "access": "control"},
  {"preset": "bayer12", "lose_after_frames": 100, "return_after_ms": 2000,
   "incomplete_every": 10, "frame_delay_ms": 5, "frame_jitter_ms": 2},
  {"preset": "legacy", "width": 320, "height": 240, "pixel_formats": ["Mono8"]}]})",
    R"({"devices": [{"preset": "mono12", "width": 64, "height": 32, "incomplete_every": 2},
  {"preset": "bayer12", "width": 64, "height": 32, "lose_after_frames": 3, "return_after_ms": 1},
  {"preset": "rgb8", "width": 32, "height": 16, "frame_delay_ms": 1, "frame_jitter_ms": 1},
  {"preset": "legacy", "width": 48, "height": 16, "access": "control"}],
 "refuse_module_events": true})",
    R"({"devices": [{"preset": "rgb8", "id": "cam-1", "vendor": "V", "model": "M",
  "serial": "\u00e9\ud83d\ude00", "version": "1", "user_defined_name": "u", "tl_type": "CXP",
  "display_name": "d", "interface": "i", "sensor": "rgb", "pixel_format": "BGR8",
  "pixel_formats": ["RGB8", "BGR8"], "node_names": "legacy"}]})",
};

}  // namespace fuzz_config
