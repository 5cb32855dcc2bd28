#pragma once
// A serial port whose line is played from fuzzer input, on a virtual clock.
//
// Every Write takes the next reply "segment" from the script: a flags byte
// and a list of pieces, each a delay (virtual ms after the write, added up)
// and some bytes. Bytes become visible to InputCount/Read when the clock
// reaches their time; WaitForInput advances the clock to the next arrival or
// by the wait asked for. So a reply may trickle in, stop half way, come late
// or never, and a whole upload runs in microseconds.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

#include "serial/ComPort.h"

class TFuzzInput {
public:
    TFuzzInput(const uint8_t *Data, size_t Size) : FData(Data), FSize(Size) {}
    bool Empty() const { return FPos >= FSize; }
    uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    // Up to Count bytes (fewer at the end of the input).
    std::vector<uint8_t> Bytes(size_t Count) {
        Count = std::min(Count, FSize - std::min(FPos, FSize));
        std::vector<uint8_t> Out(FData + FPos, FData + FPos + Count);
        FPos += Count;
        return Out;
    }

private:
    const uint8_t *FData;
    size_t FSize;
    size_t FPos = 0;
};

class TFuzzPort : public TComPort {
public:
    enum : uint8_t {
        SegShortWrite = 0x01,   // the write takes one byte less than asked
        SegHangUp = 0x02,       // the device goes away at the write
        SegRealSilence = 0x04,  // for real-clock callers: a wait with nothing left sleeps
    };

    // RealClock: the caller times out on the real clock (the Modbus master);
    // otherwise it reads Now() (the bootloader link's replaceable tick).
    TFuzzPort(TFuzzInput &In, bool RealClock) : FIn(In), FRealClock(RealClock) {}

    uint64_t Now() const { return FNow; }
    // Everything handed out by Read since the last Write, for the harness's
    // own judgement of what the device sent.
    const std::vector<uint8_t> &Delivered() const { return FDelivered; }
    const std::vector<std::vector<uint8_t>> &Requests() const { return FRequests; }
    // What Read handed out after request I.
    const std::vector<uint8_t> &DeliveredAfter(size_t I) const { return I < FHistory.size() ? FHistory[I] : FDelivered; }

    bool Connected() const override { return FOpen; }
    void Open() override {
        if (FOpen) return;
        // One byte of the script decides whether the device opens at all.
        if (FIn.Byte() == 0xEE) throw EComPort(CError_OpenFailed, 2);
        FOpen = true;
    }
    void Close() override { FOpen = false; }

    int Write(const void *Buffer, int Count) override {
        Check();
        const auto *p = static_cast<const uint8_t *>(Buffer);
        if (!FRequests.empty()) FHistory.push_back(FDelivered);
        FRequests.emplace_back(p, p + Count);
        FDelivered.clear();
        FPending.clear();
        const uint8_t Flags = FIn.Byte();
        if (Flags & SegHangUp) Gone();
        FRealSilence = (Flags & SegRealSilence) != 0;
        const int Pieces = FIn.Byte() % 8;
        uint64_t At = FNow;
        for (int i = 0; i < Pieces && !FIn.Empty(); ++i) {
            At += FIn.Byte() * 8u;
            for (uint8_t b : FIn.Bytes(FIn.Byte() % 64)) FPending.push_back({At, b});
        }
        return (Flags & SegShortWrite) ? std::max(Count - 1, 0) : Count;
    }

    int Read(void *Buffer, int Count) override {
        Check();
        auto *p = static_cast<uint8_t *>(Buffer);
        int n = 0;
        while (n < Count && !FPending.empty() && FPending.front().At <= FNow) {
            p[n++] = FPending.front().Byte;
            FDelivered.push_back(FPending.front().Byte);
            FPending.pop_front();
        }
        return n;
    }

    int InputCount() override {
        Check();
        int n = 0;
        for (const auto &P : FPending) {
            if (P.At > FNow) break;
            ++n;
        }
        return n;
    }

    void ClearBuffer(bool Input, bool) override {
        Check();
        if (!Input) return;
        while (!FPending.empty() && FPending.front().At <= FNow) FPending.pop_front();
    }

    bool WaitForInput(int TimeoutMs) override {
        Check();
        if (InputCount() > 0) return true;
        const uint64_t Limit = FNow + static_cast<uint64_t>(std::max(TimeoutMs, 0));
        if (!FPending.empty() && FPending.front().At <= Limit) {
            FNow = FPending.front().At;
            return true;
        }
        FNow = Limit;
        if (FRealClock && FPending.empty()) {
            // Real-clock callers get a time-out of 0: a real silence costs
            // a millisecond or two; otherwise end like an unplugged adapter.
            if (!FRealSilence) Gone();
            std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(TimeoutMs, 0, 3)));
        } else if (FRealClock) {
            FNow = FPending.front().At;  // no real waiting for scheduled bytes
            return true;
        }
        return false;
    }

private:
    struct TPiece {
        uint64_t At;
        uint8_t Byte;
    };
    void Check() {
        if (!FOpen) throw EComPort(CError_NotOpen);
    }
    [[noreturn]] void Gone() {
        FOpen = false;
        throw EComPort(CError_Disconnected);
    }

    TFuzzInput &FIn;
    bool FRealClock;
    bool FOpen = false;
    bool FRealSilence = false;
    uint64_t FNow = 1000;
    std::deque<TPiece> FPending;
    std::vector<uint8_t> FDelivered;
    std::vector<std::vector<uint8_t>> FRequests;
    std::vector<std::vector<uint8_t>> FHistory;
};
