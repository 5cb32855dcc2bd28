#pragma once
// The watch: the rows of a watch list read round after round on one open
// line, at a steady interval or back to back, each round reported as it
// comes (back to back: once the next round's first request is out, so that
// reporting overlaps the sensor's answer). A failed read marks its row and
// the watch goes on; a port error or a stop request ends it with what was
// read so far, every round read reported.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobs/WatchList.h"
#include "modbus/ModbusLine.h"

// The interval between rounds: 0 reads back to back, else this range.
inline constexpr int CMinWatchIntervalMs = 100;
inline constexpr int CMaxWatchIntervalMs = 3600 * 1000;

struct TWatchOptions {
    std::string Port;
    TPortParams Params;
    std::vector<TWatchRow> Rows;
    int IntervalMs = 1000;
    long MaxPolls = 0;        // 0: no limit
    uint64_t DurationMs = 0;  // 0: no limit
};

// One round: when it began (ms since the watch began) and every row's
// reading, in list order.
struct TWatchPoll {
    long Index = 0;  // 0-based
    uint64_t AtMs = 0;
    std::vector<TWatchReading> Readings;
};
using TWatchReport = std::function<void(const TWatchPoll &Poll)>;

struct TWatchResult {
    long Polls = 0;
    long GoodPolls = 0;              // rounds in which at least one row was read
    std::vector<TWatchStats> Stats;  // per row
    std::optional<EComPort> PortError;
    bool OpenFailed = false;  // the port never opened (PortError says why)
    bool Stopped = false;     // the stop flag or a stop request ended it
    uint64_t ElapsedMs = 0;
};

// Watches until MaxPolls or DurationMs is reached, Stop is set (looked at
// between rounds and at least every 100 ms of a wait) or a stop request
// comes; IntervalMs outside 0 and the range is brought into it.
TWatchResult RunWatchJob(const TWatchOptions &Options, const std::atomic<bool> &Stop,
                         const TWatchReport &OnPoll, const TLineMaker &Make = MakeLine);
