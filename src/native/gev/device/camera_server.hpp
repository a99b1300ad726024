// One simulated camera served as a GigE Vision device on its own address:
// a control thread (GVCP on port 3956 of the address, and broadcast
// discovery), a stream thread (frames from the camera to GVSP) and a
// ticker (pending acknowledges, the heartbeat). While the camera is lost
// the device is silent; when it returns it is opened afresh, as a camera
// that rebooted.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "control_server.hpp"
#include "gev/net/socket.hpp"
#include "sim_link.hpp"
#include "stream_sender.hpp"

namespace vantix::gev::device {

struct ServeOptions {
    bool packet_resend = true;
    bool plain_xml = false;  // the document unzipped
    double loss_percent = 0;
    std::uint64_t seed = 1;
};

class CameraServer {
public:
    CameraServer(gentl::IF_HANDLE iface, const std::string &device_id, std::uint32_t ip,
                 const ServeOptions &options);
    ~CameraServer() { stop(); }

    // Binds the sockets and opens the camera; false with the reason.
    bool start(std::string &error);
    void stop();
    const std::string &serial() const { return serial_; }

private:
    bool open_camera();
    void control_loop();
    void stream_loop();
    void tick_loop();
    std::shared_ptr<ControlServer> control() const { return std::atomic_load(&control_); }

    const std::uint32_t ip_;
    const ServeOptions options_;
    SimLink link_;
    StreamSender sender_;
    std::string serial_;
    UdpSocket unicast_, broadcast_;
    std::shared_ptr<ControlServer> control_;
    std::atomic<bool> stop_{false};
    std::thread control_thread_, stream_thread_, tick_thread_;
};

}  // namespace vantix::gev::device
