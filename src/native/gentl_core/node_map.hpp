// A module's features: each one a GenApi node over one register of the
// module's RegisterMap. The same list lays out the registers and writes the
// GenApi document, so the two cannot disagree.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "register_map.hpp"

namespace vantix::gentl_core {

enum class FeatureKind { string, integer, floating, enumeration, boolean, command };

struct Feature {
    std::string name;
    FeatureKind kind = FeatureKind::integer;
    Access access = Access::rw;
    std::string category;  // empty: a helper node outside the tree
    std::string tooltip;
    std::int64_t min = 0, max = -1, inc = 1;  // integers; max < min: the register's range
    std::string max_node;                     // integers: a node holding the current maximum
    double fmin = 0, fmax = 0;                // floats
    std::string unit;
    std::vector<std::pair<std::string, std::int64_t>> entries;  // enumerations
    std::string locked_by;     // a node that, when non-zero, makes this one read-only
    std::uint32_t length = 4;  // register bytes; the capacity for strings
    int reg = -1;              // set by NodeMap::add
};

class NodeMap {
public:
    explicit NodeMap(std::string port_name) : port_(std::move(port_name)) {}

    // Adds the feature and its register; returns the register index.
    int add(Feature f);
    // Writes the GenApi document into the register map, categories in the
    // order their features were added.
    void publish(const std::string &model, const std::string &vendor);

    const Feature *find(const std::string &name) const;
    const std::vector<Feature> &features() const { return features_; }
    const std::string &port_name() const { return port_; }
    RegisterMap &registers() { return map_; }
    const RegisterMap &registers() const { return map_; }

private:
    std::string port_;
    std::vector<Feature> features_;
    RegisterMap map_;
};

std::string xml_escape(const std::string &text);

// Shorthands for the usual feature shapes.
Feature text_feature(const char *name, const char *category, Access access,
                     const char *tooltip = "");
Feature integer_feature(const char *name, const char *category, std::int64_t min, std::int64_t max,
                        std::int64_t inc = 1, const char *unit = "");
Feature read_only_integer(const char *name, const char *category, std::uint32_t length = 4);
Feature float_feature(const char *name, const char *category, double min, double max,
                      const char *unit);
Feature enum_feature(const char *name, const char *category,
                     std::vector<std::pair<std::string, std::int64_t>> entries);
Feature command_feature(const char *name, const char *category, const char *tooltip);
Feature bool_feature(const char *name, const char *category, Access access = Access::rw);

}  // namespace vantix::gentl_core
