// One simulated camera driven through the simulated producer's own GenTL
// functions (linked in): its remote port, its GenICam document and its data
// stream. The control thread opens, closes and resizes it under `mutex`;
// the stream thread waits for frames under the same mutex, a short wait at
// a time, so the handles never change under it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "gentl_core/gentl.hpp"

namespace vantix::gev::device {

struct SimFrame {
    gentl::BUFFER_HANDLE buffer = nullptr;
    const std::uint8_t *data = nullptr;
    std::size_t filled = 0;
    bool incomplete = false;
    std::uint64_t frame_id = 0, timestamp = 0, pixel_format = 0;
    std::size_t width = 0, height = 0, offset_x = 0, offset_y = 0;
};

class SimLink {
public:
    SimLink(gentl::IF_HANDLE iface, std::string device_id)
        : iface_(iface), device_id_(std::move(device_id)) {}
    ~SimLink() { close(); }

    std::mutex mutex;
    // The control thread's turn: the stream thread, which waits for frames
    // holding `mutex`, lets it in before taking it again (std::mutex is
    // not fair).
    class ControlLock {
    public:
        explicit ControlLock(SimLink &link) : link_(link) {
            ++link_.control_waiting_;
            link_.mutex.lock();
            --link_.control_waiting_;
        }
        ~ControlLock() { link_.mutex.unlock(); }
        ControlLock(const ControlLock &) = delete;
        ControlLock &operator=(const ControlLock &) = delete;

    private:
        SimLink &link_;
    };
    bool control_waiting() const { return control_waiting_ > 0; }

    // Opens the device (exclusive when granted), its port and stream, with
    // buffers queued and the stream started: frames flow once the camera's
    // AcquisitionStart runs. False while the camera is not listed (lost).
    bool open();
    void close();
    bool is_open() const { return device_ != nullptr; }
    // A GenTL call failed with the I/O error: the camera dropped off.
    bool lost() const { return lost_; }

    std::string info(std::int32_t command) const;  // DEVICE_INFO_* text
    const std::string &document() const { return document_; }
    // The register of a feature in the document (its <Name>Reg node).
    bool feature_register(const std::string &feature, std::uint64_t &address,
                          std::uint32_t &length) const;

    gentl::GC_ERROR read(std::uint64_t address, void *data, std::size_t size);
    gentl::GC_ERROR write(std::uint64_t address, const void *data, std::size_t size);

    // Buffers as large as the camera's payload now (after a write that may
    // have grown it); under `mutex`.
    void fit_buffers();

    enum class Wait { frame, timeout, failed };
    // Under `mutex`: the next delivered frame; give it back with requeue().
    Wait next_frame(SimFrame &out, std::uint64_t timeout_ms);
    void requeue(const SimFrame &frame);

private:
    gentl::GC_ERROR check(gentl::GC_ERROR e);  // notes a loss
    bool allocate_buffers(std::size_t size);
    void release_buffers();

    gentl::IF_HANDLE iface_;
    const std::string device_id_;
    gentl::DEV_HANDLE device_ = nullptr;
    gentl::PORT_HANDLE port_ = nullptr;
    gentl::DS_HANDLE stream_ = nullptr;
    gentl::EVENT_HANDLE event_ = nullptr;
    std::vector<gentl::BUFFER_HANDLE> buffers_;
    std::size_t buffer_size_ = 0;
    std::string document_;
    std::atomic<bool> lost_{false};
    std::atomic<int> control_waiting_{0};
};

}  // namespace vantix::gev::device
