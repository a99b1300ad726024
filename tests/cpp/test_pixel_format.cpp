#include <string_view>

#include "check.hpp"
#include "gentl_camera/pixel/format.hpp"

using namespace vantix::pixel;

namespace {

struct Want {
    std::string_view name;
    ParseResult result;
    Layout layout;
    int bits;
    Packing packing;
};

const Want kNames[] = {
    {"Mono8", ParseResult::ok, Layout::mono, 8, Packing::none},
    {"Mono10", ParseResult::ok, Layout::mono, 10, Packing::none},
    {"Mono16", ParseResult::ok, Layout::mono, 16, Packing::none},
    {"Mono10p", ParseResult::ok, Layout::mono, 10, Packing::lsb},
    {"Mono12p", ParseResult::ok, Layout::mono, 12, Packing::lsb},
    {"Mono14p", ParseResult::ok, Layout::mono, 14, Packing::lsb},
    {"Mono10Packed", ParseResult::ok, Layout::mono, 10, Packing::grouped},
    {"Mono12Packed", ParseResult::ok, Layout::mono, 12, Packing::grouped},
    {"BayerRG8", ParseResult::ok, Layout::bayer, 8, Packing::none},
    {"BayerBG12p", ParseResult::ok, Layout::bayer, 12, Packing::lsb},
    {"BayerGB10Packed", ParseResult::ok, Layout::bayer, 10, Packing::grouped},
    {"BayerXY8", ParseResult::ok, Layout::bayer, 8, Packing::none},  // the table decides
    {"RGB8", ParseResult::ok, Layout::rgb, 8, Packing::none},
    {"BGR8", ParseResult::ok, Layout::bgr, 8, Packing::none},
    {"RGBa8", ParseResult::ok, Layout::rgba, 8, Packing::none},
    {"BGRa8", ParseResult::ok, Layout::bgra, 8, Packing::none},
    {"RGB8Packed", ParseResult::ok, Layout::rgb, 8, Packing::none},
    {"BGRA8Packed", ParseResult::ok, Layout::bgra, 8, Packing::none},
    // Packed names without an unpacker.
    {"Mono16p", ParseResult::unsupported_packing, Layout::mono, 0, Packing::none},
    {"Mono14Packed", ParseResult::unsupported_packing, Layout::mono, 0, Packing::none},
    {"Mono8p", ParseResult::unsupported_packing, Layout::mono, 0, Packing::none},
    {"Mono1p", ParseResult::unsupported_packing, Layout::mono, 0, Packing::none},
    {"BayerRG9p", ParseResult::unsupported_packing, Layout::mono, 0, Packing::none},
    {"Mono99999999999999999999p", ParseResult::unsupported_packing, Layout::mono, 0, Packing::none},
    // Not known at all.
    {"", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"p", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"Packed", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"12p", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"Mono", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"Mono8s", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"Mono32", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"Mono4", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"Mono10c3p32", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"Coord3D_A8", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"RGB12", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"RGB10p", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"YUV422_8", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"mono8", ParseResult::unknown, Layout::mono, 0, Packing::none},
    {"Mono12Packedp", ParseResult::unknown, Layout::mono, 0, Packing::none},
};

}  // namespace

TEST(format_names_parse_as_their_layouts) {
    for (const Want &w : kNames) {
        Format f;
        const ParseResult r = parse_format(w.name, f);
        CHECK(r == w.result);
        if (r != w.result)
            std::fprintf(stderr, "  name: '%.*s'\n", int(w.name.size()), w.name.data());
        if (r == ParseResult::ok && w.result == ParseResult::ok) {
            CHECK(f.layout == w.layout);
            CHECK(f.bits == w.bits);
            CHECK(f.packing == w.packing);
        }
    }
}

TEST(bayer_names_keep_their_pattern_and_colour_its_channels) {
    Format f;
    CHECK(parse_format("BayerGR12Packed", f) == ParseResult::ok);
    CHECK(f.mosaic == "BayerGR");
    CHECK(f.channels() == 1);
    CHECK(parse_format("RGBa8", f) == ParseResult::ok && f.channels() == 4);
    CHECK(parse_format("BGR8", f) == ParseResult::ok && f.channels() == 3);
}
