#include "serial/Clock.h"

#include <chrono>
#include <thread>

#include "serial/ComPort.h"

namespace {

class TSystemClock final : public TClock {
public:
    uint64_t Now() const override { return GetTickCount64(); }
    void Pause(uint32_t Ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(Ms)); }
};

}  // namespace

TClock &SystemClock() {
    static TSystemClock Clock;
    return Clock;
}
