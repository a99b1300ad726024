// A minimal check harness for the pure C++ kernels: CHECK records a failure
// and goes on; main() returns the failure count. Tests register with TEST().
#pragma once

#include <cstdio>
#include <functional>
#include <vector>

namespace check {

struct Case {
    const char *name;
    std::function<void()> body;
};

inline std::vector<Case> &cases() {
    static std::vector<Case> all;
    return all;
}
inline int &failures() {
    static int count = 0;
    return count;
}

struct Register {
    Register(const char *name, std::function<void()> body) {
        cases().push_back({name, std::move(body)});
    }
};

}  // namespace check

#define CHECK_CAT2(a, b) a##b
#define CHECK_CAT(a, b) CHECK_CAT2(a, b)
#define TEST(name)                                                     \
    static void name();                                                \
    static check::Register CHECK_CAT(register_, name)(#name, &(name)); \
    static void name()

#define CHECK(cond)                                                                       \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            ++check::failures();                                                          \
            std::fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                                 \
    } while (0)

int main() {
    int failed_cases = 0;
    for (const auto &c : check::cases()) {
        const int before = check::failures();
        c.body();
        if (check::failures() != before) {
            ++failed_cases;
            std::fprintf(stderr, "FAILED %s\n", c.name);
        }
    }
    const int total = static_cast<int>(check::cases().size());
    std::printf("%d passed, %d failed\n", total - failed_cases, failed_cases);
    return failed_cases == 0 ? 0 : 1;
}
