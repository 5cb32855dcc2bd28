// Modbus answers from an arbitrary line: the master's five operations over
// the RTU framing and the pure checks (RTU frame, PDU), each judged against
// a reference of the frame rules; the same operations over the TCP framing,
// which must stay within the request's answer and leave the output alone
// unless it succeeds.
#include <memory>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzPort.h"
#include "modbus/ModbusFrame.h"
#include "modbus/ModbusPdu.h"
#include "modbus/ModbusRTU.h"

namespace {

// Common checks of an answer of length L from Device for Function.
bool RefAnswer(const std::vector<uint8_t> &A, size_t L, uint8_t Device, uint8_t Function) {
    return A.size() == L && L >= 4 && A[0] == Device && !(A[1] & 0x80) &&
           (A[1] & 0x7F) == Function && RefCrc16Ok(A.data(), L);
}

uint16_t Be16(const std::vector<uint8_t> &A, size_t i) {
    return static_cast<uint16_t>(A[i] << 8 | A[i + 1]);
}

// The operations over the TCP framing: an answer is taken only whole, so
// outputs change only on success, and every request is one MBAP frame.
void RunTcp(TModbusRTU &M, TFuzzPort &Port, uint8_t Op, uint16_t Reg, size_t Quantity,
            TFuzzInput &In) {
    TModbusRegisters Regs(Quantity, 0xBEEF);
    TModbusBits Bits(Quantity * 3, true);
    bool Ok = false;
    switch (Op) {
        case 0:
            M.Scan(Reg);
            break;
        case 1:
            Ok = M.ReadHoldingRegs(Reg, Regs);
            break;
        case 2:
            Ok = M.ReadDiscreteInputs(Reg, Bits);
            break;
        case 3:
            M.WriteHoldingReg(Reg, In.Word());
            break;
        default: {
            for (auto &r : Regs) r = In.Word();
            M.WriteHoldingRegs(Reg, Regs);
            break;
        }
    }
    if (!Ok && Op == 1)
        for (uint16_t R : Regs) FUZZ_REQUIRE(R == 0xBEEF);
    if (!Ok && Op == 2)
        for (bool B : Bits) FUZZ_REQUIRE(B);
    for (const auto &Request : Port.Requests()) {
        FUZZ_REQUIRE(Request.size() >= 8);
        FUZZ_REQUIRE(Request[2] == 0 && Request[3] == 0);
        FUZZ_REQUIRE(static_cast<size_t>(Request[4] << 8 | Request[5]) == Request.size() - 6);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    // The pure check on the raw input first.
    if (Size >= 3) {
        const std::vector<uint8_t> A(Data + 2, Data + Size);
        const bool Ok =
            ModbusFrame::CheckAnswer(A.data(), A.size(), A.size(), Data[0], Data[1] & 0x7F);
        FUZZ_REQUIRE(Ok == RefAnswer(A, A.size(), Data[0], Data[1] & 0x7F));
        // The PDU alone: a normal answer, an exception, or neither.
        const uint8_t Function = Data[1] & 0x7F;
        const size_t Expected = Data[0];
        const auto Kind = ModbusPdu::CheckAnswer(A.data(), A.size(), Expected, Function);
        using ModbusPdu::TAnswerKind;
        const bool Normal = !A.empty() && A[0] == Function && A.size() == Expected;
        const bool Exception = A.size() == 2 && A[0] == (Function | 0x80);
        FUZZ_REQUIRE((Kind == TAnswerKind::Normal) == Normal);
        FUZZ_REQUIRE((Kind == TAnswerKind::Exception) == Exception);
    }

    TFuzzInput In(Data, Size);
    const uint8_t OpByte = In.Byte();
    const uint8_t Op = OpByte % 5;
    const bool Tcp = OpByte & 0x80;
    // Back to back, the RTU framing reads past the answer and drops what
    // it finds there: the answer is the first bytes delivered.
    const bool BackToBack = OpByte & 0x40;
    const uint8_t Device = In.Byte();
    const uint16_t Reg = In.Word();
    const size_t Quantity = In.Byte() % 140;  // beyond 127 on purpose
    auto Own = std::make_unique<TFuzzPort>(In);
    TFuzzPort *Port = Own.get();
    TModbusRTU M(*Own, Device);
    M.SetClock(*Port);
    if (Tcp) M.SetFraming(TModbusFramingKind::Tcp);
    M.SetBackToBack(BackToBack);
    TPortParams Params;
    // Virtual time: a time-out as long as the longest gap between pieces
    // lets every scheduled byte arrive, and costs nothing.
    Params.Timeout = 255 * 8;
    try {
        if (!M.Open("fuzz", Params)) return 0;
        if (Tcp) {
            RunTcp(M, *Port, Op, Reg, Quantity, In);
            return 0;
        }
        const auto &Delivered = Port->Delivered();
        // The answer as the master took it (delivered after the call).
        auto Answer = [&](size_t L) {
            if (!BackToBack || Delivered.size() <= L) return Delivered;
            return std::vector<uint8_t>(Delivered.begin(), Delivered.begin() + L);
        };
        std::vector<uint8_t> A;
        switch (Op) {
            case 0: {
                const bool Found = M.Scan(Reg);
                FUZZ_REQUIRE(Found == (BackToBack ? Delivered.size() >= 7 : Delivered.size() == 7));
                break;
            }
            case 1: {
                TModbusRegisters Regs(Quantity, 0xBEEF);
                const size_t L = 2 * Quantity + 5;
                const bool Ok = M.ReadHoldingRegs(Reg, Regs);
                A = Answer(L);
                if (Quantity == 0) {
                    FUZZ_REQUIRE(Ok);
                    break;
                }
                const bool Ref = RefAnswer(A, L, Device, 0x03) && A[2] == 2 * Quantity;
                FUZZ_REQUIRE(Ok == Ref);
                for (size_t i = 0; i < Quantity; ++i)
                    FUZZ_REQUIRE(Regs[i] == (Ok ? Be16(A, 3 + 2 * i) : 0xBEEF));
                break;
            }
            case 2: {
                TModbusBits Bits(Quantity * 3, true);
                const size_t K = (Bits.size() + 7) / 8;
                const bool Ok = M.ReadDiscreteInputs(Reg, Bits);
                A = Answer(K + 5);
                if (Bits.empty()) {
                    FUZZ_REQUIRE(Ok);
                    break;
                }
                const bool Ref = RefAnswer(A, K + 5, Device, 0x02) && A[2] == K;
                FUZZ_REQUIRE(Ok == Ref);
                for (size_t k = 0; k < Bits.size(); ++k)
                    FUZZ_REQUIRE(Bits[k] == (Ok ? ((A[3 + k / 8] >> (k % 8)) & 1) != 0 : true));
                break;
            }
            case 3: {
                const uint16_t Value = In.Word();
                const bool Ok = M.WriteHoldingReg(Reg, Value);
                A = Answer(8);
                FUZZ_REQUIRE(Ok == (RefAnswer(A, 8, Device, 0x06) && Be16(A, 2) == Reg &&
                                    Be16(A, 4) == Value));
                break;
            }
            default: {
                TModbusRegisters Regs(Quantity);
                for (auto &r : Regs) r = In.Word();
                const bool Ok = M.WriteHoldingRegs(Reg, Regs);
                A = Answer(8);
                if (Quantity == 0) {
                    FUZZ_REQUIRE(Ok);
                } else if (Quantity > 127) {
                    FUZZ_REQUIRE(!Ok && Port->Requests().empty());
                } else {
                    FUZZ_REQUIRE(Ok == (RefAnswer(A, 8, Device, 0x10) && Be16(A, 2) == Reg &&
                                        Be16(A, 4) == Quantity));
                }
                break;
            }
        }
    } catch (const EComPort &) {
        // The line went away: the caller sees the port's error.
    }
    return 0;
}
