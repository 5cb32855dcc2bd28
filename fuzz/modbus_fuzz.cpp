// Modbus answers from an arbitrary line: the master's five operations and
// the pure answer check, each judged against a reference of the frame rules.
#include <memory>

#include "FuzzCheck.h"
#include "FuzzPort.h"
#include "modbus/ModbusFrame.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    // The pure check on the raw input first.
    if (Size >= 3) {
        const std::vector<uint8_t> A(Data + 2, Data + Size);
        const bool Ok =
            ModbusFrame::CheckAnswer(A.data(), A.size(), A.size(), Data[0], Data[1] & 0x7F);
        FUZZ_REQUIRE(Ok == RefAnswer(A, A.size(), Data[0], Data[1] & 0x7F));
    }

    TFuzzInput In(Data, Size);
    const uint8_t Op = In.Byte() % 5;
    const uint8_t Device = In.Byte();
    const uint16_t Reg = In.Word();
    const size_t Quantity = In.Byte() % 140;  // beyond 127 on purpose
    auto Own = std::make_unique<TFuzzPort>(In);
    TFuzzPort *Port = Own.get();
    TModbusRTU M(Device, std::move(Own));
    M.SetClock(*Port);
    TPortParams Params;
    // Virtual time: a time-out as long as the longest gap between pieces
    // lets every scheduled byte arrive, and costs nothing.
    Params.Timeout = 255 * 8;
    try {
        if (!M.Open("fuzz", Params)) return 0;
        const auto &A = Port->Delivered();
        switch (Op) {
            case 0: {
                FUZZ_REQUIRE(M.Scan(Reg) == (A.size() == 7));
                break;
            }
            case 1: {
                TModbusRegisters Regs(Quantity, 0xBEEF);
                const size_t L = 2 * Quantity + 5;
                const bool Ok = M.ReadHoldingRegs(Reg, Regs);
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
                FUZZ_REQUIRE(Ok == (RefAnswer(A, 8, Device, 0x06) && Be16(A, 2) == Reg &&
                                    Be16(A, 4) == Value));
                break;
            }
            default: {
                TModbusRegisters Regs(Quantity);
                for (auto &r : Regs) r = In.Word();
                const bool Ok = M.WriteHoldingRegs(Reg, Regs);
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
