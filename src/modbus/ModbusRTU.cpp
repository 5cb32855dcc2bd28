// Modbus RTU master over a serial link.
#include "modbus/ModbusRTU.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "modbus/ModbusTcpLink.h"
#include "serial/FrameTrace.h"
#include "serial/LinkFactory.h"

using namespace ModbusFrame;

TModbusRTU::TModbusRTU(uint8_t DeviceAddr) : TModbusRTU(DeviceAddr, nullptr) {}

TModbusRTU::TModbusRTU(uint8_t DeviceAddr, std::unique_ptr<TLink> Link)
    : FLink(std::move(Link)), FDeviceAddr(DeviceAddr) {
    if (!FLink) {
        FLink = MakeSerialLink();
        FOwnLink = true;
    }
}

TModbusRTU::~TModbusRTU() {
    try {
        Close();
    } catch (...) {
        // Nothing sensible to do with a failing close while being freed.
    }
}

bool TModbusRTU::Open(const std::string &Port, const TPortParams &Params) {
    FOpenError.reset();
    TLinkSettings S;
    S.Port = Port;
    S.DataBits = dbEight;
    S.Parity = Params.ParityBits;
    // For no parity the check stays as the line has it.
    if (Params.ParityBits != prNone) S.ParityCheck = true;
    S.StopBits = Params.StopBits;
    S.BaudRate = Params.BaudRate;
    S.ControlRTS = rtsToggle;
    S.ControlDTR = dtrEnable;
    // A negative time-out would turn into a wait of weeks as unsigned.
    FTimeout = static_cast<uint32_t>(std::max(Params.Timeout, 0));
    try {
        Close();
    } catch (const EComPort &E) {
        FOpenError = E;
        return false;
    }
    // Our own link follows the port name (a local device or a network URL).
    // A Modbus TCP gateway takes the frames without their CRC.
    if (FOwnLink) {
        if (TModbusTcpLink::IsModbusTcpPort(Port)) {
            if (!dynamic_cast<TModbusTcpLink *>(FLink.get()))
                FLink = std::make_unique<TModbusTcpLink>();
        } else if (!LinkFitsPort(*FLink, Port)) {
            FLink = MakeLink(Port);
        }
    }
    FOpenError = FLink->Open(S);
    return !FOpenError;
}

void TModbusRTU::Close() {
    if (FLink->Connected()) FLink->Close();
}

// One exchange: purge, write, collect up to AnswerLen bytes while the line is
// not silent for longer than FTimeout. Unless AnyAnswer, the wait ends early
// once the bytes can no longer form a valid answer from Device, and the
// answer is checked.
bool TModbusRTU::Transaction(uint8_t Device, const TFrame &Request, size_t AnswerLen,
                             bool AnyAnswer, TFrame &Answer) {
    const uint8_t Function = Request[1];
    Answer.assign(AnswerLen, 0);
    size_t Got = 0;

    FLink->Clear();
    const int Written = FLink->Write(Request.data(), static_cast<int>(Request.size()));
    const bool Trace = FrameTraceEnabled();
    const std::string PortName = Trace ? FLink->Settings().Port : std::string();
    if (Trace) TraceFrame(PortName, TTraceDir::Tx, Request.data(), Request.size());

    if (Written == static_cast<int>(Request.size())) {
        uint64_t Deadline = FClock->Now() + FTimeout;
        for (;;) {
            // Sleeps until bytes wait or just past the deadline.
            const uint64_t Now = FClock->Now();
            const uint64_t Left = Now > Deadline ? 0 : Deadline - Now + 1;
            if (FLink->WaitForInput(static_cast<int>(std::min<uint64_t>(Left, INT_MAX)))) {
                // Never more than the answer: later bytes stay for the next purge.
                const int Want = static_cast<int>(std::min<size_t>(AnswerLen - Got, INT_MAX));
                const int N = FLink->Read(Answer.data() + Got, Want);
                if (N > 0) {
                    Got += static_cast<size_t>(N);
                    Deadline = FClock->Now() + FTimeout;
                }
            }
            if (Got >= AnswerLen) break;
            if (!AnyAnswer && !CanStillPass(Answer.data(), Got, Device, Function)) break;
            if (FClock->Now() > Deadline) break;
        }
    }
    if (Trace) TraceFrame(PortName, TTraceDir::Rx, Answer.data(), Got);

    if (AnyAnswer) return Got == AnswerLen;
    return CheckAnswer(Answer.data(), Got, AnswerLen, Device, Function);
}

bool TModbusRTU::Scan(uint8_t Device, uint16_t Address) {
    TFrame Answer;
    return Transaction(Device, BuildRequest(Device, FnReadHoldingRegs, Address, 1),
                       ReadRegsAnswerLength(1), true, Answer);
}

bool TModbusRTU::ReadDiscreteInputs(uint8_t Device, uint16_t Register, TModbusBits &Bits) {
    if (Bits.empty()) return true;
    const size_t Q = Bits.size();
    TFrame Answer;
    if (!Transaction(Device,
                     BuildRequest(Device, FnReadDiscreteInputs, Register, static_cast<uint16_t>(Q)),
                     ReadBitsAnswerLength(Q), false, Answer))
        return false;
    return ParseReadBits(Answer.data(), Answer.size(), Bits);
}

bool TModbusRTU::ReadHoldingRegs(uint8_t Device, uint16_t Register, TModbusRegisters &Regs) {
    if (Regs.empty()) return true;
    const size_t N = Regs.size();
    TFrame Answer;
    if (!Transaction(Device,
                     BuildRequest(Device, FnReadHoldingRegs, Register, static_cast<uint16_t>(N)),
                     ReadRegsAnswerLength(N), false, Answer))
        return false;
    return ParseReadRegs(Answer.data(), Answer.size(), Regs);
}

bool TModbusRTU::WriteHoldingReg(uint8_t Device, uint16_t Register, uint16_t Value) {
    TFrame Answer;
    return Transaction(Device, BuildRequest(Device, FnWriteHoldingReg, Register, Value),
                       WriteAnswerLength, false, Answer) &&
           CheckWriteEcho(Answer.data(), Answer.size(), Register, Value);
}

bool TModbusRTU::WriteHoldingRegs(uint8_t Device, uint16_t Register, const TModbusRegisters &Regs) {
    if (Regs.empty()) return true;
    // The byte count is one byte: beyond 127 registers the frame would lie
    // about its own length.
    if (Regs.size() > 127) return false;
    TFrame Answer;
    return Transaction(Device, BuildWriteMultiple(Device, Register, Regs), WriteAnswerLength, false,
                       Answer) &&
           CheckWriteEcho(Answer.data(), Answer.size(), Register,
                          static_cast<uint16_t>(Regs.size()));
}
