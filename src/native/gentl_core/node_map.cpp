#include "node_map.hpp"

#include <cstdio>

namespace vantix::gentl_core {

namespace {

const char *access_name(Access a) { return a == Access::ro ? "RO" : a == Access::wo ? "WO" : "RW"; }

std::string hex(std::uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
    return text;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    std::string s = text;
    if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
    return s;
}

std::string element(const char *tag, const std::string &value) {
    return std::string("<") + tag + ">" + value + "</" + tag + ">";
}

}  // namespace

std::string xml_escape(const std::string &text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

Feature text_feature(const char *name, const char *category, Access access, const char *tooltip) {
    Feature f;
    f.name = name, f.kind = FeatureKind::string, f.access = access, f.length = 64;
    f.category = category, f.tooltip = tooltip;
    return f;
}

Feature integer_feature(const char *name, const char *category, std::int64_t min, std::int64_t max,
                        std::int64_t inc, const char *unit) {
    Feature f;
    f.name = name, f.category = category, f.min = min, f.max = max, f.inc = inc, f.unit = unit;
    return f;
}

Feature read_only_integer(const char *name, const char *category, std::uint32_t length) {
    Feature f;
    f.name = name, f.category = category, f.access = Access::ro, f.length = length;
    return f;
}

Feature float_feature(const char *name, const char *category, double min, double max,
                      const char *unit) {
    Feature f;
    f.name = name, f.kind = FeatureKind::floating, f.category = category;
    f.fmin = min, f.fmax = max, f.unit = unit;
    return f;
}

Feature enum_feature(const char *name, const char *category,
                     std::vector<std::pair<std::string, std::int64_t>> entries) {
    Feature f;
    f.name = name, f.kind = FeatureKind::enumeration, f.category = category;
    f.entries = std::move(entries);
    return f;
}

Feature command_feature(const char *name, const char *category, const char *tooltip) {
    Feature f;
    f.name = name, f.kind = FeatureKind::command, f.category = category, f.tooltip = tooltip;
    return f;
}

Feature bool_feature(const char *name, const char *category, Access access) {
    Feature f;
    f.name = name, f.kind = FeatureKind::boolean, f.category = category, f.access = access;
    return f;
}

int NodeMap::add(Feature f) {
    const ValueKind kind = f.kind == FeatureKind::string     ? ValueKind::string
                           : f.kind == FeatureKind::floating ? ValueKind::floating
                                                             : ValueKind::integer;
    if (f.kind == FeatureKind::floating) f.length = 8;
    if (f.kind == FeatureKind::command) f.access = Access::wo;
    f.reg = map_.add(f.name + "Reg", f.length, kind, f.access);
    features_.push_back(std::move(f));
    return features_.back().reg;
}

const Feature *NodeMap::find(const std::string &name) const {
    for (const Feature &f : features_)
        if (f.name == name) return &f;
    return nullptr;
}

void NodeMap::publish(const std::string &model, const std::string &vendor) {
    std::string x =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<RegisterDescription xmlns=\"http://www.genicam.org/GenApi/Version_1_1\"\n"
        "    xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
        "    ModelName=\"" +
        xml_escape(model) + "\" VendorName=\"" + xml_escape(vendor) +
        "\"\n"
        "    StandardNameSpace=\"None\" SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\"\n"
        "    SchemaSubMinorVersion=\"0\" MajorVersion=\"1\" MinorVersion=\"0\" "
        "SubMinorVersion=\"0\"\n"
        "    ToolTip=\"Simulated GenICam module\"\n"
        "    ProductGuid=\"6f1d2c3b-4a59-4e68-8b7a-9c0d1e2f3a4b\"\n"
        "    VersionGuid=\"0a1b2c3d-4e5f-4a6b-8c7d-8e9f0a1b2c3d\">\n";
    std::vector<std::string> categories;
    for (const Feature &f : features_) {
        if (f.category.empty()) continue;
        bool seen = false;
        for (const std::string &c : categories) seen |= c == f.category;
        if (!seen) categories.push_back(f.category);
    }
    x += "  <Category Name=\"Root\" NameSpace=\"Standard\">";
    for (const std::string &c : categories) x += element("pFeature", c);
    x += "</Category>\n";
    for (const std::string &c : categories) {
        x += "  <Category Name=\"" + c + "\" NameSpace=\"" +
             (c == "Simulation" ? "Custom" : "Standard") + "\">";
        for (const Feature &f : features_)
            if (f.category == c) x += element("pFeature", f.name);
        x += "</Category>\n";
    }
    for (const Feature &f : features_) {
        const Register &r = map_.at(f.reg);
        const std::string ns = f.category == "Simulation" ? "Custom" : "Standard";
        std::string common;
        if (!f.tooltip.empty()) common += element("ToolTip", xml_escape(f.tooltip));
        if (f.category.empty()) common += element("Visibility", "Invisible");
        if (!f.locked_by.empty()) common += element("pIsLocked", f.locked_by);
        const std::string reg_name = f.name + "Reg";
        const std::string location = element("Address", hex(r.address)) +
                                     element("Length", std::to_string(r.length)) +
                                     element("AccessMode", access_name(f.access)) +
                                     element("pPort", port_) + element("Cachable", "NoCache");
        const std::string int_reg = "  <IntReg Name=\"" + reg_name + "\">" + location +
                                    element("Sign", "Unsigned") +
                                    element("Endianess", "LittleEndian") + "</IntReg>\n";
        const std::string open = " Name=\"" + f.name + "\" NameSpace=\"" + ns + "\">";
        switch (f.kind) {
            case FeatureKind::string:
                x += "  <StringReg" + open + common + location + "</StringReg>\n";
                break;
            case FeatureKind::integer: {
                std::string range;
                if (f.max >= f.min)
                    range = element("Min", std::to_string(f.min)) +
                            element("Max", std::to_string(f.max));
                else if (!f.max_node.empty())
                    range = element("Min", std::to_string(f.min)) + element("pMax", f.max_node);
                if (!range.empty() && f.inc > 1) range += element("Inc", std::to_string(f.inc));
                if (!f.unit.empty()) range += element("Unit", f.unit);
                x += "  <Integer" + open + common + element("pValue", reg_name) + range +
                     "</Integer>\n" + int_reg;
                break;
            }
            case FeatureKind::floating:
                x += "  <Float" + open + common + element("pValue", reg_name) +
                     element("Min", number(f.fmin)) + element("Max", number(f.fmax)) +
                     (f.unit.empty() ? "" : element("Unit", f.unit)) + "</Float>\n";
                x += "  <FloatReg Name=\"" + reg_name + "\">" + location +
                     element("Endianess", "LittleEndian") + "</FloatReg>\n";
                break;
            case FeatureKind::enumeration:
                x += "  <Enumeration" + open + common;
                for (const auto &[entry, value] : f.entries)
                    x += "<EnumEntry Name=\"" + entry + "\" NameSpace=\"" + ns + "\">" +
                         element("Value", std::to_string(value)) + "</EnumEntry>";
                x += element("pValue", reg_name) + "</Enumeration>\n" + int_reg;
                break;
            case FeatureKind::boolean:
                x += "  <Boolean" + open + common + element("pValue", reg_name) +
                     element("OnValue", "1") + element("OffValue", "0") + "</Boolean>\n" + int_reg;
                break;
            case FeatureKind::command:
                x += "  <Command" + open + common + element("pValue", reg_name) +
                     element("CommandValue", "1") + "</Command>\n" + int_reg;
                break;
        }
    }
    x += "  <Port Name=\"" + port_ + "\" NameSpace=\"Standard\"/>\n</RegisterDescription>\n";
    map_.set_document(std::move(x));
}

}  // namespace vantix::gentl_core
