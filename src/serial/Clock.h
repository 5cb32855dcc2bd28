#pragma once
// Time as the protocols see it: a monotonic millisecond tick for their
// deadlines and a blocking pause. The system's clock is the real one; tests
// pass a virtual clock that moves only while the protocol waits.

#include <cstdint>

// Monotonic millisecond tick, 64 bits wide (never wraps in practice).
uint64_t GetTickCount64();

class TClock {
public:
    virtual ~TClock() = default;
    virtual uint64_t Now() const = 0;
    virtual void Pause(uint32_t Ms) = 0;
};

// GetTickCount64 and a real sleep, which a stop request ends
// (EInterrupted, serial/Interrupt.h).
TClock &SystemClock();
