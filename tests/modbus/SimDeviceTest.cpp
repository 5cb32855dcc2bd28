// The simulated sensors' changing registers: their values at known times,
// and how a device answers for them.
#include <gtest/gtest.h>

#include <cstring>

#include "ModbusSimDevice.h"

namespace {

float FloatOf(uint16_t Hi, uint16_t Lo) {
    const uint32_t Bits = static_cast<uint32_t>(Hi) << 16 | Lo;
    float V = 0;
    std::memcpy(&V, &Bits, sizeof V);
    return V;
}

TEST(SimLiveRegisters, ValuesAtKnownTimes) {
    const struct {
        uint16_t Reg;
        uint64_t SinceStartMs;
        int64_t UnixMs;
        uint16_t Value;
    } Cases[] = {
        {1000, 0, 0, 0},
        {1000, 99, 0, 0},
        {1000, 12345, 0, 123},
        {1000, 6553600, 0, 0},  // wraps
        {1001, 0, 0, 0},
        {1001, 5000, 0, 50},
        {1001, 10000, 0, 100},  // the top
        {1001, 15000, 0, 50},
        {1001, 20000, 0, 0},
        {1001, 30000, 0, static_cast<uint16_t>(-100)},  // the bottom
        {1001, 39900, 0, static_cast<uint16_t>(-1)},
        {1001, 40000, 0, 0},  // the next period
        {1004, 0, 1796979467123, 0x6B1B},
        {1005, 0, 1796979467123, 0xBB0B},
        {1006, 0x12345678, 0, 0x1234},
        {1007, 0x12345678, 0, 0x5678},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(std::to_string(C.Reg) + " at " + std::to_string(C.SinceStartMs));
        const auto V = LiveRegister(C.Reg, TSimTime{C.SinceStartMs, C.UnixMs});
        ASSERT_TRUE(V);
        EXPECT_EQ(*V, C.Value);
    }
    EXPECT_FALSE(LiveRegister(999, {}));
    EXPECT_FALSE(LiveRegister(1008, {}));
}

TEST(SimLiveRegisters, SineOverOnePeriod) {
    const struct {
        uint64_t Ms;
        float Value;
    } Cases[] = {{0, 0}, {15000, 100}, {30000, 0}, {45000, -100}, {60000, 0}, {5000, 50}};
    for (const auto &C : Cases) {
        const TSimTime T{C.Ms, 0};
        EXPECT_NEAR(FloatOf(*LiveRegister(1002, T), *LiveRegister(1003, T)), C.Value, 1e-3) << C.Ms;
    }
}

TSimFrame Request(std::initializer_list<uint8_t> Bytes) {
    TSimFrame F(Bytes);
    SealFrame(F);
    return F;
}

TEST(SimLiveRegisters, AnsweredByEveryProfileDevice) {
    TSimDevice D;
    ASSERT_TRUE(MakeProfileDevice(1, "map18", D));
    const TSimTime T{12345, 1796979467123};
    // One read of the whole block, 1000..1007.
    const TSimFrame A = Answer(D, Request({1, 3, 0x03, 0xE8, 0, 8}), {}, T);
    ASSERT_EQ(A.size(), 3u + 16 + 2);
    EXPECT_EQ(A[2], 16);
    for (uint16_t R = 0; R < 8; ++R)
        EXPECT_EQ(A[3 + 2 * R] << 8 | A[4 + 2 * R], *LiveRegister(1000 + R, T)) << R;
    // Read-only: a write is refused as an unknown register.
    const TSimFrame W = Answer(D, Request({1, 6, 0x03, 0xE8, 0, 5}), {}, T);
    EXPECT_EQ(W[1], 0x86);
    EXPECT_EQ(W[2], 2);
    // A value of the device's own replaces the changing one.
    D.Holding[1000] = 77;
    const TSimFrame Own = Answer(D, Request({1, 3, 0x03, 0xE8, 0, 1}), {}, T);
    EXPECT_EQ(Own[3] << 8 | Own[4], 77);
    // A device without them (a register file's own) answers exception 2.
    D.Live = false;
    const TSimFrame None = Answer(D, Request({1, 3, 0x03, 0xE9, 0, 1}), {}, T);
    EXPECT_EQ(None[1], 0x83);
    // The block's neighbours stay unknown.
    D.Live = true;
    EXPECT_EQ(Answer(D, Request({1, 3, 0x03, 0xE7, 0, 2}), {}, T)[1], 0x83);
    EXPECT_EQ(Answer(D, Request({1, 3, 0x03, 0xEF, 0, 2}), {}, T)[1], 0x83);
}

}  // namespace
