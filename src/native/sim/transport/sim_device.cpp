// Opening a simulated camera with the access it grants, its device info,
// and the link an open device reaches it through: its register space in
// memory, one stream, and the connection it was opened on (a camera that
// was lost and returned is a new connection; the old link stays dead).
#include "sim_device.hpp"

#include "gentl_core/errors.hpp"
#include "gentl_core/ports.hpp"
#include "sim_stream.hpp"

namespace vantix::sim {

using namespace gentl;

namespace {

std::int32_t access_status(const Camera &camera) {
    if (camera.lost) return DEVICE_ACCESS_STATUS_NOACCESS;
    if (camera.open)
        return camera.open_access == Grant::read_only ? DEVICE_ACCESS_STATUS_OPEN_READONLY
                                                      : DEVICE_ACCESS_STATUS_OPEN_READWRITE;
    return camera.config.access == Grant::read_only ? DEVICE_ACCESS_STATUS_READONLY
                                                    : DEVICE_ACCESS_STATUS_READWRITE;
}

const char *grant_name(Grant g) {
    return g == Grant::exclusive ? "exclusive" : g == Grant::control ? "control" : "read-only";
}

class SimLink final : public DeviceLink {
public:
    SimLink(std::shared_ptr<Camera> camera, Grant access)
        : camera_(std::move(camera)), generation_(camera_->generation), access_(access) {}

    bool connected() const override { return !camera_->lost && camera_->generation == generation_; }
    std::string lost_reason() const override {
        return "camera " + camera_->config.serial + " does not answer: it was lost";
    }

    GC_ERROR read(std::uint64_t address, void *data, std::size_t size, Lock &) override {
        if (!connected()) return lost();
        return gentl_core::read_nodes(camera_->nodes, address, data, size);
    }

    GC_ERROR write(std::uint64_t address, const void *data, std::size_t size, Lock &) override {
        if (!connected()) return lost();
        const WriteResult done = camera_->write(address, data, size, access_ == Grant::read_only);
        if (done.code == GC_ERR_SUCCESS) return GC_ERR_SUCCESS;
        return gentl_core::fail(done.code, "%s", done.message.c_str());
    }

    std::vector<gentl_core::PortUrl> urls(Lock &) override {
        return {gentl_core::local_url("Camera_" + camera_->config.id, camera_->nodes)};
    }

    GC_ERROR port_info(std::int32_t cmd, const InfoOut &out) override {
        const DeviceConfig &c = camera_->config;
        switch (cmd) {
            case PORT_INFO_VENDOR:
                return out.text(c.vendor);
            case PORT_INFO_MODEL:
                return out.text(c.model);
            case PORT_INFO_TLTYPE:
                return out.text(c.tl_type);
            case PORT_INFO_LITTLE_ENDIAN:
                return out.boolean(true);
            case PORT_INFO_BIG_ENDIAN:
                return out.boolean(false);
            case PORT_INFO_VERSION:
                return out.text(c.version);
            case PORT_INFO_PORTNAME:
                return out.text(camera_->nodes.port_name());
            default:
                return gentl_core::unknown_command("port info command", cmd);
        }
    }

    GC_ERROR open_stream(const std::string &, Lock &,
                         std::unique_ptr<gentl_core::StreamSource> &out) override {
        out = std::make_unique<SimStream>(camera_, generation_);
        return GC_ERR_SUCCESS;
    }

    void close(Lock &) override {
        if (connected()) camera_->open = false;
    }

private:
    // Port access names the camera by its ID, as the port does.
    GC_ERROR lost() const {
        return gentl_core::fail(GC_ERR_IO, "camera %s does not answer: it was lost",
                                camera_->config.id.c_str());
    }

    const std::shared_ptr<Camera> camera_;
    const std::uint64_t generation_;
    const Grant access_;
};

}  // namespace

GC_ERROR SimDevice::info(std::int32_t cmd, const InfoOut &out) const {
    const Camera &camera = *camera_;
    const DeviceConfig &c = camera.config;
    switch (cmd) {
        case DEVICE_INFO_ID:
            return out.text(c.id);
        case DEVICE_INFO_VENDOR:
            return out.text(c.vendor);
        case DEVICE_INFO_MODEL:
            return out.text(c.model);
        case DEVICE_INFO_TLTYPE:
            return out.text(c.tl_type);
        case DEVICE_INFO_DISPLAYNAME:
            return out.text(c.display_name);
        case DEVICE_INFO_ACCESS_STATUS:
            return out.value(access_status(camera), INFO_DATATYPE_INT32);
        case DEVICE_INFO_USER_DEFINED_NAME: {
            const gentl_core::RegisterMap &r = camera.nodes.registers();
            return out.text(r.get_string(r.find("DeviceUserIDReg")));
        }
        case DEVICE_INFO_SERIAL_NUMBER:
            return out.text(c.serial);
        case DEVICE_INFO_VERSION:
            return out.text(c.version);
        case DEVICE_INFO_TIMESTAMP_FREQUENCY:
            return out.u64(Camera::kTimestampFrequency);
        default:
            return gentl_core::unknown_command("device info command", cmd);
    }
}

GC_ERROR SimDevice::open(Grant wanted, Lock &, std::shared_ptr<DeviceLink> &out) {
    Camera &camera = *camera_;
    const char *serial = camera.config.serial.c_str();
    if (!camera.reachable(Clock::now()))
        return gentl_core::fail(GC_ERR_IO, "camera %s does not answer: it was lost", serial);
    if (camera.open)
        return gentl_core::fail(GC_ERR_ACCESS_DENIED, "camera %s is already open", serial);
    if (wanted > camera.config.access)
        return gentl_core::fail(GC_ERR_ACCESS_DENIED,
                                "camera %s grants at most %s access, %s was asked for", serial,
                                grant_name(camera.config.access), grant_name(wanted));
    camera.open = true;
    camera.open_access = wanted;
    camera.frames_delivered = 0;
    out = std::make_shared<SimLink>(camera_, wanted);
    return GC_ERR_SUCCESS;
}

}  // namespace vantix::sim
