// Register value codecs: worked examples and the edge cases that each catch
// a different fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "modbus/RegisterCodecs.h"

namespace {

using Regs = TModbusRegisters;

TEST(RegisterCodecs, EncodeExamples) {
    struct Row {
        TRegDataType Type;
        TWordOrder Order;
        double Value;
        Regs Expected;
    };
    const Row Rows[] = {
        {rdtFloat, woMSWF, 1.0, {0x3F80, 0x0000}},
        {rdtFloat, woLSWF, 1.0, {0x0000, 0x3F80}},
        {rdtFloat, woMSWF, -2.5, {0xC020, 0x0000}},
        {rdtFloat, woMSWF, 123.456, {0x42F6, 0xE979}},
        {rdtFloat, woMSWF, 1e-45, {0x0000, 0x0001}},         // smallest subnormal
        {rdtFloat, woMSWF, 1e-50, {0x0000, 0x0000}},         // too small: zero, no error
        {rdtFloat, woMSWF, 3.4028235e38, {0x7F7F, 0xFFFF}},  // rounds to the largest finite
        {rdtUInt32, woMSWF, 305419896, {0x1234, 0x5678}},
        {rdtUInt32, woLSWF, 305419896, {0x5678, 0x1234}},
        {rdtUInt32, woMSWF, 4294967295.0, {0xFFFF, 0xFFFF}},
        {rdtUInt32, woMSWF, 2147483648.0, {0x8000, 0x0000}},
        {rdtUInt32, woMSWF, 0, {0x0000, 0x0000}},
        {rdtInt, woLSWF, -1, {0xFFFF}},
        {rdtInt, woMSWF, -32768, {0x8000}},
        {rdtInt, woMSWF, 32767, {0x7FFF}},
        {rdtInt, woMSWF, 32767.9, {0x7FFF}},  // cut toward zero, then in range
        {rdtInt, woMSWF, -32768.9, {0x8000}},
        {rdtUInt16, woMSWF, 0, {0x0000}},
        {rdtUInt16, woMSWF, -0.9, {0x0000}},
        {rdtInt, woMSWF, 12.9, {0x000C}},  // cut toward zero
        {rdtInt, woMSWF, -12.9, {0xFFF4}},
        {rdtUInt16, woMSWF, 65535, {0xFFFF}},
        {rdtBCD, woMSWF, 1234, {0x1234}},
        {rdtBCD, woMSWF, 950, {0x0950}},
        {rdtBCD, woMSWF, 0, {0x0000}},
        {rdtBCD, woMSWF, 9999, {0x9999}},
        {rdtBCD, woMSWF, 9999.4, {0x9999}},
        {rdtBCD, woMSWF, 12.5, {0x0012}},  // halves to even
        {rdtBCD, woMSWF, 13.5, {0x0014}},
        {rdtBCD, woMSWF, 12.6, {0x0013}},
        {rdtBCD, woMSWF, -0.4, {0x0000}},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(std::string(RegDataTypeText(R.Type)) + " " + WordOrderText(R.Order) + " " +
                     std::to_string(R.Value));
        EXPECT_EQ(EncodeValue(R.Type, R.Order, R.Value), R.Expected);
    }
}

TEST(RegisterCodecs, EncodeFailuresCarryTheirTexts) {
    struct Row {
        TRegDataType Type;
        double Value;
        TRegConvertKind Kind;
        const char *Text;
    };
    const double Inf = std::numeric_limits<double>::infinity();
    const Row Rows[] = {
        {rdtBCD, -5, TRegConvertKind::InvalidInteger, "'$-5' is not a valid integer value"},
        {rdtBCD, -4.6, TRegConvertKind::InvalidInteger, "'$-5' is not a valid integer value"},
        {rdtBCD, 100000000, TRegConvertKind::InvalidInteger,
         "'$100000000' is not a valid integer value"},
        {rdtFloat, 3.5e38, TRegConvertKind::FloatOverflow, "Floating point overflow"},
        {rdtFloat, -1e39, TRegConvertKind::FloatOverflow, "Floating point overflow"},
        {rdtFloat, Inf, TRegConvertKind::FloatOverflow, "Floating point overflow"},
        {rdtInt, 1e19, TRegConvertKind::InvalidFloatOp, "Invalid floating point operation"},
        {rdtUInt16, -1e19, TRegConvertKind::InvalidFloatOp, "Invalid floating point operation"},
        {rdtUInt32, 9223372036854775808.0, TRegConvertKind::InvalidFloatOp,
         "Invalid floating point operation"},
        {rdtBCD, 1e300, TRegConvertKind::InvalidFloatOp, "Invalid floating point operation"},
        {rdtUInt32, std::nan(""), TRegConvertKind::InvalidFloatOp,
         "Invalid floating point operation"},
        // Whole numbers the type cannot hold are refused with its range,
        // never written wrapped.
        {rdtInt, 32768, TRegConvertKind::OutOfRange, "Value out of range (-32768 to 32767)"},
        {rdtInt, 70000, TRegConvertKind::OutOfRange, "Value out of range (-32768 to 32767)"},
        {rdtInt, -32769, TRegConvertKind::OutOfRange, "Value out of range (-32768 to 32767)"},
        {rdtUInt16, 65536, TRegConvertKind::OutOfRange, "Value out of range (0 to 65535)"},
        {rdtUInt16, 70000, TRegConvertKind::OutOfRange, "Value out of range (0 to 65535)"},
        {rdtUInt16, -1, TRegConvertKind::OutOfRange, "Value out of range (0 to 65535)"},
        {rdtBCD, 10000, TRegConvertKind::OutOfRange, "Value out of range (0 to 9999)"},
        {rdtBCD, 70000, TRegConvertKind::OutOfRange, "Value out of range (0 to 9999)"},
        {rdtBCD, 12345, TRegConvertKind::OutOfRange, "Value out of range (0 to 9999)"},
        {rdtBCD, 99999999, TRegConvertKind::OutOfRange, "Value out of range (0 to 9999)"},
        {rdtBCD, 9999.5, TRegConvertKind::OutOfRange,
         "Value out of range (0 to 9999)"},  // to even: 10000
        {rdtUInt32, 4294967296.0, TRegConvertKind::OutOfRange,
         "Value out of range (0 to 4294967295)"},
        {rdtUInt32, 4294967296.0 + 5, TRegConvertKind::OutOfRange,
         "Value out of range (0 to 4294967295)"},
        {rdtUInt32, -1, TRegConvertKind::OutOfRange, "Value out of range (0 to 4294967295)"},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(std::string(RegDataTypeText(R.Type)) + " " + std::to_string(R.Value));
        try {
            EncodeValue(R.Type, woMSWF, R.Value);
            ADD_FAILURE() << "no error";
        } catch (const ERegConvertError &E) {
            EXPECT_EQ(E.Kind(), R.Kind);
            EXPECT_STREQ(E.what(), R.Text);
        }
    }
}

// The ranges both faces refuse values by, and the most registers or inputs
// one request carries.
TEST(RegisterCodecs, RangesAndCountLimits) {
    struct Row {
        TRegDataType Type;
        std::optional<TValueRange> Range;
        int MostRead, MostWritten;
    };
    const Row Rows[] = {
        {rdtFloat, std::nullopt, 125, 123},
        {rdtInt, TValueRange{-32768, 32767}, 125, 123},
        {rdtUInt16, TValueRange{0, 65535}, 125, 123},
        {rdtBCD, TValueRange{0, 9999}, 125, 123},
        {rdtUInt32, TValueRange{0, 4294967295LL}, 125, 123},
        {rdtString, std::nullopt, 125, 123},
        {rdtBit, std::nullopt, 2000, 2000},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(RegDataTypeText(R.Type));
        const std::optional<TValueRange> Range = ValueRange(R.Type);
        ASSERT_EQ(Range.has_value(), R.Range.has_value());
        if (Range) {
            EXPECT_EQ(Range->Min, R.Range->Min);
            EXPECT_EQ(Range->Max, R.Range->Max);
        }
        EXPECT_EQ(MaxCount(R.Type, false), R.MostRead);
        EXPECT_EQ(MaxCount(R.Type, true), R.MostWritten);
    }
    EXPECT_TRUE(CommValueRange.Holds(0));
    EXPECT_TRUE(CommValueRange.Holds(65535));
    EXPECT_FALSE(CommValueRange.Holds(65536));
    EXPECT_FALSE(CommValueRange.Holds(-1));
}

TEST(RegisterCodecs, DecodeExamples) {
    struct Row {
        TRegDataType Type;
        TWordOrder Order;
        Regs Registers;
        double Expected;
    };
    const Row Rows[] = {
        {rdtFloat, woMSWF, {0x3F80, 0x0000}, 1.0},
        {rdtFloat, woLSWF, {0x0000, 0x3F80}, 1.0},
        {rdtFloat, woMSWF, {0x42F6, 0xE979}, static_cast<double>(123.456f)},
        {rdtFloat, woMSWF, {0x0000, 0x0000}, 0.0},
        {rdtInt, woMSWF, {0x8000}, -32768},
        {rdtInt, woMSWF, {0xFFFF}, -1},
        {rdtUInt16, woMSWF, {0x8000}, 32768},
        {rdtBCD, woMSWF, {0x0000}, 0},
        {rdtBCD, woMSWF, {0x9999}, 9999},
        {rdtBCD, woMSWF, {0x0042}, 42},
        {rdtUInt32, woMSWF, {0x8000, 0x0000}, -2147483648.0},
        {rdtUInt32, woMSWF, {0xFFFF, 0xFFFF}, -1},
        {rdtUInt32, woMSWF, {0xB2D0, 0x5E00}, -1294967296.0},
        {rdtUInt32, woMSWF, {0x1234, 0x5678}, 305419896},
        {rdtUInt32, woLSWF, {0x5678, 0x1234}, 305419896},
        {rdtInt, woMSWF, {0x0005, 0x7777}, 5},  // only the registers the type needs
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(std::string(RegDataTypeText(R.Type)) + " " + WordOrderText(R.Order));
        double Value = 12345.678;
        ASSERT_TRUE(DecodeRegisters(R.Type, R.Order, R.Registers, Value));
        EXPECT_EQ(Value, R.Expected);
    }
}

TEST(RegisterCodecs, DecodeRefusalsLeaveValue) {
    struct Row {
        const char *Name;
        TRegDataType Type;
        Regs Registers;
    };
    const Row Rows[] = {
        {"BCD digit A", rdtBCD, {0x00A0}},
        {"BCD digit F high", rdtBCD, {0xF000}},
        {"float with one register", rdtFloat, {0x3F80}},
        {"int with none", rdtInt, {}},
        {"string is no number", rdtString, {0x4142}},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        double Value = 7.0;
        EXPECT_FALSE(DecodeRegisters(R.Type, woMSWF, R.Registers, Value));
        EXPECT_EQ(Value, 7.0);
    }
}

TEST(RegisterCodecs, EncodeDecodeRoundTrip) {
    for (TWordOrder Order : {woLSWF, woMSWF}) {
        for (double v : {0.0, 1.5, -1234.25, 3.0e38, -1.0e-40}) {
            double Back = 0;
            ASSERT_TRUE(DecodeRegisters(rdtFloat, Order, EncodeValue(rdtFloat, Order, v), Back));
            EXPECT_EQ(Back, static_cast<double>(static_cast<float>(v)));
        }
        for (double v : {0.0, 1.0, 2147483647.0}) {
            double Back = 0;
            ASSERT_TRUE(DecodeRegisters(rdtUInt32, Order, EncodeValue(rdtUInt32, Order, v), Back));
            EXPECT_EQ(Back, v);
        }
        // A pattern with the top bit set reads back as a negative number.
        double Back = 0;
        ASSERT_TRUE(
            DecodeRegisters(rdtUInt32, Order, EncodeValue(rdtUInt32, Order, 4294967295.0), Back));
        EXPECT_EQ(Back, -1);
    }
    double Back = 0;
    ASSERT_TRUE(DecodeRegisters(rdtInt, woMSWF, EncodeValue(rdtInt, woMSWF, -32768), Back));
    EXPECT_EQ(Back, -32768);
}

TEST(RegisterCodecs, DecodeText) {
    struct Row {
        Regs Registers;
        std::string Text;
    };
    const Row Rows[] = {
        {{0x4142, 0x4300, 0x0000}, "ABC"},
        {{0x4142, 0x4344}, "ABCD"},
        {{0x0041, 0x4243}, ""},
        {{0x4142, 0x0043}, "AB"},
        {{0x0000}, ""},
        {{}, ""},
        {{0x4120, 0x2000}, "A  "},                        // no trimming
        {{0xE46F, 0xFCDF}, "\xC3\xA4o\xC3\xBC\xC3\x9F"},  // ISO 8859-1: äoüß
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Text);
        EXPECT_EQ(DecodeText(R.Registers), R.Text);
    }
}

