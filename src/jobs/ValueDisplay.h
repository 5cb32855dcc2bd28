#pragma once
// How a decoded register value is shown, in the register page's number box
// and by `read`: the box's display format and decimals per type, and the
// text of a value.

#include <string>

#include "modbus/RegisterCodecs.h"

// "0.000" for float, "0" for the other numeric types, "" for string and
// bit (shown in the text box).
const char *DisplayFormat(TRegDataType Type);
// The decimals of that format.
int DisplayDecimals(TRegDataType Type);
// A decoded value as the number box shows it ("123.456", "-1", "0.000");
// non-finite floats give "NaN", "Inf" or "-Inf".
std::string FormatValue(TRegDataType Type, double Value);
