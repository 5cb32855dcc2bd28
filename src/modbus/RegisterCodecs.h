#pragma once
// Conversions between register contents and the typed values that the
// register page and the command line show and accept. Pure functions.
//
// Texts travel as UTF-8; in registers they are ISO 8859-1, two characters
// per register, the first in the high byte.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "modbus/ModbusRTU.h"

// In the order of the data type list (index 0..6).
enum TRegDataType : int { rdtFloat, rdtInt, rdtUInt16, rdtBCD, rdtUInt32, rdtString, rdtBit };
// In the order of the word order list: least / most significant word first.
enum TWordOrder : int { woLSWF, woMSWF };

constexpr int RegDataTypeCount = 7;
constexpr int WordOrderCount = 2;

// List texts: "float", "int", "uint16", "BCD", "uint32", "string", "bit".
const char *RegDataTypeText(TRegDataType Type);
// "LSWF", "MSWF".
const char *WordOrderText(TWordOrder Order);
// Inverse of the list texts (exact match); nullopt for anything else.
std::optional<TRegDataType> RegDataTypeFromText(const std::string &Text);
std::optional<TWordOrder> WordOrderFromText(const std::string &Text);

// The whole numbers a register takes, as typed: int -32768..32767, uint16
// and the comm settings 0..65535, BCD 0..9999, uint32 0..4294967295.
struct TValueRange {
    long long Min;
    long long Max;
    bool Holds(long long Value) const { return Value >= Min && Value <= Max; }
};

// Most registers or inputs one request can carry (Modbus application
// protocol): read holding registers (function 3) 125, write multiple
// registers (function 16) 123, read discrete inputs (function 2) 2000.
inline constexpr int MaxReadRegisters = 125;
inline constexpr int MaxWriteRegisters = 123;
inline constexpr int MaxReadInputs = 2000;

// What a register data type means: the one table that the register page
// and the command line set themselves up by (RegTypeInfo).
struct TRegTypeInfo {
    const char *Text;  // list text
    // Registers a value occupies: 2 for float and uint32, 1 for int, uint16
    // and BCD; 0 for string (registers) and bit (inputs), whose count the
    // user chooses.
    int Registers;
    // What the register page's count box is set to when the type is chosen:
    // the fixed count, 1 input for bit; 0 keeps the count shown (string).
    int CountOnChoice;
    // The most the count box takes: one box serves the read and the write
    // of a string, so a writable type keeps to the write's limit.
    int CountBoxMax;
    // Most registers (inputs) one read or write of the type carries.
    int MaxRead, MaxWrite;
    const char *CountUnit;  // what the count counts: "registers" or "inputs"
    bool Numeric;           // a number DecodeRegisters/EncodeValue handle
    bool WordOrder;         // the word order matters (else MSWF is used)
    bool Writable;          // false for discrete inputs, which are only read
    // The whole numbers an integer type takes (after its rounding: toward
    // zero, BCD to the nearest); none for float (any finite single-precision
    // number), string and bit.
    std::optional<TValueRange> Range;
};
// The row of Type; std::invalid_argument for a value outside the list.
const TRegTypeInfo &RegTypeInfo(TRegDataType Type);

// Single fields of that table.
int RegisterCount(TRegDataType Type);
bool IsNumericType(TRegDataType Type);
bool WordOrderApplies(TRegDataType Type);
std::optional<TValueRange> ValueRange(TRegDataType Type);
// The most registers (inputs for "bit") one read or write of Type carries.
int MaxCount(TRegDataType Type, bool Writing);

// The raw values of the comm settings' registers.
inline constexpr TValueRange CommValueRange{0, 65535};
// "Value out of range (-32768 to 32767)": the text of an OutOfRange refusal.
std::string OutOfRangeText(const TValueRange &Range);

// Why a value could not be encoded.
enum class TRegConvertKind { InvalidInteger, FloatOverflow, InvalidFloatOp, OutOfRange };

// Conversion failure with the text the user sees:
//   InvalidInteger  "'$-5' is not a valid integer value"
//   FloatOverflow   "Floating point overflow"
//   InvalidFloatOp  "Invalid floating point operation"
//   OutOfRange      OutOfRangeText(Range)
class ERegConvertError : public std::runtime_error {
public:
    ERegConvertError(TRegConvertKind Kind, const std::string &Message)
        : std::runtime_error(Message), FKind(Kind) {}
    explicit ERegConvertError(const TValueRange &Range)
        : std::runtime_error(OutOfRangeText(Range)),
          FKind(TRegConvertKind::OutOfRange),
          FRange(Range) {}
    TRegConvertKind Kind() const { return FKind; }
    // The range a value fell outside (OutOfRange only).
    const TValueRange &Range() const { return FRange; }

private:
    TRegConvertKind FKind;
    TValueRange FRange{0, 0};
};

// Decodes a numeric type from the first RegisterCount(Type) registers.
// False (Value untouched) for a BCD register with a digit A..F, for too few
// registers and for a non-numeric type. Floats with all exponent bits set
// come out as NaN or +-infinity.
bool DecodeRegisters(TRegDataType Type, TWordOrder Order, const TModbusRegisters &Regs,
                     double &Value);
// Encodes a number as RegisterCount(Type) registers. Throws ERegConvertError
// (OutOfRange for a whole number outside ValueRange(Type): nothing is ever
// written wrapped); std::invalid_argument for a non-numeric type.
TModbusRegisters EncodeValue(TRegDataType Type, TWordOrder Order, double Value);

// Registers (high byte, then low byte) up to the first zero byte, as UTF-8.
std::string DecodeText(const TModbusRegisters &Regs);
// Exactly Count registers: the text in ISO 8859-1 (characters outside it
// become '?'), zero-filled after the text; a text longer than the block is
// cut at its end.
TModbusRegisters EncodeText(const std::string &Text, int Count);
// Registers a text needs: (characters + 1) / 2.
int TextRegisterCount(const std::string &Text);
// One "0"/"1" per input, the input at the start address rightmost.
std::string FormatBits(const TModbusBits &Bits);
