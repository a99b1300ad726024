// The control link to one camera: one UDP socket, commands with request
// ids, acknowledges matched to them, resends on time-out, and the camera's
// status codes turned into GenTL codes with a text worth showing. Every
// operation is safe from several threads (the heartbeat shares the
// channel); one command is in flight at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "error_codes.hpp"
#include "gev/protocol/gvcp.hpp"
#include "socket.hpp"

namespace vantix::gev {

struct ControlSettings {
    std::chrono::milliseconds timeout{500};  // per try
    unsigned retries = 3;                    // resends after the first try
};

struct ControlStatistics {
    std::uint64_t commands = 0, resends = 0, pending_acks = 0;
    std::uint64_t stale_acks = 0;  // an old request id, or not ours
    std::uint64_t foreign = 0;     // not from the camera, or not an acknowledge
};

class ControlChannel {
public:
    // `camera`: its control endpoint; `local_ip`: the host's address on
    // the interface the camera is reached through (0: any); `name`: how
    // error texts call the camera (its serial, say).
    ControlChannel(const Endpoint &camera, std::uint32_t local_ip, std::string name,
                   ControlSettings settings = {});
    ControlChannel(const ControlChannel &) = delete;
    ControlChannel &operator=(const ControlChannel &) = delete;

    Result open();  // binds the socket
    const Endpoint &camera() const { return camera_; }
    Endpoint local() const { return socket_.local(); }
    const std::string &name() const { return name_; }
    const ControlSettings &settings() const { return settings_; }

    Result read_register(std::uint32_t address, std::uint32_t &value);
    // With other time-outs than the channel's (the heartbeat's).
    Result read_register(std::uint32_t address, std::uint32_t &value,
                         const ControlSettings &settings);
    Result read_registers(const std::uint32_t *addresses, std::size_t count, std::uint32_t *values);
    Result write_register(std::uint32_t address, std::uint32_t value);
    Result write_registers(const std::vector<std::pair<std::uint32_t, std::uint32_t>> &writes);
    // Any address and size: split into aligned chunks of at most 512
    // bytes; an unaligned read is widened and cut, an unaligned write
    // reads the words it only partly covers first.
    Result read_memory(std::uint64_t address, void *data, std::size_t size);
    Result write_memory(std::uint64_t address, const void *data, std::size_t size);

    // Asks for stream packets again. Never acknowledged, so sent and
    // forgotten; from this socket, which the camera knows. Does not wait
    // for a command in flight.
    void request_resend(std::uint16_t channel, std::uint64_t block_id, std::uint32_t first,
                        std::uint32_t last, bool extended_ids);

    // Monitor access: every write fails with access denied, unsent.
    void set_read_only(bool read_only) { read_only_ = read_only; }
    bool read_only() const { return read_only_; }
    // Without WRITEMEM on the camera, memory is written word by word.
    void set_write_memory(bool supported) { write_memory_ = supported; }
    // Several registers per READREG / WRITEREG only where the camera says
    // it takes them (Aravis's fake answers the first alone); off until then.
    void set_concatenation(bool supported) { concatenation_ = supported; }

    // From then on every operation fails at once with an IO error.
    void mark_lost(const std::string &reason);
    bool lost() const { return lost_; }
    std::string lost_reason() const;

    ControlStatistics statistics() const;

private:
    // An acknowledge copied out of the receive buffer.
    struct Reply {
        std::uint16_t status = 0, ack_code = 0;
        std::vector<std::uint8_t> payload;
        Ack view() const {
            Ack a;
            a.status = status, a.ack_code = ack_code;
            a.payload = payload.data(), a.payload_size = payload.size();
            return a;
        }
    };
    Result transact(const char *what, std::uint32_t address, std::size_t size,
                    const std::vector<std::uint8_t> &command, std::uint16_t ack_code,
                    const ControlSettings &settings, Reply &reply);
    std::uint16_t next_request_id();
    Result check_usable(const char *what, std::uint32_t address, bool write) const;
    Result failure(std::int32_t code, const char *what, std::uint32_t address, std::size_t size,
                   const std::string &why) const;
    Result read_aligned(std::uint32_t address, std::uint8_t *data, std::size_t size);
    Result write_aligned(std::uint32_t address, const std::uint8_t *data, std::size_t size);

    const Endpoint camera_;
    const std::uint32_t local_ip_;
    const std::string name_;
    const ControlSettings settings_;
    UdpSocket socket_;
    mutable std::mutex mutex_;  // one command in flight; guards the counters below
    std::vector<std::uint8_t> receive_buffer_;
    ControlStatistics stats_;
    std::atomic<std::uint16_t> request_id_{0};
    std::atomic<bool> read_only_{false}, write_memory_{true}, concatenation_{false}, lost_{false};
    mutable std::mutex lost_mutex_;
    std::string lost_reason_;
};

}  // namespace vantix::gev
