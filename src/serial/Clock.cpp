#include "serial/Clock.h"

#include <algorithm>
#include <climits>

#include "serial/ComPort.h"
#include "serial/Interrupt.h"

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
