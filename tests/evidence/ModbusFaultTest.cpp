// The Modbus master on a line whose answers are spoiled at random. What the
// master accepts must be exactly what the device truly sent.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "SimModbusLine.h"
#include "modbus/ModbusRTU.h"

namespace {

constexpr uint32_t TimeoutMs = 20;

// One master for the whole line, on its clock: each request names its device.
std::unique_ptr<TModbusRTU> Master(TSimModbusLine &Line) {
    auto M = std::make_unique<TModbusRTU>(Line, 1);
    M->SetClock(Line);
    TPortParams P;
    P.Timeout = static_cast<int>(TimeoutMs);
    EXPECT_TRUE(M->Open("sim", P));
    return M;
}

TModbusFaults AllFaults(double Scale) {
    TModbusFaults F;
    F.Lost = 0.1 * Scale;
    F.BitFlip = 0.1 * Scale;
    F.WrongAddr = 0.05 * Scale;
    F.WrongFunc = 0.05 * Scale;
    F.BadCount = 0.05 * Scale;
    F.BadEcho = 0.1 * Scale;
    F.Short = 0.05 * Scale;
    F.NoiseBefore = 0.05 * Scale;
    F.NoiseAfter = 0.1 * Scale;
    F.Exception = 0.05 * Scale;
    F.Slow = 0.1 * Scale;
    return F;
}

}  // namespace

TEST(ModbusFaults, ScanListsOnlyDevicesThatAnswered) {
    for (uint32_t Seed : {11u, 12u}) {
        SCOPED_TRACE(testing::Message() << "seed " << Seed);
        auto Own = std::make_unique<TSimModbusLine>(Seed, AllFaults(1.5), TimeoutMs);
        TSimModbusLine &Line = *Own;
        std::mt19937 Rng(Seed);
        for (int i = 0; i < 25; ++i) Line.AddDevice(static_cast<uint8_t>(1 + Rng() % 247));
        auto M = Master(*Own);
        int Listed = 0;
        for (int Addr = 1; Addr <= 247; ++Addr) {
            const bool Found = M->Scan(static_cast<uint8_t>(Addr), 0);
            // The probe takes any seven bytes: it lists exactly the
            // addresses that put at least that many on the line.
            EXPECT_EQ(Found, Line.LastAnswerBytes() >= 7) << "address " << Addr;
            if (Found) {
                EXPECT_TRUE(Line.HasDevice(static_cast<uint8_t>(Addr))) << "address " << Addr;
                ++Listed;
            }
        }
        EXPECT_GT(Listed, 10);
    }
}

// Back to back (the watch), the master leaves out purges that could find
// nothing; what it accepts must be the same.
class ModbusFaultsBackToBack : public testing::TestWithParam<bool> {};

TEST_P(ModbusFaultsBackToBack, AcceptsOnlyWhatTheDeviceSent) {
    const uint32_t Seed = 21;
    auto Own = std::make_unique<TSimModbusLine>(Seed, AllFaults(1.0), TimeoutMs);
    TSimModbusLine &Line = *Own;
    auto M = Master(*Own);
    M->SetBackToBack(GetParam());
    std::mt19937 Rng(Seed);
    const uint8_t Devices[] = {3, 17, 247};
    for (uint8_t A : Devices) Line.AddDevice(A);
    int Accepted = 0, Refused = 0;
    for (int i = 0; i < 400; ++i) {
        const uint8_t Addr = Devices[Rng() % 3];
        // Starts near the end of the map now and then, so that the device
        // refuses with an exception answer.
        const uint16_t Start = static_cast<uint16_t>(Rng() % 210);
        const size_t N = 1 + Rng() % 20;
        SCOPED_TRACE(testing::Message() << "operation " << i << " device " << int(Addr) << " start "
                                        << Start << " count " << N);
        bool Ok = false;
        switch (Rng() % 4) {
            case 0: {
                TModbusRegisters Regs(N, 0xA5A5);
                Ok = M->ReadHoldingRegs(Addr, Start, Regs);
                for (size_t k = 0; k < N; ++k) {
                    const uint16_t Want =
                        Ok ? Line.Register(Addr, static_cast<uint16_t>(Start + k)) : 0xA5A5;
                    ASSERT_EQ(Regs[k], Want) << "register " << Start + k;
                }
                break;
            }
            case 1: {
                TModbusBits Bits(N * 3, true);
                Ok = M->ReadDiscreteInputs(Addr, Start, Bits);
                for (size_t k = 0; k < Bits.size(); ++k) {
                    const bool Want =
                        Ok ? Line.Input(Addr, static_cast<uint16_t>(Start + k)) : true;
                    ASSERT_EQ(Bits[k], Want) << "input " << Start + k;
                }
                break;
            }
            case 2: {
                const uint16_t Value = static_cast<uint16_t>(Rng());
                Ok = M->WriteHoldingReg(Addr, Start, Value);
                if (Ok) {
                    EXPECT_EQ(Line.Register(Addr, Start), Value);
                }
                break;
            }
            default: {
                TModbusRegisters Regs(N);
                for (auto &R : Regs) R = static_cast<uint16_t>(Rng());
                Ok = M->WriteHoldingRegs(Addr, Start, Regs);
                if (Ok) {
                    for (size_t k = 0; k < N; ++k)
                        EXPECT_EQ(Line.Register(Addr, static_cast<uint16_t>(Start + k)), Regs[k]);
                }
                break;
            }
        }
        // Accepted exactly when the bytes began with the true answer: every
        // spoiled answer (wrong echo included) is refused.
        EXPECT_EQ(Ok, Line.LastAnswerFaithful());
        (Ok ? Accepted : Refused)++;
    }
    EXPECT_GT(Accepted, 100);
    EXPECT_GT(Refused, 50);
}

INSTANTIATE_TEST_SUITE_P(Purges, ModbusFaultsBackToBack, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &I) {
                             return I.param ? std::string("BackToBack") : std::string("Always");
                         });
