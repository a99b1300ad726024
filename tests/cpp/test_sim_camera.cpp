#include <cstdio>
#include <string>

#include "check.hpp"
#include "sim/model/camera.hpp"

using namespace vantix::sim;

namespace {

DeviceConfig config(std::size_t preset) {
    DeviceConfig c = presets().at(preset);
    c.serial = "S1";
    return c;
}

std::uint64_t address(const Camera &cam, const char *feature) {
    return cam.nodes.registers().at(cam.nodes.find(feature)->reg).address;
}

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

WriteResult put(Camera &cam, const char *feature, std::int64_t value, bool read_only = false) {
    return cam.write(address(cam, feature), &value, 4, read_only);  // little-endian
}

WriteResult put_float(Camera &cam, const char *feature, double value) {
    return cam.write(address(cam, feature), &value, 8, false);
}

std::int64_t get(const Camera &cam, const char *feature) {
    return cam.nodes.registers().get_int(cam.nodes.find(feature)->reg);
}

bool refused(const WriteResult &r, gentl::GC_ERROR code, const std::string &message) {
    if (r.code == code && r.message == message) return true;
    std::fprintf(stderr, "  got %d \"%s\"\n", r.code, r.message.c_str());
    return false;
}

}  // namespace

TEST(refused_writes_name_the_feature_and_the_reason) {
    using namespace gentl;
    Camera cam(config(0));
    const std::uint64_t width_max = address(cam, "WidthMax");
    std::int32_t one = 1;
    CHECK(refused(cam.write(width_max, &one, 4, false), GC_ERR_ACCESS_DENIED,
                  "the register at " + hex(width_max) + " of camera S1 is read-only"));
    CHECK(refused(cam.write(address(cam, "Width"), &one, 2, false), GC_ERR_INVALID_PARAMETER,
                  "a write of 2 bytes at " + hex(address(cam, "Width")) +
                      " does not match the register there"));
    CHECK(refused(cam.write(0x10, &one, 4, false), GC_ERR_INVALID_ADDRESS,
                  "camera S1 has no writable register at 0x10"));
    CHECK(refused(put(cam, "Width", 640, true), GC_ERR_ACCESS_DENIED,
                  "Width cannot be written: camera S1 is open read-only"));
    CHECK(refused(put(cam, "Width", 7), GC_ERR_INVALID_VALUE,
                  "Width 7 is outside 16 to 2448 in steps of 16"));
    CHECK(refused(put_float(cam, "ExposureTime", 1.0), GC_ERR_INVALID_VALUE,
                  "ExposureTime 1 is outside 10 to 1e+06"));
    CHECK(refused(put(cam, "PixelFormat", 5), GC_ERR_INVALID_VALUE,
                  "PixelFormat has no entry with the value 5"));
    CHECK(refused(put(cam, "SimulationStillScene", 2), GC_ERR_INVALID_VALUE,
                  "SimulationStillScene takes 0 or 1"));
    CHECK(refused(put(cam, "AcquisitionStart", 2), GC_ERR_INVALID_VALUE,
                  "AcquisitionStart takes the command value 1"));
    CHECK(put(cam, "AcquisitionStart", 1).code == GC_ERR_SUCCESS && cam.armed && cam.active);
    CHECK(refused(put(cam, "Width", 640), GC_ERR_ACCESS_DENIED,
                  "Width cannot change while the acquisition runs or TLParamsLocked is set"));
}

TEST(writes_take_effect) {
    Camera cam(config(0));
    CHECK(put(cam, "Width", 640).code == 0 && get(cam, "OffsetXLimit") == 2448 - 640);
    CHECK(get(cam, "PayloadSize") == std::int64_t{640} * 2048);  // Mono8 at power-up
    CHECK(put(cam, "ExposureAuto", 1).code == 0 && get(cam, "ExposureAuto") == 0);  // Once
    CHECK(put(cam, "GainAuto", 2).code == 0 && get(cam, "GainAuto") == 2);

    // The start trigger holds the acquisition until it fires; each selector
    // keeps its own settings.
    CHECK(put(cam, "TriggerSelector", 1).code == 0 && put(cam, "TriggerMode", 1).code == 0);
    CHECK(put(cam, "TriggerSelector", 0).code == 0 && get(cam, "TriggerMode") == 0);
    CHECK(put(cam, "TriggerSelector", 1).code == 0 && get(cam, "TriggerMode") == 1);
    CHECK(put(cam, "AcquisitionStart", 1).code == 0 && cam.armed && !cam.active);
    CHECK(put(cam, "TriggerSoftware", 1).code == 0 && cam.active);

    // Frame triggers on the rising edges of Line1.
    CHECK(put(cam, "TriggerSelector", 0).code == 0 && put(cam, "TriggerMode", 1).code == 0);
    CHECK(put(cam, "TriggerSource", 2).code == 0 && cam.frame_triggered());
    CHECK(put(cam, "SimulationLineSelector", 1).code == 0);
    CHECK(put(cam, "SimulationLineLevel", 1).code == 0 && cam.triggers.size() == 1);
    CHECK(put(cam, "SimulationLineLevel", 0).code == 0 && cam.triggers.size() == 1);
    CHECK(put(cam, "SimulationLinePulse", 1).code == 0 && cam.triggers.size() == 2);
    CHECK(put(cam, "AcquisitionStop", 1).code == 0 && !cam.armed && cam.triggers.empty());

    CHECK(put(cam, "SimulationLoseDevice", 1).code == 0 && cam.lost && cam.generation == 1);
}

TEST(legacy_names_start_frames_with_exposure_start) {
    Camera cam(config(3));
    CHECK(cam.nodes.find("ExposureTimeAbs") && cam.nodes.find("GainRaw"));
    const auto &entries = cam.nodes.find("TriggerSelector")->entries;
    CHECK(entries.size() == 1 && entries[0].first == "ExposureStart");
    CHECK(put(cam, "TriggerMode", 1).code == 0 && cam.frame_triggered());
}
