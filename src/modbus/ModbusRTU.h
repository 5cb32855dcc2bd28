#pragma once
// Modbus RTU master: one device address over one serial port it owns.
//
// Every operation is a blocking request/answer exchange that reports only
// success or failure. Arrays passed by reference are sized by the caller and
// written only when the answer passed every check. Errors of the serial port
// raised during an operation (EComPort) reach the caller; Open swallows them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/ComPort.h"

// Line settings handed to TModbusRTU::Open.
struct TPortParams {
    TBaudRate BaudRate = br19200;
    TParityBits ParityBits = prNone;
    TStopBits StopBits = sbOneStopBit;
    int Timeout = 1000;  // receive time-out in ms: longest silence tolerated
};

using TModbusRegisters = std::vector<uint16_t>;
using TModbusBits = std::vector<bool>;

class TModbusRTU {
public:
    explicit TModbusRTU(uint8_t DeviceAddr);
    // For tests: a substitute port object (a fake or an instrumented TComPort).
    TModbusRTU(uint8_t DeviceAddr, std::unique_ptr<TComPort> Port);
    ~TModbusRTU();
    TModbusRTU(const TModbusRTU &) = delete;
    TModbusRTU &operator=(const TModbusRTU &) = delete;

    // Closes the port, applies the settings and opens it again. False (port
    // closed) when the port cannot be opened.
    bool Open(const std::string &Port, const TPortParams &Params);
    // Why the last Open failed (empty after a successful one).
    const std::optional<EComPort> &OpenError() const { return FOpenError; }
    void Close();

    // Presence probe: reads one holding register at Address and is true when
    // any 7 bytes arrive in time, whatever they hold.
    bool Scan(uint16_t Address);
    // Function 0x02; quantity = Bits.size().
    bool ReadDiscreteInputs(uint16_t Register, TModbusBits &Bits);
    // Function 0x03; quantity = Regs.size() (128 or more never succeeds).
    bool ReadHoldingRegs(uint16_t Register, TModbusRegisters &Regs);
    // Function 0x06; true on a matching echo.
    bool WriteHoldingReg(uint16_t Register, uint16_t Value);
    // Function 0x10; more than 127 registers cannot be framed: false, nothing sent.
    bool WriteHoldingRegs(uint16_t Register, const TModbusRegisters &Regs);

    uint8_t DeviceAddr() const { return FDeviceAddr; }
    uint32_t Timeout() const { return FTimeout; }
    TComPort &ComPort() { return *FComPort; }

private:
    bool Transaction(const std::vector<uint8_t> &Request, size_t AnswerLen, bool AnyAnswer,
                     std::vector<uint8_t> &Answer);

    std::unique_ptr<TComPort> FComPort;
    uint8_t FDeviceAddr;
    uint32_t FTimeout = 0;
    std::optional<EComPort> FOpenError;
};
