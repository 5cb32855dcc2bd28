#pragma once
// Serial port over the POSIX terminal interface.
//
// The receive side never blocks: Read returns what is already waiting and
// InputCount reports how much that is. Receive loops that need to wait use
// WaitForInput, which sleeps in poll() until a byte arrives or the deadline
// passes, so a silent line costs no CPU.

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

    // Settings. Setting a value equal to the current one does nothing; a new
    // line setting on an open port is applied at once (error 7 on failure).
    const std::string &Port() const { return FPort; }
    void SetPort(const std::string &Value);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate Value);
    int CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(int Value);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits Value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits Value);
    const TComParity &Parity() const { return FParity; }
    void SetParity(const TComParity &Value);
    void SetParityBits(TParityBits Value);
    void SetParityCheck(bool Value);
    const TComFlowControl &FlowControl() const { return FFlowControl; }
    void SetControlDTR(TDTRFlowControl Value);
    void SetControlRTS(TRTSFlowControl Value);

    bool Connected() const override { return static_cast<bool>(FFd); }

    // Operations. Errors raise EComPort.
    void Open();
    void Close() override;
    int Write(const void *Buffer, int Count) override;
    int Read(void *Buffer, int Count) override;
    int InputCount();
    void ClearBuffer(bool Input, bool Output);
    // Blocks until received bytes are waiting or TimeoutMs has passed.
    // Returns true when input is waiting. A hang-up closes the port and
    // raises error 25; a stop request raises EInterrupted (the port stays
    // open for its owner to close).
    bool WaitForInput(int TimeoutMs) override;

    // The link's side: the settings above, applied in one step, then Open;
    // the error instead of raising it (the port is then closed). Clear
    // empties both queues.
    std::optional<EComPort> Open(const TLinkSettings &Settings) override;
    TLinkSettings Settings() const override;
    void Clear() override { ClearBuffer(true, true); }

    // What the driver granted at the last Open.
    bool Rs485Mode() const { return FRs485; }
    bool LowLatency() const { return FLowLatency; }
    // Whether the open port was taken for a pseudo-terminal (no driver with
    // a line behind it: nothing to drain).
    bool PseudoTerminal() const { return FPseudoTerminal; }
    int Handle() const { return FFd.get(); }
    // The device path opened for Port: names without a slash live in /dev.
    static std::string DevicePath(const std::string &Port);

private:
    // Raised after closing: the device has gone.
    [[noreturn]] void Disconnected();
    // Bytes written but not yet sent by the driver (0 when it cannot tell).
    // Write waits for this to reach 0, within its own deadline.
    int OutputQueued();
    template <typename T>
    void Change(T &Field, const T &Value);
    void ApplyLineSettings(bool Opening);
    void ApplyModemLines();
    void TryRs485();
    void TryLowLatency();
    void RestoreRs485();
    void RestoreLowLatency();
    bool IsGone(int Err) const;
    // Gives exclusivity and the lock up and closes the device.
    void Release();

    std::string FPort;
    TBaudRate FBaudRate = br9600;
    int FCustomBaudRate = 9600;
    TDataBits FDataBits = dbEight;
    TStopBits FStopBits = sbOneStopBit;
    TComParity FParity;
    TComFlowControl FFlowControl;

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
