#include "serial/Clock.h"

#include <time.h>

#include <algorithm>
#include <climits>

#include "serial/Interrupt.h"

uint64_t GetTickCount64() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

namespace {

class TSystemClock final : public TClock {
public:
    uint64_t Now() const override { return GetTickCount64(); }
    // A stop asked for (Ctrl+C, SIGTERM) ends the pause with EInterrupted.
    void Pause(uint32_t Ms) override {
        SleepInterruptible(static_cast<int>(std::min<uint32_t>(Ms, INT_MAX)));
    }
};

}  // namespace

TClock &SystemClock() {
    static TSystemClock Clock;
    return Clock;
}
