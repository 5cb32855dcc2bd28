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

#include "modbus/RegisterCodecs.h"

struct TWatchRow {
    int Address = 1;  // 1..247
    int Register = 0;  // 0..65535
    TRegDataType Type = rdtInt;
    TWordOrder Order = woMSWF;
    int Count = 1;  // registers (inputs for a bit), within one read
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
