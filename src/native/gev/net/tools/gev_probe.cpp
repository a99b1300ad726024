// A developer's probe of the network layer against a real or simulated
// camera: discovers, takes control, reads the XML location and the start
// of the XML, sets the stream up, receives frames and prints what came.
//
//   gev_probe [--serial S] [--ip A.B.C.D] [--interface NAME] [--frames N]
//             [--wait-ms MS] [--broadcast 0|1]
//
// Lines are "key value ..." so a test can read them.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "gev/net/control_channel.hpp"
#include "gev/net/discovery.hpp"
#include "gev/net/privilege.hpp"
#include "gev/net/receiver.hpp"
#include "gev/protocol/xml_location.hpp"

using namespace vantix::gev;

namespace {

struct Options {
    std::string serial, interface;
    std::uint32_t ip = 0;
    unsigned frames = 5;
    bool broadcast = true;
    unsigned wait_ms = 5000;
    std::size_t buffer_bytes = 16u << 20;
};

// Buffers of the probe's own, and the frames they came back with.
class Collector : public FrameSink {
public:
    Collector(std::size_t count, std::size_t bytes)
        : memory_(count, std::vector<std::uint8_t>(bytes)) {
        for (auto &m : memory_) free_.push_back(&m);
    }
    bool acquire(Target &target) override {
        std::lock_guard<std::mutex> hold(mutex_);
        if (free_.empty()) return false;
        auto *m = free_.back();
        free_.pop_back();
        target.memory = m->data();
        target.size = m->size();
        target.tag = m;
        return true;
    }
    void deliver(const Target &target, const AssembledFrame &frame) override {
        report(target, frame);
        std::lock_guard<std::mutex> hold(mutex_);
        free_.push_back(static_cast<std::vector<std::uint8_t> *>(target.tag));
        ++delivered_;
        changed_.notify_all();
    }
    void request_resend(std::uint64_t, std::uint32_t, std::uint32_t) override {}
    bool wait_for(unsigned count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return delivered_ >= count; });
    }

