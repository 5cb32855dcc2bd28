// Modbus RTU master over TComPort.
#include "modbus/ModbusRTU.h"

#include <algorithm>
#include <climits>

#include "modbus/ModbusFrame.h"
#include "serial/FrameTrace.h"

using namespace ModbusFrame;

TModbusRTU::TModbusRTU(uint8_t DeviceAddr)
    : TModbusRTU(DeviceAddr, std::make_unique<TComPort>()) {}

TModbusRTU::TModbusRTU(uint8_t DeviceAddr, std::unique_ptr<TComPort> Port)
    : FComPort(std::move(Port)), FDeviceAddr(DeviceAddr) {}

TModbusRTU::~TModbusRTU() {
    try {
        Close();
    } catch (...) {
        // Nothing sensible to do with a failing close while being freed.
    }
}

bool TModbusRTU::Open(const std::string &Port, const TPortParams &Params) {
    FOpenError.reset();
    try {
        Close();
        FComPort->SetPort(Port);
        FComPort->SetDataBits(dbEight);
        FComPort->SetParityBits(Params.ParityBits);
        if (Params.ParityBits != prNone) FComPort->SetParityCheck(true);
        FComPort->SetStopBits(Params.StopBits);
        FComPort->SetBaudRate(Params.BaudRate);
        FComPort->SetControlRTS(rtsToggle);
        FComPort->SetControlDTR(dtrEnable);
        // A negative time-out would turn into a wait of weeks as unsigned.
        FTimeout = static_cast<uint32_t>(std::max(Params.Timeout, 0));
        FComPort->Open();
        if (FComPort->Connected()) return true;
        FComPort->Close();
    } catch (const EComPort &E) {
        FOpenError = E;
        try {
            FComPort->Close();
        } catch (const EComPort &) {
        }
    }
    return false;
}

void TModbusRTU::Close() {
    if (FComPort->Connected()) FComPort->Close();
}

// One exchange: purge, write, collect up to AnswerLen bytes while the line is
// not silent for longer than FTimeout. Unless AnyAnswer, the wait ends early
// once the bytes can no longer form a valid answer, and the answer is checked.
bool TModbusRTU::Transaction(const std::vector<uint8_t> &Request, size_t AnswerLen,
                             bool AnyAnswer, std::vector<uint8_t> &Answer) {
    const uint8_t Function = Request[1];
    Answer.assign(AnswerLen, 0);
    size_t Got = 0;

    FComPort->ClearBuffer(true, true);
    const int Written = FComPort->Write(Request.data(), static_cast<int>(Request.size()));
    if (FrameTraceEnabled()) TraceFrame(FComPort->Port(), TTraceDir::Tx, Request.data(), Request.size());

    if (Written == static_cast<int>(Request.size())) {
        uint64_t Deadline = GetTickCount64() + FTimeout;
        for (;;) {
            // Sleeps in poll() until bytes wait or just past the deadline;
            // looks at the port at least once even when the time is up.
            const uint64_t Now = GetTickCount64();
            const uint64_t Left = Now > Deadline ? 0 : Deadline - Now + 1;
            if (FComPort->WaitForInput(static_cast<int>(std::min<uint64_t>(Left, INT_MAX)))) {
                // Never more than the answer: later bytes stay for the next purge.
                const int Want = static_cast<int>(std::min<size_t>(AnswerLen - Got, INT_MAX));
                const int N = FComPort->Read(Answer.data() + Got, Want);
                if (N > 0) {
                    Got += static_cast<size_t>(N);
                    Deadline = GetTickCount64() + FTimeout;
                }
            }
            if (Got >= AnswerLen) break;
            if (!AnyAnswer && !CanStillPass(Answer.data(), Got, FDeviceAddr, Function)) break;
            if (GetTickCount64() > Deadline) break;
        }
    }
    if (FrameTraceEnabled()) TraceFrame(FComPort->Port(), TTraceDir::Rx, Answer.data(), Got);

    if (AnyAnswer) return Got == AnswerLen;
    return CheckAnswer(Answer.data(), Got, AnswerLen, FDeviceAddr, Function);
}

bool TModbusRTU::Scan(uint16_t Address) {
    std::vector<uint8_t> Answer;
    return Transaction(BuildRequest(FDeviceAddr, FnReadHoldingRegs, Address, 1),
                       ReadRegsAnswerLength(1), true, Answer);
}

bool TModbusRTU::ReadDiscreteInputs(uint16_t Register, TModbusBits &Bits) {
    if (Bits.empty()) return true;
    const size_t Q = Bits.size();
    const size_t K = (Q + 7) / 8;
    std::vector<uint8_t> Answer;
    if (!Transaction(BuildRequest(FDeviceAddr, FnReadDiscreteInputs, Register,
                                  static_cast<uint16_t>(Q)),
                     ReadBitsAnswerLength(Q), false, Answer))
        return false;
    if (Answer[2] != K) return false;
    for (size_t k = 0; k < Q; ++k) Bits[k] = (Answer[3 + k / 8] >> (k % 8)) & 1;
    return true;
}

bool TModbusRTU::ReadHoldingRegs(uint16_t Register, TModbusRegisters &Regs) {
    if (Regs.empty()) return true;
    const size_t N = Regs.size();
    std::vector<uint8_t> Answer;
    if (!Transaction(BuildRequest(FDeviceAddr, FnReadHoldingRegs, Register,
                                  static_cast<uint16_t>(N)),
                     ReadRegsAnswerLength(N), false, Answer))
        return false;
    if (Answer[2] != 2 * N) return false;
    for (size_t i = 0; i < N; ++i)
        Regs[i] = static_cast<uint16_t>(Answer[3 + 2 * i] << 8 | Answer[4 + 2 * i]);
    return true;
}

namespace {

bool EchoMatches(const std::vector<uint8_t> &Answer, uint16_t Field1, uint16_t Field2) {
    return (Answer[2] << 8 | Answer[3]) == Field1 && (Answer[4] << 8 | Answer[5]) == Field2;
}

}  // namespace

bool TModbusRTU::WriteHoldingReg(uint16_t Register, uint16_t Value) {
    std::vector<uint8_t> Answer;
    return Transaction(BuildRequest(FDeviceAddr, FnWriteHoldingReg, Register, Value),
                       WriteAnswerLength, false, Answer) &&
           EchoMatches(Answer, Register, Value);
}

bool TModbusRTU::WriteHoldingRegs(uint16_t Register, const TModbusRegisters &Regs) {
    if (Regs.empty()) return true;
    // The byte count is one byte: beyond 127 registers the frame would lie
    // about its own length.
    if (Regs.size() > 127) return false;
    std::vector<uint8_t> Answer;
    return Transaction(BuildWriteMultiple(FDeviceAddr, Register, Regs), WriteAnswerLength,
                       false, Answer) &&
           EchoMatches(Answer, Register, static_cast<uint16_t>(Regs.size()));
}