TEST(RegisterCodecs, EncodeText) {
    struct Row {
        std::string Text;
        int Count;
        Regs Expected;
    };
    const Row Rows[] = {
        {"ABC", 3, {0x4142, 0x4300, 0x0000}},
        {"ABC", 2, {0x4142, 0x4300}},
        {"A", 1, {0x4100}},
        {"", 2, {0x0000, 0x0000}},
        {"ABCDE", 2, {0x4142, 0x4344}},     // cut at the block's end
        {"\xC3\xA4\xC3\xBC", 1, {0xE4FC}},  // äü as ISO 8859-1
        {"\xE2\x82\xAC!", 1, {0x3F21}},     // € is not in ISO 8859-1
        {"\xFF"
         "A",
         1,
         {0x3F41}},  // malformed UTF-8 byte
        {"AB", 0, {}},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Text + " / " + std::to_string(R.Count));
        EXPECT_EQ(EncodeText(R.Text, R.Count), R.Expected);
    }
    // 7-bit ASCII and ISO 8859-1 text come back as they went in.
    for (const std::string Text : {"www.veldrasens.com", "x",
                                   "Gr\xC3\xBC\xC3\x9F"
                                   "e"}) {
        const int N = TextRegisterCount(Text);
        EXPECT_EQ(DecodeText(EncodeText(Text, N)), Text);
    }
}

