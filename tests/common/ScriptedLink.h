#pragma once
// A serial line without a device, for the protocol tests, the fault
// simulations and the fuzzers. A responder decides what "arrives" after
// each request and when; the bytes come in order of arrival on a virtual
// clock that moves only while the protocol waits or pauses. The line is its
// own clock: hand it to the protocol (SetClock) and every deadline runs on
// it, so a whole upload takes microseconds.
//
// Header only: the fuzzers include it without the test support library.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "serial/Clock.h"
#include "serial/Link.h"

struct TChunk {
    uint64_t DelayMs;  // after the write that caused it
    std::vector<uint8_t> Bytes;
};

class TScriptedLink : public TLink, public TClock {
public:
    using TResponder = std::function<std::vector<TChunk>(const std::vector<uint8_t> &Request)>;
    using TOpenHook = std::function<std::optional<EComPort>(const TLinkSettings &Settings)>;

    // --- The script -----------------------------------------------------
    TResponder Responder;        // none: the line stays silent
    TOpenHook OnOpen;            // may refuse an Open with its error
    bool FailOpen = false;       // every Open fails as a missing device does
    int ShortWrite = 0;          // every write falls short by so many bytes; nothing answers it
    int ShortOnce = 0;           // set by a responder: this write falls short by so many bytes
    int DisconnectAtWrite = -1;  // waiting after this write (1-based) finds the device gone

    // --- What happened ----------------------------------------------------
    uint64_t Clock = 1000000;                // virtual milliseconds
    std::vector<std::vector<uint8_t>> Sent;  // every request written
    std::vector<TBaudRate> SentAt;           // bit rate at each write
    std::vector<int> FirstWait;     // first WaitForInput argument after each write (-1: none)
    std::vector<uint32_t> Pauses;   // every pause asked for
    int Opens = 0;                  // successful opens of a closed line
    int Waits = 0;                  // WaitForInput calls
    int MaxReadAsked = 0;           // largest count asked of Read
    std::vector<size_t> ClearedAt;  // each purge: how many requests had been written

    // Everything Read handed out since the last write, and after request I.
    const std::vector<uint8_t> &Delivered() const { return FDelivered; }
    const std::vector<uint8_t> &DeliveredAfter(size_t I) const {
        return I < FHistory.size() ? FHistory[I] : FDelivered;
    }
    // Bytes due now or later that nobody has read.
    size_t Pending() const { return FIn.size(); }

    // Puts Bytes on the line, arriving DelayMs from now.
    void Schedule(uint64_t DelayMs, const std::vector<uint8_t> &Bytes) {
        const uint64_t At = Clock + DelayMs;
        // After every byte due at the same time or earlier: arrival order.
        auto Pos = std::upper_bound(FIn.begin(), FIn.end(), At,
                                    [](uint64_t T, const TByteAt &B) { return T < B.At; });
        std::vector<TByteAt> New;
        for (uint8_t B : Bytes) New.push_back({At, B});
        FIn.insert(Pos, New.begin(), New.end());
    }
    // The adapter is pulled out: the operation under way (a responder's
    // write) fails with error 25, and the line no longer opens.
    void Unplug() {
        FUnplugged = true;
        FHangUpNow = true;
    }
    // The line hangs up once: the write under way fails with error 25; it
    // may be opened again.
    void HangUp() { FHangUpNow = true; }
    bool Unplugged() const { return FUnplugged; }

    // --- TClock ------------------------------------------------------------
    uint64_t Now() const override { return Clock; }
    void Pause(uint32_t Ms) override {
        Pauses.push_back(Ms);
        Clock += Ms;
    }
    void Advance(uint64_t Ms) { Clock += Ms; }

    // --- TLink -------------------------------------------------------------
    std::optional<EComPort> Open(const TLinkSettings &Settings) override {
        std::optional<EComPort> Error;
        if (OnOpen) Error = OnOpen(Settings);
        if (!Error && (FailOpen || FUnplugged)) Error = EComPort(CError_OpenFailed, 2);
        if (Error) {
            Close();
            return Error;
        }
        const std::optional<bool> Check =
            Settings.ParityCheck ? Settings.ParityCheck : FSettings.ParityCheck;
        FSettings = Settings;
        FSettings.ParityCheck = Check;
        if (!FOpen) ++Opens;
        FOpen = true;
        return std::nullopt;
    }
    void Close() override {
        FOpen = false;
        FIn.clear();
    }
    bool Connected() const override { return FOpen; }
    TLinkSettings Settings() const override { return FSettings; }

    int Write(const void *Buffer, int Count) override {
        CheckOpen();
        const auto *P = static_cast<const uint8_t *>(Buffer);
        std::vector<uint8_t> Request(P, P + std::max(Count, 0));
        if (!Sent.empty()) FHistory.push_back(FDelivered);
        FDelivered.clear();
        Sent.push_back(Request);
        SentAt.push_back(FSettings.BaudRate);
        FirstWait.push_back(-1);
        int Short = ShortWrite;
        if (Responder && Short == 0) {
            for (const TChunk &C : Responder(Request)) Schedule(C.DelayMs, C.Bytes);
            Short = std::exchange(ShortOnce, 0);
        }
        if (FHangUpNow) Gone();
        return std::max(Count - Short, 0);
    }
    int Read(void *Buffer, int Count) override {
        CheckOpen();
        MaxReadAsked = std::max(MaxReadAsked, Count);
        auto *P = static_cast<uint8_t *>(Buffer);
        int N = 0;
        while (N < Count && !FIn.empty() && FIn.front().At <= Clock) {
            P[N++] = FIn.front().Byte;
            FDelivered.push_back(FIn.front().Byte);
            FIn.pop_front();
        }
        return N;
    }
    bool WaitForInput(int TimeoutMs) override {
        CheckOpen();
        ++Waits;
        if (!FirstWait.empty() && FirstWait.back() < 0) FirstWait.back() = TimeoutMs;
        if (Due() > 0) return true;
        if (DisconnectAtWrite > 0 && static_cast<int>(Sent.size()) >= DisconnectAtWrite) Gone();
        const uint64_t Limit = Clock + static_cast<uint64_t>(std::max(TimeoutMs, 0));
        if (!FIn.empty() && FIn.front().At <= Limit) {
            Clock = FIn.front().At;
            return true;
        }
        Clock = Limit;
        return false;
    }
    void Clear() override {
        CheckOpen();
        ClearedAt.push_back(Sent.size());
        // Bytes still on their way arrive after the purge, as on a real line.
        while (!FIn.empty() && FIn.front().At <= Clock) FIn.pop_front();
    }

private:
    struct TByteAt {
        uint64_t At;
        uint8_t Byte;
    };
    void CheckOpen() const {
        if (!FOpen) throw EComPort(CError_NotOpen);
    }
    size_t Due() const {
        size_t N = 0;
        while (N < FIn.size() && FIn[N].At <= Clock) ++N;
        return N;
    }
    [[noreturn]] void Gone() {
        FHangUpNow = false;
        Close();
        throw EComPort(CError_Disconnected);
    }

    bool FOpen = false;
    bool FUnplugged = false;
    bool FHangUpNow = false;
    TLinkSettings FSettings;
    std::deque<TByteAt> FIn;  // in order of arrival
    std::vector<uint8_t> FDelivered;
    std::vector<std::vector<uint8_t>> FHistory;
};

// Settings of a line opened directly at Rate (tests that skip the
// protocol's own Open).
inline TLinkSettings LinkAt(TBaudRate Rate, const std::string &Port = "fake") {
    TLinkSettings S;
    S.Port = Port;
    S.BaudRate = Rate;
    return S;
}
