// Register value codecs of the register page and the command line.
#include "modbus/RegisterCodecs.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <vector>

namespace {

constexpr int RR = MaxReadRegisters, WR = MaxWriteRegisters, RI = MaxReadInputs;
constexpr auto NoRange = std::nullopt;

// In the order of TRegDataType.
// clang-format off
constexpr TRegTypeInfo TypeInfo[RegDataTypeCount] = {
//   Text      Regs Choice Box  Read Write Unit         Num    Order  Write  Range
    {"float",  2,   2,     WR,  RR,  WR,   "registers", true,  true,  true,  NoRange},
    {"int",    1,   1,     WR,  RR,  WR,   "registers", true,  false, true,  TValueRange{-32768, 32767}},
    {"uint16", 1,   1,     WR,  RR,  WR,   "registers", true,  false, true,  TValueRange{0, 65535}},
    {"BCD",    1,   1,     WR,  RR,  WR,   "registers", true,  false, true,  TValueRange{0, 9999}},
    {"uint32", 2,   2,     WR,  RR,  WR,   "registers", true,  true,  true,  TValueRange{0, 4294967295LL}},
    {"string", 0,   0,     WR,  RR,  WR,   "registers", false, false, true,  NoRange},
    {"bit",    0,   1,     RI,  RI,  RI,   "inputs",    false, false, false, NoRange},
};
// clang-format on

constexpr const char *WordOrderTexts[WordOrderCount] = {"LSWF", "MSWF"};

uint32_t Join(TWordOrder Order, uint16_t R0, uint16_t R1) {
    return Order == woMSWF ? (uint32_t{R0} << 16 | R1) : (uint32_t{R1} << 16 | R0);
}

TModbusRegisters Split(TWordOrder Order, uint32_t Pattern) {
    const auto Hi = static_cast<uint16_t>(Pattern >> 16);
    const auto Lo = static_cast<uint16_t>(Pattern & 0xFFFF);
    return Order == woMSWF ? TModbusRegisters{Hi, Lo} : TModbusRegisters{Lo, Hi};
}

// Whole part toward zero as a 64-bit integer; outside that range (or NaN)
// the conversion is an invalid operation.
int64_t ToInt64(double Value) {
    constexpr double Limit = 9223372036854775808.0;  // 2^63
    const double Whole = std::trunc(Value);
    if (!(Whole >= -Limit && Whole < Limit))
        throw ERegConvertError(TRegConvertKind::InvalidFloatOp, "Invalid floating point operation");
    return static_cast<int64_t>(Whole);
}

// A whole number the type can hold, else OutOfRange.
int64_t InRange(TRegDataType Type, int64_t Whole) {
    const TValueRange Range = *ValueRange(Type);
    if (!Range.Holds(Whole)) throw ERegConvertError(Range);
    return Whole;
}

// Nearest whole number, halves to the even neighbour.
int64_t RoundHalfEven(double Value) {
    const double Floor = std::floor(Value);
    const double Diff = Value - Floor;
    double Rounded = Floor;
    if (Diff > 0.5 || (Diff == 0.5 && std::fmod(Floor, 2.0) != 0.0)) Rounded = Floor + 1.0;
    return ToInt64(Rounded);
}

void AppendUtf8(std::string &Out, unsigned Code) {
    if (Code < 0x80) {
        Out += static_cast<char>(Code);
    } else {
        Out += static_cast<char>(0xC0 | (Code >> 6));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    }
}

// Code points of a UTF-8 text; a byte that does not start a well-formed
// sequence counts as one character of its own (invalid input never throws).
std::vector<uint32_t> CodePoints(const std::string &Text) {
    std::vector<uint32_t> Out;
    const auto *p = reinterpret_cast<const unsigned char *>(Text.data());
    const size_t n = Text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        size_t Len = 0;
        uint32_t Code = 0;
        if (c < 0x80) {
            Len = 1;
            Code = c;
        } else if (c >= 0xC2 && c <= 0xDF) {
            Len = 2;
            Code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            Len = 3;
            Code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            Len = 4;
            Code = c & 0x07;
        }
        bool Ok = Len > 0 && i + Len <= n;
        for (size_t k = 1; Ok && k < Len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                Ok = false;
            else
                Code = Code << 6 | (p[i + k] & 0x3F);
        }
        // Over-long forms, surrogates and values beyond U+10FFFF are no
        // characters: an over-long NUL would end the text inside the block.
        static const uint32_t MinCode[] = {0, 0, 0x80, 0x800, 0x10000};
        if (Ok && (Code < MinCode[Len] || (Code >= 0xD800 && Code <= 0xDFFF) || Code > 0x10FFFF))
            Ok = false;
        if (!Ok) {
            Out.push_back(0xFFFD);
            ++i;
            continue;
        }
        Out.push_back(Code);
        i += Len;
    }
    return Out;
}

}  // namespace

const TRegTypeInfo &RegTypeInfo(TRegDataType Type) {
    const int i = static_cast<int>(Type);
    if (i < 0 || i >= RegDataTypeCount) throw std::invalid_argument("unknown register data type");
    return TypeInfo[i];
}

const char *RegDataTypeText(TRegDataType Type) {
    return RegTypeInfo(Type).Text;
}

const char *WordOrderText(TWordOrder Order) {
    const int i = static_cast<int>(Order);
    if (i < 0 || i >= WordOrderCount) throw std::invalid_argument("unknown word order");
    return WordOrderTexts[i];
}