TEST(RegisterCodecs, TextRegisterCountCountsCharacters) {
    EXPECT_EQ(TextRegisterCount(""), 0);
    EXPECT_EQ(TextRegisterCount("A"), 1);
    EXPECT_EQ(TextRegisterCount("ABC"), 2);
    EXPECT_EQ(TextRegisterCount("ABCD"), 2);
    EXPECT_EQ(TextRegisterCount("\xC3\xA4\xC3\xBC\xC3\xB6"), 2);  // three characters, six bytes
}

TEST(RegisterCodecs, FormatBitsStartAddressRightmost) {
    EXPECT_EQ(FormatBits({true, false, true, true}), "1101");
    EXPECT_EQ(FormatBits({false, false, false, false, false, false, false, false, true, false}),
              "0100000000");
    EXPECT_EQ(FormatBits({}), "");
}

TEST(RegisterCodecs, TypeTable) {
    struct Row {
        TRegDataType Type;
        const char *Text;
        int Count;
        bool Order;
    };
    const Row Rows[] = {
        {rdtFloat, "float", 2, true},    {rdtInt, "int", 1, false},
        {rdtUInt16, "uint16", 1, false}, {rdtBCD, "BCD", 1, false},
        {rdtUInt32, "uint32", 2, true},  {rdtString, "string", 0, false},
        {rdtBit, "bit", 0, false},
    };
    ASSERT_EQ(std::size(Rows), static_cast<size_t>(RegDataTypeCount));
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Text);
        EXPECT_STREQ(RegDataTypeText(R.Type), R.Text);
        EXPECT_EQ(RegDataTypeFromText(R.Text), R.Type);
        EXPECT_EQ(RegisterCount(R.Type), R.Count);
        EXPECT_EQ(WordOrderApplies(R.Type), R.Order);
    }
    EXPECT_EQ(RegDataTypeFromText("Float"), std::nullopt);
    EXPECT_EQ(WordOrderFromText("MSWF"), woMSWF);
    EXPECT_EQ(WordOrderFromText("LSWF"), woLSWF);
    EXPECT_THROW(EncodeValue(rdtString, woMSWF, 1), std::invalid_argument);
}

