// How decoded register values are shown: the number box's format and
// decimals per type, rounding, and the values a float cannot show as digits.
#include <gtest/gtest.h>

#include <iterator>

#include "jobs/ValueDisplay.h"

namespace {

TEST(ValueDisplay, FormatAndDecimalsPerType) {
    struct Row {
        TRegDataType Type;
        const char *Format;
        int Decimals;
        double Value;
        const char *Shown;
    };
    const Row Rows[] = {
        {rdtFloat, "0.000", 3, static_cast<double>(123.456f), "123.456"},
        {rdtFloat, "0.000", 3, 0.0, "0.000"},
        {rdtFloat, "0.000", 3, -0.0004, "0.000"},  // rounds to zero: no sign
        {rdtFloat, "0.000", 3, -1.5, "-1.500"},
        {rdtInt, "0", 0, -32768, "-32768"},
        {rdtUInt16, "0", 0, 65535, "65535"},
        {rdtBCD, "0", 0, 9999, "9999"},
        {rdtUInt32, "0", 0, -1294967296, "-1294967296"},
        {rdtUInt32, "0", 0, 4294967295.0, "4294967295"},
        {rdtInt, "0", 0, -0.0, "0"},
        // Not whole, or beyond a 64-bit integer: printf's digits and rounding.
        {rdtInt, "0", 0, 2.5, "2"},
        {rdtInt, "0", 0, -0.4, "0"},
        {rdtUInt32, "0", 0, 1e20, "100000000000000000000"},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Shown);
        EXPECT_STREQ(DisplayFormat(R.Type), R.Format);
        EXPECT_EQ(DisplayDecimals(R.Type), R.Decimals);
        EXPECT_EQ(FormatValue(R.Type, R.Value), R.Shown);
    }
    for (TRegDataType T : {rdtString, rdtBit}) EXPECT_STREQ(DisplayFormat(T), "");
}

TEST(ValueDisplay, NonFiniteFloatsDecodeAndShow) {
    struct Row {
        TModbusRegisters Registers;
        const char *Shown;
    };
    const Row Rows[] = {
        {{0x7F80, 0x0000}, "Inf"}, {{0xFF80, 0x0000}, "-Inf"}, {{0x7FC0, 0x0000}, "NaN"},
        {{0xFFFF, 0xFFFF}, "NaN"}, {{0x7F80, 0x0001}, "NaN"},  // signalling NaN pattern
    };
    for (const Row &R : Rows) {
        double Value = 0;
        ASSERT_TRUE(DecodeRegisters(rdtFloat, woMSWF, R.Registers, Value));
        EXPECT_EQ(FormatValue(rdtFloat, Value), R.Shown);
    }
    EXPECT_EQ(FormatValue(rdtFloat, -0.0), "0.000");
    EXPECT_EQ(FormatValue(rdtInt, -32768), "-32768");
}

}  // namespace
