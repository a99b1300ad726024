// The simulator's transport: the cameras its configuration describes
// (VANTIX_SIM_CONFIG, or the default set), each on the simulated interface
// it names, reachable unless lost.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "gentl_core/errors.hpp"
#include "gentl_core/utf8.hpp"
#include "sim/model/config_file.hpp"
#include "sim_device.hpp"

namespace vantix::sim {

using namespace gentl;
using gentl_core::InterfaceEntry;

namespace {

constexpr const char *kConfigVariable = "VANTIX_SIM_CONFIG";

constexpr gentl_core::ProducerInfo kProducer = {
    "vantix-sim",    "vantix",          "vantix simulated cameras",
    "0.1.0",         "Mixed",           "vantix GenTL simulator",
    "the simulator", "vantix simulated"};

// Reads the configuration the environment names, or the default set.
GC_ERROR load_config(SimulatorConfig &out) {
    const char *path = std::getenv(kConfigVariable);
    if (!path || !*path) {
        out = default_config();
        return GC_ERR_SUCCESS;
    }
    std::string error;
    const ConfigFileStatus status = load_config_file(path, out, error);
    if (status == ConfigFileStatus::loaded) return GC_ERR_SUCCESS;
    GC_ERROR code = GC_ERR_INVALID_PARAMETER;
    if (status == ConfigFileStatus::unreadable) {
        code = GC_ERR_IO;
        error += std::string("; ") + kConfigVariable + " names it";
    }
    // The path, like the file, comes from outside: shown with its control
    // characters escaped, as the last-error text is UTF-8.
    gentl_core::fail(code, "simulator configuration %s: %s", gentl_core::printable(path).c_str(),
                     error.c_str());
    // The consumer may only log that the producer failed to start: say why.
    std::fprintf(stderr, "vantix simulator: %s\n", gentl_core::last_error_text());
    return code;
}

class SimTransport final : public gentl_core::Transport {
public:
    const gentl_core::ProducerInfo &producer() const override { return kProducer; }

    GC_ERROR init() override {
        SimulatorConfig config;
        if (const GC_ERROR e = load_config(config)) return e;
        config_ = std::move(config);
        for (const DeviceConfig &d : config_.devices)
            devices_.push_back(std::make_shared<SimDevice>(std::make_shared<Camera>(d)));
        return GC_ERR_SUCCESS;
    }

    void close() override {
        decltype(devices_)().swap(devices_);
        config_ = SimulatorConfig{};
    }

    // In the order their first camera is configured; an interface's TL type
    // is its cameras' when they agree.
    std::vector<InterfaceEntry> interfaces(Lock &) override {
        std::vector<InterfaceEntry> found;
        for (const auto &device : devices_) {
            const DeviceConfig &c = device->camera()->config;
            InterfaceEntry *entry = nullptr;
            for (InterfaceEntry &known : found)
                if (known.id == c.interface) entry = &known;
            if (!entry) {
                entry = &found.emplace_back();
                entry->id = c.interface;
                entry->tl_type = c.tl_type;
            } else if (entry->tl_type != c.tl_type) {
                entry->tl_type = "Custom";
            }
        }
        for (InterfaceEntry &entry : found) {
            if (entry.tl_type.empty()) entry.tl_type = "Custom";
            entry.display_name = "Simulated " + entry.tl_type + " interface " + entry.id;
        }
        return found;
    }

    std::vector<std::shared_ptr<gentl_core::DeviceEntry>> devices(const InterfaceEntry &iface,
                                                                  std::uint64_t, Lock &) override {
        std::vector<std::shared_ptr<gentl_core::DeviceEntry>> found;
        const Clock::time_point now = Clock::now();
        for (const auto &device : devices_) {
            Camera &camera = *device->camera();
            if (camera.config.interface == iface.id && camera.reachable(now))
                found.push_back(device);
        }
        return found;
    }

    bool refuses_module_events() const override { return config_.refuse_module_events; }

private:
    SimulatorConfig config_;
    std::vector<std::shared_ptr<SimDevice>> devices_;
};

}  // namespace

}  // namespace vantix::sim

namespace vantix::gentl_core {

Transport &transport() {
    // Never destroyed, like the library state: a thread still running at
    // process exit must not find it gone.
    alignas(sim::SimTransport) static unsigned char storage[sizeof(sim::SimTransport)];
    static Transport *simulator = new (storage) sim::SimTransport;
    return *simulator;
}

}  // namespace vantix::gentl_core
