#pragma once
// A serial port without a device, for link logic tests: a responder
// decides what "arrives" after each write and when, on a fake clock that
// only moves while the link waits.

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "bootloader/CRC8.h"
#include "bootloader/XComm.h"
#include "serial/ComPort.h"

struct TChunk {
    uint64_t DelayMs;  // after the write that caused it
    TByteArray Bytes;
};

class TFakePort : public TComPort {
public:
    using TResponder = std::function<std::vector<TChunk>(const TByteArray &Request)>;

    uint64_t Clock = 1000000;
    TResponder Responder;
    std::vector<TByteArray> Sent;        // every request written
    std::vector<TBaudRate> SentAt;       // bit rate at each write
    std::vector<int> FirstWait;          // first WaitForInput argument after each write (-1: none)
    int ShortWrite = 0;                  // bytes the next writes fall short by
    bool FailOpen = false;
    int Opens = 0;
    int DisconnectAtWrite = -1;          // the wait after this write (1-based) finds the device gone

    bool Connected() const override { return FOpen; }
    void Open() override {
        if (FOpen) return;
        if (FailOpen) throw EComPort(CError_OpenFailed, 2);
        FOpen = true;
        ++Opens;
    }
    void Close() override {
        FOpen = false;
        FIn.clear();
    }
    int Write(const void *Buffer, int Count) override {
        if (!FOpen) throw EComPort(CError_NotOpen);
        const auto *P = static_cast<const uint8_t *>(Buffer);
        TByteArray Req(P, P + Count);
        Sent.push_back(Req);
        SentAt.push_back(BaudRate());
        FirstWait.push_back(-1);
        if (Responder && ShortWrite == 0)
            for (const auto &C : Responder(Req))
                for (uint8_t B : C.Bytes) FIn.push_back({Clock + C.DelayMs, B});
        return Count - ShortWrite;
    }
    int InputCount() override {
        if (!FOpen) throw EComPort(CError_NotOpen);
        int N = 0;
        for (const auto &B : FIn) {
            if (B.At > Clock) break;
            ++N;
        }
        return N;
    }
    int Read(void *Buffer, int Count) override {
        if (!FOpen) throw EComPort(CError_NotOpen);
        if (Count < 1 || InputCount() == 0) return 0;
        *static_cast<uint8_t *>(Buffer) = FIn.front().Byte;
        FIn.pop_front();
        return 1;
    }
    void ClearBuffer(bool, bool) override {
        if (!FOpen) throw EComPort(CError_NotOpen);
        FIn.clear();
    }
    bool WaitForInput(int TimeoutMs) override {
        if (!FOpen) throw EComPort(CError_NotOpen);
        if (!FirstWait.empty() && FirstWait.back() < 0) FirstWait.back() = TimeoutMs;
        if (InputCount() > 0) return true;
        if (DisconnectAtWrite > 0 && static_cast<int>(Sent.size()) >= DisconnectAtWrite) {
            FOpen = false;
            FIn.clear();
            throw EComPort(CError_Disconnected);
        }
        if (!FIn.empty() && FIn.front().At <= Clock + static_cast<uint64_t>(TimeoutMs)) {
            Clock = FIn.front().At;
            return true;
        }
        Clock += static_cast<uint64_t>(TimeoutMs);
        return false;
    }

private:
    struct TByteAt {
        uint64_t At;
        uint8_t Byte;
    };
    bool FOpen = false;
    std::deque<TByteAt> FIn;
};

// A reply packet as a bootloader sends it.
inline TByteArray MakeReply(uint8_t Command, const TByteArray &Payload) {
    TByteArray R;
    R.reserve(Payload.size() + 4);
    R.push_back(0xF5);
    R.push_back(static_cast<uint8_t>(Payload.size() + 3));
    R.push_back(static_cast<uint8_t>(Command | 0x80));
    for (uint8_t B : Payload) R.push_back(B);
    R.push_back(CalcCRC8(R, 1, R.size() - 1));
    return R;
}
