#include "jobs/ValueDisplay.h"

#include <charconv>
#include <cmath>
#include <cstdio>

const char *DisplayFormat(TRegDataType Type) {
    if (!IsNumericType(Type)) return "";
    return Type == rdtFloat ? "0.000" : "0";
}

int DisplayDecimals(TRegDataType Type) {
    return Type == rdtFloat ? 3 : 0;
}

std::string FormatValue(TRegDataType Type, double Value) {
    if (std::isnan(Value)) return "NaN";
    if (std::isinf(Value)) return Value > 0 ? "Inf" : "-Inf";
    // Whole numbers without decimals (every integer type) as integers: the
    // same digits as below, without the floating-point formatter (a watch
    // formats one per row and round).
    if (DisplayDecimals(Type) == 0 && Value == std::trunc(Value) && std::fabs(Value) < 9.0e18) {
        char Digits[24];
        const auto End =
            std::to_chars(Digits, Digits + sizeof Digits, static_cast<long long>(Value));
        return std::string(Digits, End.ptr);
    }
    char Buf[400];
    std::snprintf(Buf, sizeof Buf, "%.*f", DisplayDecimals(Type), Value);
    std::string Text = Buf;
    // A value that rounds to zero is shown without a sign.
    if (Text[0] == '-' && Text.find_first_not_of("-0.") == std::string::npos) Text.erase(0, 1);
    return Text;
}
