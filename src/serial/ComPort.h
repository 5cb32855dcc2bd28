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
#include <optional>
#include <string>

#include "serial/LineTypes.h"
#include "serial/Link.h"
#include "serial/UniqueFd.h"

TBaudRate BaudRateFromText(const std::string &Text);
TStopBits StopBitsFromText(const std::string &Text);
TParityBits ParityFromText(const std::string &Text);
// Bit rate of a setting; CustomRate for brCustom.
int BaudRateToInt(TBaudRate Rate, int CustomRate = 9600);
const char *BaudRateText(TBaudRate Rate);
const char *StopBitsText(TStopBits Bits);
const char *ParityText(TParityBits Bits);

// Monotonic millisecond tick, 64 bits wide (never wraps in practice).
uint64_t GetTickCount64();

class TComPort : public TLink {
public:
    TComPort();
    virtual ~TComPort();
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
    void SetFlowControl(const TComFlowControl &Value);
    void SetControlDTR(TDTRFlowControl Value);
    void SetControlRTS(TRTSFlowControl Value);
    const TComTimeouts &Timeouts() const { return FTimeouts; }
    const TComBuffer &Buffer() const { return FBuffer; }
    bool DiscardNull() const { return FDiscardNull; }
    char EofChar() const { return FEofChar; }
    char EventChar() const { return FEventChar; }

    bool Connected() const override { return static_cast<bool>(FFd); }

    // Operations. Errors raise EComPort.
    virtual void Open();
    void Close() override;
    int Write(const void *Buffer, int Count) override;
    int Read(void *Buffer, int Count) override;
    virtual int InputCount();
    virtual void ClearBuffer(bool Input, bool Output);
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

protected:
    // Raised after closing: the device has gone.
    [[noreturn]] void Disconnected();
    // Bytes written but not yet sent by the driver (0 when it cannot tell).
    // Write waits for this to reach 0, within its own deadline.
    virtual int OutputQueued();

private:
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

    std::string FPort = "COM1";
    TBaudRate FBaudRate = br9600;
    int FCustomBaudRate = 9600;
    TDataBits FDataBits = dbEight;
    TStopBits FStopBits = sbOneStopBit;
    TComParity FParity;
    TComFlowControl FFlowControl;
    TComTimeouts FTimeouts;
    TComBuffer FBuffer;
    bool FDiscardNull = false;
    char FEofChar = 0;
    char FEventChar = 0;

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
