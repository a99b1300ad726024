// vantix_sim_camera: the simulated cameras served as GigE Vision devices,
// each on its own address (A, A+1, ...). Started by `python -m vantix
// sim-camera`, which checks the arguments; runs until SIGINT or SIGTERM,
// or for --seconds.
//
//   vantix_sim_camera --address A [--preset P] [--seconds S] [--no-resend]
//                     [--loss PERCENT] [--seed N] [--plain-xml] [--link-mbps M]
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "camera_server.hpp"
#include "gentl_core/gentl_api.hpp"
#include "gev/protocol/gvcp.hpp"
#include "sim/model/config.hpp"
#include "sim/model/config_file.hpp"

namespace {

using namespace vantix;

struct Arguments {
    std::uint32_t address = 0;
    std::string preset;
    double seconds = 0;  // 0: until a signal
    gev::device::ServeOptions serve;
};

int usage(const char *why) {
    std::fprintf(stderr,
                 "vantix_sim_camera: %s\nusage: vantix_sim_camera --address A [--preset P] "
                 "[--seconds S] [--no-resend] [--loss PERCENT] [--seed N] [--plain-xml] "
                 "[--link-mbps M]\n",
                 why);
    return 2;
}

bool parse(int argc, char **argv, Arguments &out) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--no-resend") {
            out.serve.packet_resend = false;
        } else if (a == "--plain-xml") {
            out.serve.plain_xml = true;
        } else if (!value) {  // NOLINT(bugprone-branch-clone): as an unknown option
            return false;
        } else if (a == "--address") {
            in_addr address{};
            if (inet_pton(AF_INET, value, &address) != 1) return false;
            out.address = ntohl(address.s_addr);
            ++i;
        } else if (a == "--preset") {
            out.preset = value, ++i;
        } else if (a == "--seconds") {
            out.seconds = std::strtod(value, nullptr), ++i;
        } else if (a == "--loss") {
            out.serve.loss_percent = std::strtod(value, nullptr), ++i;
        } else if (a == "--link-mbps") {
            out.serve.link_mbps = std::strtoull(value, nullptr, 10), ++i;
        } else if (a == "--seed") {
            out.serve.seed = std::strtoull(value, nullptr, 10), ++i;
        } else {
            return false;
        }
    }
    return out.address != 0 && out.serve.loss_percent >= 0 && out.serve.loss_percent <= 100;
}

// Each device's preset, by device id: the configuration the producer reads.
bool presets(std::vector<sim::DeviceConfig> &out) {
    const char *path = std::getenv("VANTIX_SIM_CONFIG");
    sim::SimulatorConfig config = sim::default_config();
    std::string error;
    if (path && *path &&
        sim::load_config_file(path, config, error) != sim::ConfigFileStatus::loaded)
        return false;  // GCInitLib says why
    out = config.devices;
    return true;
}

struct Found {
    gentl::IF_HANDLE iface;
    std::string id, preset;
};

std::vector<Found> cameras(gentl::TL_HANDLE system, const std::vector<sim::DeviceConfig> &configs) {
    std::vector<Found> found;
    gentl::bool8_t changed = 0;
    std::uint32_t interfaces = 0;
    TLUpdateInterfaceList(system, &changed, 0);
    TLGetNumInterfaces(system, &interfaces);
    for (std::uint32_t i = 0; i < interfaces; ++i) {
        char id[256] = {};
        std::size_t size = sizeof id;
        gentl::IF_HANDLE iface = nullptr;
        if (TLGetInterfaceID(system, i, id, &size) != gentl::GC_ERR_SUCCESS ||
            TLOpenInterface(system, id, &iface) != gentl::GC_ERR_SUCCESS)
            continue;
        std::uint32_t devices = 0;
        IFUpdateDeviceList(iface, &changed, 0);
        IFGetNumDevices(iface, &devices);
        for (std::uint32_t d = 0; d < devices; ++d) {
            char device[256] = {};
            size = sizeof device;
            if (IFGetDeviceID(iface, d, device, &size) != gentl::GC_ERR_SUCCESS) continue;
            std::string preset;
            for (const sim::DeviceConfig &c : configs)
                if (c.id == device) preset = c.preset;
            found.push_back({iface, device, preset});
        }
    }
    return found;
}

std::string last_error() {
    gentl::GC_ERROR code = 0;
    char text[512] = {};
    std::size_t size = sizeof text;
    GCGetLastError(&code, text, &size);
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    Arguments args;
    if (!parse(argc, argv, args)) return usage("invalid arguments");
    // Signals are taken by this thread only, with sigtimedwait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<sim::DeviceConfig> configs;
    presets(configs);
    if (GCInitLib() != gentl::GC_ERR_SUCCESS) {
        std::fprintf(stderr, "vantix_sim_camera: %s\n", last_error().c_str());
        return 1;
    }
    gentl::TL_HANDLE system = nullptr;
    if (TLOpen(&system) != gentl::GC_ERR_SUCCESS) {
        std::fprintf(stderr, "vantix_sim_camera: %s\n", last_error().c_str());
        GCCloseLib();
        return 1;
    }
    std::vector<Found> found = cameras(system, configs);
    std::vector<std::unique_ptr<gev::device::CameraServer>> servers;
    int status = 0;
    std::uint32_t address = args.address;
    for (const Found &f : found) {
        if (!args.preset.empty() && f.preset != args.preset) continue;
        auto server =
            std::make_unique<gev::device::CameraServer>(f.iface, f.id, address, args.serve);
        std::string error;
        if (!server->start(error)) {
            std::fprintf(stderr, "vantix_sim_camera: %s on %s: %s\n", f.id.c_str(),
                         gev::ip_text(address).c_str(), error.c_str());
            status = 1;
            break;
        }
        std::printf("serving %s %s on %s\n", f.preset.empty() ? "custom" : f.preset.c_str(),
                    server->serial().c_str(), gev::ip_text(address).c_str());
        std::fflush(stdout);
        servers.push_back(std::move(server));
        ++address;
    }
    if (status == 0 && servers.empty()) {
        std::fprintf(stderr, "vantix_sim_camera: no camera to serve%s%s\n",
                     args.preset.empty() ? "" : " with preset ", args.preset.c_str());
        status = 1;
    }
    if (status == 0) {
        timespec limit{};
        if (args.seconds > 0) {
            limit.tv_sec = static_cast<time_t>(args.seconds);
            limit.tv_nsec =
                static_cast<long>((args.seconds - static_cast<double>(limit.tv_sec)) * 1e9);
        }
        if (args.seconds > 0)
            sigtimedwait(&signals, nullptr, &limit);
        else
            sigwaitinfo(&signals, nullptr);
    }
    servers.clear();  // each joins its threads and closes its camera
    std::vector<gentl::IF_HANDLE> closed;
    for (const Found &f : found) {
        bool seen = false;
        for (gentl::IF_HANDLE h : closed) seen |= h == f.iface;
        if (!seen) IFClose(f.iface), closed.push_back(f.iface);
    }
    TLClose(system);
    GCCloseLib();
    return status;
}