// The rows of the type table agree with each other and with the codecs: the
// register page and the command line set themselves up by them alone, so a
// row that contradicts itself shows as a count box that allows what no
// request carries, or a value box for a type the codecs cannot encode.
TEST(RegisterCodecs, TypeTableRowsAgree) {
    for (int i = 0; i < RegDataTypeCount; ++i) {
        const auto Type = static_cast<TRegDataType>(i);
        const TRegTypeInfo &T = RegTypeInfo(Type);
        SCOPED_TRACE(T.Text);
        // Numbers occupy a fixed count, the count box then shows it.
        EXPECT_EQ(T.Numeric, T.Registers > 0);
        if (T.Registers > 0) {
            EXPECT_EQ(T.CountOnChoice, T.Registers);
        }
        // Word order only for the two-register types.
        if (T.WordOrder) {
            EXPECT_EQ(T.Registers, 2);
        }
        // The count box never allows what one read (or write) cannot carry.
        EXPECT_GE(T.CountBoxMax, std::max(T.Registers, T.CountOnChoice));
        EXPECT_LE(T.CountBoxMax, T.MaxRead);
        if (T.Writable) {
            EXPECT_LE(T.CountBoxMax, T.MaxWrite);
        }
        // Only integer types have a range, and encoding keeps to it.
        if (T.Range) {
            EXPECT_TRUE(T.Numeric);
            EXPECT_NO_THROW(EncodeValue(Type, woMSWF, static_cast<double>(T.Range->Max)));
            EXPECT_THROW(EncodeValue(Type, woMSWF, static_cast<double>(T.Range->Max) + 1),
                         ERegConvertError);
        }
        EXPECT_STREQ(T.CountUnit, Type == rdtBit ? "inputs" : "registers");
        EXPECT_EQ(T.Writable, Type != rdtBit);
    }
    EXPECT_THROW(RegTypeInfo(static_cast<TRegDataType>(RegDataTypeCount)), std::invalid_argument);
}

}  // namespace
