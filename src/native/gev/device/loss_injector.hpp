// What a lossy network does to a stream, reproduced in the sender so that
// receivers meet loss without a filter in the kernel (and without root):
// of the packets of a batch it drops `percent`, swaps half as many with
// the packet after them and sends half as many twice. The same seed gives
// the same choices for the same packets.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace vantix::gev::device {

class LossInjector {
public:
    LossInjector(double percent, std::uint64_t seed)
        : drop_(threshold(percent)), shuffle_(threshold(percent / 2)), state_(seed) {}

    bool active() const { return drop_ != 0 || shuffle_ != 0; }

    template <class Packet>
    void apply(std::vector<Packet> &batch) {
        if (!active()) return;
        std::vector<Packet> out;
        out.reserve(batch.size() + batch.size() / 16 + 1);
        for (std::size_t i = 0; i < batch.size(); ++i) {
            if (next() < drop_) continue;
            if (next() < shuffle_ && i + 1 < batch.size()) {
                out.push_back(batch[i + 1]);
                out.push_back(batch[i]);
                ++i;
                continue;
            }
            out.push_back(batch[i]);
            if (next() < shuffle_) out.push_back(batch[i]);
        }
        batch = std::move(out);
    }

private:
    // A draw below the threshold happens; draws are uniform over 2^32.
    static std::uint64_t threshold(double percent) {
        if (!(percent > 0)) return 0;
        if (percent >= 100) return std::uint64_t{1} << 32;
        return static_cast<std::uint64_t>(percent / 100 * 4294967296.0);
    }
    // splitmix64: small, fast, and the same on every platform.
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return (z ^ (z >> 31)) >> 32;
    }

    std::uint64_t drop_, shuffle_, state_;
};

}  // namespace vantix::gev::device
