#include "camera_server.hpp"

#include <cctype>
#include <cstdio>

#include "gentl_core/gentl_api.hpp"
#include "gev/protocol/gvcp.hpp"
#include "zip_writer.hpp"

namespace vantix::gev::device {

using namespace std::chrono_literals;

namespace {

std::string file_stem(std::string text) {
    for (char &c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
    return text;
}

std::string hex(std::size_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "%zX", v);
    return text;
}

}  // namespace

CameraServer::CameraServer(gentl::IF_HANDLE iface, const std::string &device_id, std::uint32_t ip,
                           const ServeOptions &options)
    : ip_(ip),
      options_(options),
      link_(iface, device_id),
      sender_(ip, options.loss_percent, options.seed ^ ip) {
    serial_ = link_.info(gentl::DEVICE_INFO_SERIAL_NUMBER);
}

bool CameraServer::open_camera() {
    SimLink::ControlLock hold(link_);
    if (!link_.open()) return false;
    DeviceIdentity id;
    id.manufacturer = "vantix";
    id.model = link_.info(gentl::DEVICE_INFO_MODEL);
    id.device_version = link_.info(gentl::DEVICE_INFO_VERSION);
    id.serial = serial_;
    id.user_name = link_.info(gentl::DEVICE_INFO_USER_DEFINED_NAME);
    id.ip = ip_;
    id.subnet_mask = (ip_ >> 24) == 127 ? 0xFF000000u : 0xFFFFFF00u;
    id.packet_resend = options_.packet_resend;
    const std::string stem = file_stem(id.model + "_" + serial_);
    std::vector<std::uint8_t> document;
    if (!options_.plain_xml) document = zip_one_file(stem + ".xml", link_.document());
    if (document.empty()) {
        document.assign(link_.document().begin(), link_.document().end());
        id.first_url = "Local:" + stem + ".xml;";
    } else {
        id.first_url = "Local:" + stem + ".zip;";
    }
    id.first_url += hex(kDocumentAddress) + ";" + hex(document.size());
    std::atomic_store(&control_,
                      std::make_shared<ControlServer>(id, std::move(document), link_, sender_));
    return true;
}

bool CameraServer::start(std::string &error) {
    if (serial_.empty()) {
        error = "the camera is not listed";
        return false;
    }
    if (!unicast_.open(Endpoint{ip_, kControlPort}, error) || !sender_.open(error)) return false;
    broadcast_.reuse_address();
    if (!broadcast_.open(Endpoint{0xFFFFFFFFu, kControlPort}, error)) return false;
    if (!open_camera()) {
        error = "camera " + serial_ + " cannot be opened";
        return false;
    }
    control_thread_ = std::thread([this] { control_loop(); });
    stream_thread_ = std::thread([this] { stream_loop(); });
    tick_thread_ = std::thread([this] { tick_loop(); });
    return true;
}

void CameraServer::stop() {
    stop_ = true;
    for (std::thread *t : {&control_thread_, &stream_thread_, &tick_thread_})
        if (t->joinable()) t->join();
    SimLink::ControlLock hold(link_);
    link_.close();
}

void CameraServer::control_loop() {
    std::uint8_t data[1500];
    Endpoint from;
    while (!stop_) {
        if (link_.lost() || !link_.is_open()) {
            std::atomic_store(&control_, std::shared_ptr<ControlServer>());
            {
                SimLink::ControlLock hold(link_);
                link_.close();
            }
            // Silent until the camera is back: what arrives is dropped.
            while (unicast_.receive(data, sizeof data, from, 0ms) > 0) {
            }
            while (broadcast_.receive(data, sizeof data, from, 0ms) > 0) {
            }
            std::this_thread::sleep_for(100ms);
            open_camera();
            continue;
        }
        const auto control = this->control();
        for (UdpSocket *socket : {&broadcast_, &unicast_}) {
            const long n =
                socket->receive(data, sizeof data, from, socket == &unicast_ ? 10ms : 0ms);
            // Answers go out from the device's own address.
            if (n > 0 && control)
                control->handle(data, static_cast<std::size_t>(n), from, unicast_);
        }
    }
}

void CameraServer::tick_loop() {
    while (!stop_) {
        if (const auto control = this->control()) control->tick(unicast_, Clock::now());
        std::this_thread::sleep_for(10ms);
    }
}

void CameraServer::stream_loop() {
    while (!stop_) {
        while (link_.control_waiting() && !stop_) std::this_thread::yield();
        std::unique_lock<std::mutex> hold(link_.mutex);
        SimFrame frame;
        const SimLink::Wait w =
            link_.is_open() ? link_.next_frame(frame, 20) : SimLink::Wait::failed;
        if (w == SimLink::Wait::failed) {
            hold.unlock();
            std::this_thread::sleep_for(20ms);
            continue;
        }
        if (w != SimLink::Wait::frame) continue;
        ChannelSettings channel;
        const auto control = this->control();
        if (control && control->streaming(channel)) sender_.send_frame(frame, channel);
        link_.requeue(frame);
    }
}

}  // namespace vantix::gev::device
