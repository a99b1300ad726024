// A small JSON reader for the simulator's configuration file: the whole
// grammar, values kept as a tree, errors reported with their line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantix::sim::json {

struct Value {
    enum class Type { null, boolean, number, string, array, object } type = Type::null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Value> array;
    std::vector<std::pair<std::string, Value>> object;  // in file order
    int line = 1;                                       // where the value starts

    const char *type_name() const;
};

// Parses `text`; on failure returns false with `error` as
// "line N: what was expected". The text must be UTF-8 throughout. Strings
// (keys too) are valid UTF-8 but may hold control characters, raw or
// escaped, except raw line breaks: the caller refuses them where it knows
// the setting's name.
bool parse(std::string_view text, Value &out, std::string &error);

}  // namespace vantix::sim::json
