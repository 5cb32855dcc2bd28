#pragma once
// Modbus master over a link it is given: RTU frames on a serial line (or a
// network serial server), or Modbus TCP to a gateway on a plain socket. The
// requests and answers are PDUs (ModbusPdu.h); a framing (ModbusFraming.h)
// carries them, and one transaction routine runs either. ModbusLine.h makes
// the link and the framing a port name calls for.
//
// Every operation is a blocking request/answer exchange that reports
// success or failure; LastFailure then says why the last one failed. The
// device address comes with each request, so one
// master serves a whole line (a scan asks every address through it); the
// calls without one use the default address given at creation. Arrays
// passed by reference are sized by the caller and written only when the
// answer passed every check. Errors of the link raised during an operation
// (EComPort) reach the caller; Open hands its error back instead.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "modbus/ModbusFailure.h"
#include "modbus/ModbusFraming.h"
#include "modbus/ModbusPdu.h"
#include "serial/Clock.h"
#include "serial/LineTypes.h"
#include "serial/Link.h"

// Line settings handed to TModbusRTU::Open.
struct TPortParams {
    TBaudRate BaudRate = br19200;
    TParityBits ParityBits = prNone;
    TStopBits StopBits = sbOneStopBit;
    int Timeout = 1000;  // receive time-out in ms: longest silence tolerated
};

// How the master's PDUs are framed on its link.
enum class TModbusFramingKind { Rtu, Tcp };

class TModbusRTU {
public:
    // A master on Link, which must outlive it; DeviceAddr is the default
    // address.
    explicit TModbusRTU(TLink &Link, uint8_t DeviceAddr = 1,
                        TModbusFramingKind Framing = TModbusFramingKind::Rtu);
    ~TModbusRTU();
    TModbusRTU(const TModbusRTU &) = delete;
    TModbusRTU &operator=(const TModbusRTU &) = delete;

    // Closes the link, then opens it for Port with the settings (8 data
    // bits, RTS toggling the RS-485 transmitter, DTR on; a gateway's socket
    // takes none of them). False (link closed) when it cannot be opened;
    // OpenError then says why.
    bool Open(const std::string &Port, const TPortParams &Params);
    // Switches the open line to the settings in place, without closing it:
    // the port stays held, and no open or close is paid for the change
    // (a line search tries many settings). Opens it when it is closed.
    // False when the line refuses them (it is then closed); OpenError says
    // why.
    bool ChangeSettings(const TPortParams &Params);
    // Why the last Open failed (empty after a successful one).
    const std::optional<EComPort> &OpenError() const { return FOpenError; }
    void Close();

    // Presence probe: reads one holding register at Address of Device and
    // is true when any 7 bytes arrive in time, whatever they hold.
    bool Scan(uint8_t Device, uint16_t Address);
    // Function 0x02; quantity = Bits.size().
    bool ReadDiscreteInputs(uint8_t Device, uint16_t Register, TModbusBits &Bits);
    // Function 0x03; quantity = Regs.size() (128 or more never succeeds).
    bool ReadHoldingRegs(uint8_t Device, uint16_t Register, TModbusRegisters &Regs);
    // Function 0x06; true on a matching echo.
    bool WriteHoldingReg(uint8_t Device, uint16_t Register, uint16_t Value);
    // Function 0x10; more than 127 registers cannot be framed: false, nothing sent.
    bool WriteHoldingRegs(uint8_t Device, uint16_t Register, const TModbusRegisters &Regs);

    // The same with the default address.
    bool Scan(uint16_t Address) { return Scan(FDeviceAddr, Address); }
    bool ReadDiscreteInputs(uint16_t Register, TModbusBits &Bits) {
        return ReadDiscreteInputs(FDeviceAddr, Register, Bits);
    }
    bool ReadHoldingRegs(uint16_t Register, TModbusRegisters &Regs) {
        return ReadHoldingRegs(FDeviceAddr, Register, Regs);
    }
    bool WriteHoldingReg(uint16_t Register, uint16_t Value) {
        return WriteHoldingReg(FDeviceAddr, Register, Value);
    }
    bool WriteHoldingRegs(uint16_t Register, const TModbusRegisters &Regs) {
        return WriteHoldingRegs(FDeviceAddr, Register, Regs);
    }

    // Why the last operation failed (Kind None after a success); an
    // operation that raised leaves it as it was before.
    const TModbusFailureInfo &LastFailure() const { return FLastFailure; }

    uint8_t DeviceAddr() const { return FDeviceAddr; }
    uint32_t Timeout() const { return FTimeout; }
    // The clock of the receive time-out (the system's by default); it must
    // outlive the master.
    void SetClock(TClock &Clock) { FClock = &Clock; }
    TLink &Link() { return FLink; }
    // The framing of the requests.
    void SetFraming(TModbusFramingKind Kind);
    TModbusFramingKind Framing() const { return FFramingKind; }
    // Work done while an answer is on its way: called in every exchange
    // right after the request went out, before the wait for the answer (a
    // caller that reads back to back reports its last round there). What
    // it raises leaves the exchange; empty: nothing.
    void SetOnRequestSent(std::function<void()> Hook) { FOnRequestSent = std::move(Hook); }
    // Reads back to back (the watch): the purge that begins an exchange is
    // left out when it could only find empty queues: the last exchange got
    // a whole, intact answer from the device asked, the read that completed it
    // found nothing queued behind it, and this request follows within the
    // silence that ends a frame (QuietWindowMs on the master's clock).
    // Every other exchange purges. Off by default.
    void SetBackToBack(bool On);
    static constexpr uint64_t QuietWindowMs = 1;

private:
    // What one exchange brought back.
    struct TAnswer {
        // AnyAnswer: an answer of the expected length came, whatever it holds.
        bool Arrived = false;
        // Otherwise the PDU of a normal answer; empty when there was none.
        std::span<const uint8_t> Pdu;
    };
    // One exchange of Pdu with Device, expecting AnswerPduLen bytes of PDU.
    // Sets FLastFailure from what came back.
    TAnswer Transaction(uint8_t Device, const TPdu &Pdu, size_t AnswerPduLen, bool AnyAnswer);
    // Ends an operation: Ok, or the answer's own fields failed (Why).
    bool Result(bool Ok, TModbusFailure Why);
    // The link settings of Params on Port (8 data bits, RTS toggling, DTR
    // on); takes Params' time-out.
    TLinkSettings LinkSettingsOf(const std::string &Port, const TPortParams &Params);

    TLink &FLink;
    std::unique_ptr<TModbusFraming> FFraming;
    TModbusFramingKind FFramingKind;
    std::string FPort;  // as given to Open (the trace names it)
    uint8_t FDeviceAddr;
    uint32_t FTimeout = 0;
    TClock *FClock = &SystemClock();
    std::optional<EComPort> FOpenError;
    TModbusFailureInfo FLastFailure;
    std::function<void()> FOnRequestSent;
    bool FBackToBack = false;
    // When the last exchange ended with the line quiet (back to back only).
    std::optional<uint64_t> FQuietAt;
};
