#pragma once
// The watch list: the registers a technician watches while a sensor
// measures, one row each, kept in a small JSON file so that a list can be
// kept per sensor kind:
//   {"watch": [{"address": 1, "register": 0, "type": "float", "order": "MSWF",
//               "count": 2, "label": "Temperature", "scale": 0.1,
//               "offset": -40, "unit": "°C"}]}
// Only "address" and "register" are required. The others default to type
// int, order MSWF, the type's own count (1 register of a string, 1 input
// of a bit), the label "ADDRESS:REGISTER", scale 1, offset 0, no unit. A
// row shows value × scale + offset.

#include <optional>
#include <string>
#include <vector>

#include "jobs/JobTexts.h"
#include "modbus/ModbusRTU.h"
#include "modbus/RegisterCodecs.h"

struct TWatchRow {
    int Address = 1;   // 1..247
    int Register = 0;  // 0..65535
    TRegDataType Type = rdtInt;
    TWordOrder Order = woMSWF;
    int Count = 1;      // registers (inputs for a bit), within one read
    std::string Label;  // unique within the list: a column of the log
    double Scale = 1, Offset = 0;
    std::string Unit;
    bool operator==(const TWatchRow &) const = default;
};

// The most rows a list holds, and the largest file read.
inline constexpr size_t CMaxWatchRows = 64;
inline constexpr size_t CMaxWatchFileBytes = 1 << 20;
inline constexpr size_t CMaxWatchText = 100;  // label and unit, bytes

struct TWatchListRead {
    std::vector<TWatchRow> Rows;
    // Why the list was refused ("" when it was read): the row and field
    // at fault, e.g. "row 2: \"address\" must be 1..247".
    std::string Error;
    bool Ok() const { return Error.empty(); }
};

// The list in the text of a watch list file.
TWatchListRead ParseWatchList(const std::string &Text);
// The list in the file Path (missing, unreadable, too big: the reason).
TWatchListRead ReadWatchListFile(const std::string &Path);
// The text of a file that reads back as Rows.
std::string WatchListText(const std::vector<TWatchRow> &Rows);

// One row read once.
struct TWatchReading {
    bool Ok = false;
    // The numeric types: value × scale + offset; none for string and bit.
    std::optional<double> Value;
    // The numeric types: the value as read, before scale and offset.
    std::optional<double> Raw;
    // What the row shows: the scaled number (FormatScaled), the text of a
    // string, the bits of a bit row.
    std::string Text;
    // A failed read: why (no answer, CRC, exception and its code, ...), or
    // the BCD that holds no number.
    TJobReason Why;
};

// Reads Row through a master whose line is open. Port errors (EComPort)
// and stop requests (EInterrupted) reach the caller.
TWatchReading ReadWatchRow(TModbusRTU &Master, const TWatchRow &Row);
// The same without the text of a number, which FillWatchText adds later
// (reads back to back leave the formatting until the line is busy).
TWatchReading ReadWatchValue(TModbusRTU &Master, const TWatchRow &Row);
// Gives a number read by ReadWatchValue its text (FormatScaled).
void FillWatchText(const TWatchRow &Row, TWatchReading &Reading);

// A scaled number as a row shows it: the type's own digits when the scale
// is 1 and the offset 0, else up to six significant digits.
std::string FormatScaled(const TWatchRow &Row, double Raw, double Scaled);

// What a row has shown over a watch.
struct TWatchStats {
    long Good = 0, Errors = 0;
    std::optional<double> Min, Max;  // of the numeric values
    double Sum = 0;
    long Numbers = 0;
    uint64_t LastGoodMs = 0;  // when the last good read came (the watch's clock)
    void Add(const TWatchReading &Reading, uint64_t NowMs);
    std::optional<double> Mean() const;
};
