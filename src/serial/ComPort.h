#pragma once
// Serial port over the POSIX terminal interface: the link (Link.h) to a
// local device, opened with its settings in one step.
//
// The receive side never blocks: Read returns what is already waiting.
// Receive loops that need to wait use WaitForInput, which sleeps in poll()
// until a byte arrives or the deadline passes, so a silent line costs no
// CPU.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "serial/LineTypes.h"
#include "serial/Link.h"
#include "serial/UniqueFd.h"

// A write may take CWriteDeadlineMs plus CWriteMsPerByte per byte until
// the driver has sent it.
constexpr int CWriteDeadlineMs = 1000;
constexpr int CWriteMsPerByte = 100;

class TComPort final : public TLink {
public:
    // What the driver still holds of the bytes written; by default the
    // driver's count (TIOCOUTQ). Tests pass one that never reaches 0 to play
    // a stalled transmitter.
    using TOutputQueue = std::function<int()>;
    explicit TComPort(TOutputQueue OutputQueue = {});
    ~TComPort() override;
    TComPort(const TComPort &) = delete;
    TComPort &operator=(const TComPort &) = delete;

    // Opens the device Settings.Port names (exclusively: flock and
    // TIOCEXCL) and applies the line settings in one step. On an open port
    // the same settings change nothing, another device closes this one and
    // opens that, and new line settings are applied at once. Empty on
    // success, else why not (the port is then closed): error 1 when the
    // device does not open or is held, 7 when the driver refuses the line
    // settings.
    std::optional<EComPort> Open(const TLinkSettings &Settings) override;
    void Close() override;
    bool Connected() const override { return static_cast<bool>(FFd); }
    TLinkSettings Settings() const override { return FSettings; }

    // Write, Read, WaitForInput and Clear raise EComPort: error 24 on a
    // closed port, 25 when the device has gone (the port is then closed).
    int Write(const void *Buffer, int Count) override;
    int Read(void *Buffer, int Count) override;
    // Blocks until received bytes are waiting or TimeoutMs has passed.
    // Returns true when input is waiting. A hang-up closes the port and
    // raises error 25; a stop request raises EInterrupted (the port stays
    // open for its owner to close).
    bool WaitForInput(int TimeoutMs) override;
    // Empties both queues.
    void Clear() override;

    // What the driver granted at the last Open.
    bool Rs485Mode() const { return FRs485; }
    bool LowLatency() const { return FLowLatency; }
    // Whether the open port was taken for a pseudo-terminal (no driver with
    // a line behind it: nothing to drain).
    bool PseudoTerminal() const { return FPseudoTerminal; }
    // The open port's descriptor, -1 while closed.
    int Handle() const { return FFd.get(); }
    // The device path opened for Port: names without a slash live in /dev.
    static std::string DevicePath(const std::string &Port);

private:
    // Raised after closing: the device has gone.
    [[noreturn]] void Disconnected();
    // Bytes written but not yet sent by the driver (0 when it cannot tell).
    // Write waits for this to reach 0, within its own deadline.
    int OutputQueued();
    // Opens the device FSettings.Port names and applies the settings;
    // raises EComPort.
    void OpenDevice();
    void ApplyLineSettings(bool Opening);
    void ApplyModemLines();
    void TryRs485();
    void TryLowLatency();
    void RestoreRs485();
    void RestoreLowLatency();
    bool IsGone(int Err) const;
    // Gives exclusivity and the lock up and closes the device.
    void Release();

    TLinkSettings FSettings;  // ParityCheck always set

    TOutputQueue FOutputQueue;
    TUniqueFd FFd;
    bool FRs485 = false;
    bool FLowLatency = false;
    bool FPseudoTerminal = false;  // no transmitter to drain
    bool FPtyDriver = false;       // the pty driver serves it: no parity
    // Driver modes as Open found them, while Open has changed them: the
    // RS-485 flags and RTS delays, and whether low latency was off.
    bool FRs485Changed = false;
    std::array<uint32_t, 3> FRs485Found{};
    bool FLowLatencyChanged = false;
};