std::optional<TRegDataType> RegDataTypeFromText(const std::string &Text) {
    for (int i = 0; i < RegDataTypeCount; ++i)
        if (Text == TypeInfo[i].Text) return static_cast<TRegDataType>(i);
    return std::nullopt;
}

std::optional<TWordOrder> WordOrderFromText(const std::string &Text) {
    for (int i = 0; i < WordOrderCount; ++i)
        if (Text == WordOrderTexts[i]) return static_cast<TWordOrder>(i);
    return std::nullopt;
}

std::optional<TValueRange> ValueRange(TRegDataType Type) {
    return RegTypeInfo(Type).Range;
}

std::string OutOfRangeText(const TValueRange &Range) {
    return "Value out of range (" + std::to_string(Range.Min) + " to " + std::to_string(Range.Max) +
           ")";
}

int MaxCount(TRegDataType Type, bool Writing) {
    const TRegTypeInfo &Info = RegTypeInfo(Type);
    return Writing ? Info.MaxWrite : Info.MaxRead;
}

int RegisterCount(TRegDataType Type) {
    return RegTypeInfo(Type).Registers;
}
bool IsNumericType(TRegDataType Type) {
    return RegTypeInfo(Type).Numeric;
}
bool WordOrderApplies(TRegDataType Type) {
    return RegTypeInfo(Type).WordOrder;
}

bool DecodeRegisters(TRegDataType Type, TWordOrder Order, const TModbusRegisters &Regs,
                     double &Value) {
    if (!IsNumericType(Type)) return false;
    if (Regs.size() < static_cast<size_t>(RegisterCount(Type))) return false;
    switch (Type) {
        case rdtFloat:
            Value = static_cast<double>(std::bit_cast<float>(Join(Order, Regs[0], Regs[1])));
            return true;
        case rdtInt:
            Value = static_cast<int16_t>(Regs[0]);
            return true;
        case rdtUInt16:
            Value = Regs[0];
            return true;
        case rdtBCD: {
            int Result = 0;
            for (int Shift = 12; Shift >= 0; Shift -= 4) {
                const int Digit = (Regs[0] >> Shift) & 0xF;
                if (Digit > 9) return false;
                Result = Result * 10 + Digit;
            }
            Value = Result;
            return true;
        }
        case rdtUInt32:
            Value = static_cast<int32_t>(Join(Order, Regs[0], Regs[1]));
            return true;
        default:
            return false;
    }
}

TModbusRegisters EncodeValue(TRegDataType Type, TWordOrder Order, double Value) {
    switch (Type) {
        case rdtFloat: {
            if (std::isnan(Value))
                throw ERegConvertError(TRegConvertKind::InvalidFloatOp,
                                       "Invalid floating point operation");
            const float Single = static_cast<float>(Value);
            if (std::isinf(Single))
                throw ERegConvertError(TRegConvertKind::FloatOverflow, "Floating point overflow");
            return Split(Order, std::bit_cast<uint32_t>(Single));
        }
        case rdtInt:
        case rdtUInt16:
            return {static_cast<uint16_t>(static_cast<uint64_t>(InRange(Type, ToInt64(Value))) &
                                          0xFFFF)};
        case rdtBCD: {
            const int64_t Whole = RoundHalfEven(Value);
            if (Whole < 0 || Whole > 99999999)
                throw ERegConvertError(
                    TRegConvertKind::InvalidInteger,
                    "'$" + std::to_string(Whole) + "' is not a valid integer value");
            InRange(Type, Whole);
            // The decimal digits read as hexadecimal ones.
            uint64_t Packed = 0;
            for (char c : std::to_string(Whole))
                Packed = Packed << 4 | static_cast<uint64_t>(c - '0');
            return {static_cast<uint16_t>(Packed)};
        }
        case rdtUInt32:
            return Split(Order, static_cast<uint32_t>(InRange(Type, ToInt64(Value))));
        default:
            throw std::invalid_argument("not a numeric register data type");
    }
}

std::string DecodeText(const TModbusRegisters &Regs) {
    std::string Text;
    for (uint16_t Reg : Regs) {
        for (unsigned Byte : {unsigned(Reg >> 8), unsigned(Reg & 0xFF)}) {
            if (Byte == 0) return Text;
            AppendUtf8(Text, Byte);
        }
    }
    return Text;
}

TModbusRegisters EncodeText(const std::string &Text, int Count) {
    TModbusRegisters Regs(static_cast<size_t>(std::max(Count, 0)), 0);
    size_t Pos = 0;
    for (uint32_t Code : CodePoints(Text)) {
        if (Pos >= 2 * Regs.size()) break;
        const uint16_t Byte = Code <= 0xFF ? static_cast<uint16_t>(Code) : uint16_t{'?'};
        uint16_t &Reg = Regs[Pos / 2];
        Reg = static_cast<uint16_t>(Pos % 2 == 0 ? Byte << 8 : (Reg | Byte));
        ++Pos;
    }
    return Regs;
}

int TextRegisterCount(const std::string &Text) {
    return static_cast<int>((CodePoints(Text).size() + 1) / 2);
}

std::string FormatBits(const TModbusBits &Bits) {
    std::string Text(Bits.size(), '0');
    for (size_t k = 0; k < Bits.size(); ++k)
        if (Bits[k]) Text[Bits.size() - 1 - k] = '1';
    return Text;
}
