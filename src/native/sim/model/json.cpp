#include "json.hpp"

#include <algorithm>
#include <cstdio>
#include <charconv>
#include <system_error>

#include "gentl_core/utf8.hpp"

namespace vantix::sim::json {

using gentl_core::invalid_utf8_at;

namespace {

constexpr int kMaxDepth = 64;

struct Parser {
    std::string_view text;
    std::size_t pos = 0;
    int line = 1;
    std::string error;

    bool fail(const std::string &what) {
        if (error.empty()) error = "line " + std::to_string(line) + ": " + what;
        return false;
    }
    void skip_space() {
        while (pos < text.size()) {
            const char c = text[pos];
            if (c == '\n') ++line;
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
            ++pos;
        }
    }
    bool literal(std::string_view word) {
        if (text.substr(pos, word.size()) != word) return false;
        pos += word.size();
        return true;
    }

    static void append_utf8(std::string &out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool hex4(unsigned &out) {
        if (text.size() - pos < 4) return fail("expected four hex digits after \\u");
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text[pos++];
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                out |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                out |= unsigned(c - 'A' + 10);
            else
                return fail("expected four hex digits after \\u");
        }
        return true;
    }

    bool string(std::string &out) {
        ++pos;  // the opening quote
        while (true) {
            if (pos >= text.size()) return fail("unterminated string");
            const char c = text[pos++];
            if (c == '"') return true;
            // Other control characters stay, for the caller to refuse by the
            // setting's name; a line break most likely means a missing quote.
            if (c == '\n' || c == '\r') return fail("line break in a string (a quote missing?)");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos >= text.size()) return fail("unterminated string");
            const char e = text[pos++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    unsigned cp = 0;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xD800 && cp < 0xDC00) {
                        unsigned low = 0;
                        if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low >= 0xE000)
                            return fail("unpaired surrogate in a string");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp < 0xE000) {
                        return fail("unpaired surrogate in a string");
                    }
                    append_utf8(out, cp);
                    break;
                }
                default:
                    // Anything but printable ASCII would put a control
                    // character or part of a UTF-8 sequence in the message.
                    if (e > ' ' && e < 0x7F) return fail(std::string("unknown escape \\") + e);
                    return fail(
                        "unknown escape: a backslash goes before one of \" \\ / b f n r t u");
            }
        }
    }

    bool number(double &out) {
        const std::size_t start = pos;
        if (pos < text.size() && text[pos] == '-') ++pos;
        auto digits = [&] {
            const std::size_t from = pos;
            while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
            return pos > from;
        };
        if (!digits()) return fail("expected a value");
        if (pos < text.size() && text[pos] == '.') {
            ++pos;
            if (!digits()) return fail("expected digits after the decimal point");
        }
        if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
            ++pos;
            if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
            if (!digits()) return fail("expected digits in the exponent");
        }
        // Not strtod: it reads by the process's locale, which a consumer may
        // have set to one with a decimal comma.
        const auto read = std::from_chars(text.data() + start, text.data() + pos, out);
        if (read.ec != std::errc()) return fail("number out of range");
        return true;
    }

    bool value(Value &out, int depth) {
        if (depth > kMaxDepth) return fail("nested too deeply");
        skip_space();
        out.line = line;
        if (pos >= text.size()) return fail("expected a value");
        const char c = text[pos];
        if (c == '{') return object(out, depth);
        if (c == '[') return array(out, depth);
        if (c == '"') {
            out.type = Value::Type::string;
            return string(out.string);
        }
        for (const bool b : {true, false}) {
            if (literal(b ? "true" : "false")) {
                out.type = Value::Type::boolean;
                out.boolean = b;
                return true;
            }
        }
        if (literal("null")) return true;
        out.type = Value::Type::number;
        return number(out.number);
    }

    bool array(Value &out, int depth) {
        out.type = Value::Type::array;
        ++pos;
        skip_space();
        if (pos < text.size() && text[pos] == ']') return ++pos, true;
        while (true) {
            out.array.emplace_back();
            if (!value(out.array.back(), depth + 1)) return false;
            skip_space();
            if (pos < text.size() && text[pos] == ',') {
                ++pos;
                continue;
            }
            if (pos < text.size() && text[pos] == ']') return ++pos, true;
            return fail("expected ',' or ']'");
        }
    }

    bool object(Value &out, int depth) {
        out.type = Value::Type::object;
        ++pos;
        skip_space();
        if (pos < text.size() && text[pos] == '}') return ++pos, true;
        while (true) {
            skip_space();
            if (pos >= text.size() || text[pos] != '"') return fail("expected a key in quotes");
            std::string key;
            if (!string(key)) return false;
            skip_space();
            if (pos >= text.size() || text[pos] != ':') return fail("expected ':' after a key");
            ++pos;
            out.object.emplace_back(std::move(key), Value{});
            if (!value(out.object.back().second, depth + 1)) return false;
            skip_space();
            if (pos < text.size() && text[pos] == ',') {
                ++pos;
                continue;
            }
            if (pos < text.size() && text[pos] == '}') return ++pos, true;
            return fail("expected ',' or '}'");
        }
    }
};

}  // namespace

const char *Value::type_name() const {
    switch (type) {
        case Type::null:
            return "null";
        case Type::boolean:
            return "true or false";
        case Type::number:
            return "a number";
        case Type::string:
            return "a string";
        case Type::array:
            return "a list";
        case Type::object:
            return "an object";
    }
    return "";
}

bool parse(std::string_view text, Value &out, std::string &error) {
    Parser p;
    p.text = text;
    out = Value{};
    // Strings are passed on as they are, so the whole text is checked first.
    if (const std::size_t bad = invalid_utf8_at(text); bad != std::string_view::npos) {
        const auto lines = std::count(text.begin(), text.begin() + bad, '\n');
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[bad]));
        error = "line " + std::to_string(lines + 1) + ": invalid UTF-8 (byte " + byte + ")";
        return false;
    }
    p.literal("\xEF\xBB\xBF");  // a byte order mark, as some editors write
    if (!p.value(out, 0)) {
        error = p.error;
        return false;
    }
    p.skip_space();
    if (p.pos != text.size()) {
        p.fail("unexpected text after the end of the document");
        error = p.error;
        return false;
    }
    return true;
}

}  // namespace vantix::sim::json
