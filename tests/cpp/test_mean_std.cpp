#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "check.hpp"
#include "feature_bank/mean_std.hpp"
#include "pool_in_use.hpp"

using vantix::stats::mean_std;

namespace {

template <typename T, typename Acc>
void run(const std::vector<std::vector<T>> &samples, Acc floor, Acc eps, std::vector<Acc> &mean,
         std::vector<Acc> &sd) {
    std::vector<const T *> ptrs;
    ptrs.reserve(samples.size());
    for (const auto &s : samples) ptrs.push_back(s.data());
    const std::size_t d = samples.front().size();
    mean.assign(d, Acc(-1));
    sd.assign(d, Acc(-1));
    mean_std<T, Acc>(ptrs.data(), ptrs.size(), d, floor, eps, mean.data(), sd.data());
}

}  // namespace

TEST(population_deviation_floor_and_eps) {
    // element 0: 0 and 2 -> mean 1, population deviation 1 (a sample
    // deviation would be sqrt(2)); element 1 never varies -> floored.
    std::vector<float> mean, sd;
    run<float, float>({{0.f, 5.f}, {2.f, 5.f}}, 0.03f, 1e-6f, mean, sd);
    CHECK(mean[0] == 1.f && mean[1] == 5.f);
    CHECK(sd[0] == 1.f + 1e-6f);
    CHECK(sd[1] == 0.03f + 1e-6f);
}

TEST(integer_input_reduces_in_double) {
    std::vector<double> mean, sd;
    run<std::uint8_t, double>({{0, 255}, {255, 255}, {255, 255}}, 0.0, 0.0, mean, sd);
    CHECK(mean[0] == 170.0 && mean[1] == 255.0);
    CHECK(std::fabs(sd[0] - std::sqrt(2.0 * 255.0 * 255.0 / 9.0)) < 1e-12);
    CHECK(sd[1] == 0.0);
}

TEST(nan_propagates_through_the_floor) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> mean, sd;
    run<float, float>({{nan, 1.f}, {1.f, 1.f}}, 0.03f, 1e-6f, mean, sd);
    CHECK(std::isnan(mean[0]) && std::isnan(sd[0]));
    CHECK(sd[1] == 0.03f + 1e-6f);
}

TEST(threads_and_blocks_give_the_same_bits) {
    // Sizes that are not multiples of the block or vector width, large
    // enough to be split between threads.
    for (std::size_t d : {70001u, 100003u}) {
        std::vector<std::vector<float>> samples(7, std::vector<float>(d));
        std::uint32_t state = 12345;
        for (auto &s : samples)
            for (auto &v : s) {
                state = state * 1664525u + 1013904223u;
                v = static_cast<float>(static_cast<std::int32_t>(state)) * 1e-5f;
            }
        std::vector<float> m1, s1, m4, s4;
        run<float, float>(samples, 0.03f, 1e-6f, m1, s1);
        {
            PoolInUse pool(4);
            run<float, float>(samples, 0.03f, 1e-6f, m4, s4);
        }
        CHECK(std::memcmp(m1.data(), m4.data(), d * sizeof(float)) == 0);
        CHECK(std::memcmp(s1.data(), s4.data(), d * sizeof(float)) == 0);
        // Every element was written.
        bool all_written = true;
        for (float v : s4) all_written = all_written && v >= 0.03f;
        CHECK(all_written);
    }
}