private:
    static void report(const Target &target, const AssembledFrame &frame) {
        const ImageLeader &l = frame.leader;
        std::printf(
            "frame block %llu bytes %zu complete %d missing %u width %u height %u "
            "format 0x%08X",
            static_cast<unsigned long long>(frame.block_id), frame.filled, frame.incomplete ? 0 : 1,
            frame.packets_missing, l.width, l.height, l.pixel_format);
        // Mono8 of the simulated camera: (x + y + k) mod 255; find k and
        // check every pixel against it.
        if (frame.has_leader && !frame.incomplete && l.pixel_format == 0x01080001 &&
            std::size_t(l.width) * l.height <= frame.filled) {
            const unsigned k = target.memory[0];
            std::size_t wrong = 0;
            for (std::uint32_t y = 0; y < l.height; ++y)
                for (std::uint32_t x = 0; x < l.width; ++x)
                    wrong += target.memory[std::size_t(y) * l.width + x] != (x + y + k) % 255;
            std::printf(" formula_k %u formula_mismatches %zu", k, wrong);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    std::vector<std::vector<std::uint8_t>> memory_;
    std::vector<std::vector<std::uint8_t> *> free_;
    std::mutex mutex_;
    std::condition_variable changed_;
    unsigned delivered_ = 0;
};

// The acquisition command register as the XML names it (the simulated
// camera's AcquisitionStart writes 1 there); a probe's shortcut, not a
// GenICam reader.
bool acquisition_register(const std::string &xml, std::uint32_t &address) {
    const auto start = xml.find("Name=\"AcquisitionStart\"");
    if (start == std::string::npos) return false;
    const auto pv = xml.find("<pValue>", start);
    if (pv == std::string::npos) return false;
    const auto end = xml.find("</pValue>", pv);
    const std::string name = xml.substr(pv + 8, end - pv - 8);
    const auto node = xml.find("Name=\"" + name + "\"");
    if (node == std::string::npos) return false;
    const auto at = xml.find("<Address>", node);
    if (at == std::string::npos) return false;
    address = static_cast<std::uint32_t>(std::strtoul(xml.c_str() + at + 9, nullptr, 0));
    return true;
}

int fail(const Result &r) {
    std::printf("error %d %s\n", r.code, r.text.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--serial")
            o.serial = value;
        else if (key == "--ip")
            parse_ipv4(value, o.ip);
        else if (key == "--interface")
            o.interface = value;
        else if (key == "--broadcast")
            o.broadcast = value != "0";
        else if (key == "--frames")
            o.frames = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        else if (key == "--wait-ms")
            o.wait_ms = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        else {
            std::fprintf(stderr,
                         "usage: %s [--serial S] [--ip A.B.C.D] [--interface NAME] [--frames N] "
                         "[--wait-ms MS] [--broadcast 0|1]\n",
                         argv[0]);
            return 2;
        }
    }

    DiscoverySettings ds;
    ds.broadcast = o.broadcast;
    if (o.ip) ds.unicast.push_back(o.ip);
    std::vector<NetworkInterface> interfaces;
    for (const auto &i : list_interfaces())
        if (o.interface.empty() || i.name == o.interface) interfaces.push_back(i);
    if (interfaces.empty()) {
        std::printf("error no interface %s\n", o.interface.c_str());
        return 1;
    }
    const auto cameras = discover(ds, interfaces);
    const DiscoveredCamera *chosen = nullptr;
    for (const auto &c : cameras) {
        std::printf("camera serial %s model %s ip %s mac %s via %s\n", c.identity.serial.c_str(),
                    c.identity.model.c_str(), ip_text(c.ip).c_str(),
                    mac_text(c.identity.mac).c_str(), c.via.name.c_str());
        if (!chosen && (o.serial.empty() || c.identity.serial == o.serial) &&
            (!o.ip || c.ip == o.ip))
            chosen = &c;
    }
    if (!chosen) {
        std::printf("error no camera found\n");
        return 1;
    }

    ControlChannel channel(Endpoint{chosen->ip, kControlPort}, chosen->via.address,
                           chosen->identity.serial);
    if (Result r = channel.open(); !r.ok()) return fail(r);
    Privilege privilege(channel);
    if (Result r = privilege.take(Access::control); !r.ok()) return fail(r);
    std::uint32_t heartbeat = 0;
    if (Result r = channel.read_register(reg::kHeartbeatTimeout, heartbeat); !r.ok())
        return fail(r);
    std::printf("register heartbeat_timeout %u\n", heartbeat);

    char url[reg::kUrlSize];
    if (Result r = channel.read_memory(reg::kFirstUrl, url, sizeof url); !r.ok()) return fail(r);
    XmlLocation where;
    std::string error;
    if (!parse_xml_location(url, sizeof url, where, error)) {
        std::printf("error xml location: %s\n", error.c_str());
        return 1;
    }
    std::printf("xml name %s address 0x%llX size %llu\n", where.file_name.c_str(),
                static_cast<unsigned long long>(where.address),
                static_cast<unsigned long long>(where.size));
    std::string xml(static_cast<std::size_t>(where.size), '\0');
    if (Result r = channel.read_memory(where.address, xml.data(), xml.size()); !r.ok())
        return fail(r);
    const std::size_t line = std::min(xml.find_first_of("\r\n"), std::size_t(60));
    std::printf("xml head %s\n",
                field_text(reinterpret_cast<const std::uint8_t *>(xml.data()), line).c_str());
    if (o.frames == 0) return 0;

    std::uint32_t acquisition = 0;
    if (!acquisition_register(xml, acquisition)) {
        std::printf("error no AcquisitionStart register in the XML\n");
        return 1;
    }
    StreamReceiver receiver(channel);
    if (Result r = receiver.configure(chosen->via.address); !r.ok()) return fail(r);
    std::printf("stream port %u packet_size %u capability 0x%08X resend %d\n",
                receiver.local().port, receiver.packet_size(), receiver.stream_capability(),
                receiver.assembler_settings().resend ? 1 : 0);
    Collector collector(4, o.buffer_bytes);
    if (Result r = receiver.start(collector); !r.ok()) return fail(r);
    if (Result r = channel.write_register(acquisition, 1); !r.ok()) return fail(r);
    const bool enough = collector.wait_for(o.frames, std::chrono::milliseconds(o.wait_ms));
    // Still ours after seconds of streaming: the heartbeat kept control.
    const Result stopped = channel.write_register(acquisition, 0);
    receiver.stop();
    const auto s = receiver.statistics();
    std::printf("stream complete %llu incomplete %llu dropped %llu packets %llu foreign %llu\n",
                static_cast<unsigned long long>(s.stream.frames_complete),
                static_cast<unsigned long long>(s.stream.frames_incomplete),
                static_cast<unsigned long long>(s.stream.frames_dropped),
                static_cast<unsigned long long>(s.stream.packets_received),
                static_cast<unsigned long long>(s.foreign_packets));
    privilege.release();
    if (!stopped.ok()) return fail(stopped);
    return enough ? 0 : 1;
}
