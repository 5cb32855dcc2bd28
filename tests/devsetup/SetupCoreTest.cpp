#include <gtest/gtest.h>

#include "jobs/ScanJob.h"

namespace {

TEST(VendorText, StopsAtTheFirstZeroByte) {
    struct TCase {
        TModbusRegisters Regs;
        std::string Text;
    };
    const TCase Cases[] = {
        {{0x4142, 0x4344}, "ABCD"},         // full block, no terminator
        {{0x4142, 0x4300, 0x4445}, "ABC"},  // zero low byte
        {{0x4142, 0x0043}, "AB"},           // zero high byte of a later register
        {{0x0041, 0x4243}, ""},             // zero high byte first
        {{}, ""},
        {{0xE9FC}, "\xE9\xFC"},  // 8-bit codes pass as they are
    };
    for (const TCase &C : Cases) EXPECT_EQ(VendorTextFromRegs(C.Regs), C.Text) << C.Text;
}

TEST(VendorText, FullSignatureFitsTheVendorBlock) {
    TModbusRegisters Regs(VendorRegCount, 0);
    const std::string Sig = VendorSignature;
    ASSERT_EQ(Sig.size(), 18u);
    for (size_t i = 0; i < Sig.size(); ++i)
        Regs[i / 2] |= static_cast<uint16_t>(static_cast<uint8_t>(Sig[i]) << (i % 2 ? 0 : 8));
    EXPECT_EQ(VendorTextFromRegs(Regs), Sig);
}

TEST(VersionRegister, TwoBcdBytes) {
    struct TCase {
        uint16_t Reg;
        int Major, Minor;
    };
    const TCase Cases[] = {
        {0x0105, 1, 5},  {0x0210, 2, 10}, {0x0000, 0, 0},   {0x9999, 99, 99},
        {0x1A05, -1, 5}, {0x01F0, 1, -1}, {0xA0A0, -1, -1},
    };
    for (const TCase &C : Cases) {
        int Major = 0, Minor = 0;
        VersionFromRegister(C.Reg, Major, Minor);
        EXPECT_EQ(Major, C.Major) << std::hex << C.Reg;
        EXPECT_EQ(Minor, C.Minor) << std::hex << C.Reg;
    }
}

TEST(ScanProgress, DividesByTheLastAddressNotTheRange) {
    struct TCase {
        int A, Last, Percent;
    };
    const TCase Cases[] = {{1, 247, 0}, {200, 247, 80}, {247, 247, 100}, {5, 5, 100}, {1, 10, 10}};
    for (const TCase &C : Cases)
        EXPECT_EQ(ScanProgress(C.A, C.Last), C.Percent) << C.A << "/" << C.Last;
}

}  // namespace
