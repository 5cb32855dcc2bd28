#pragma once
// The watch's CSV log, the same file from both faces: a header of comments
// naming the program, the port and line settings and every row, then
//   time,<label>...,errors
// and one line per round: the ISO-8601 UTC time, each row's value (an empty
// cell where the read failed) and the failed rows' reasons. Each line is
// flushed as it is written, so a crash loses at most the round in progress.

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "jobs/WatchJob.h"
#include "jobs/WatchList.h"

// "2026-12-11T07:45:00.123Z"
std::string IsoUtcTime(std::chrono::system_clock::time_point At);

// A CSV cell: quoted when it holds a comma, a quote or a line break.
std::string CsvCell(const std::string &Text);

// What the header names.
struct TWatchLogHead {
    std::string Program;  // "veldra-cli 1.2.3": the face and its version
    std::string Port;
    std::string Baud, Parity, StopBits;  // as the face names them
};

class TWatchLog {
public:
    // Creates (or empties) Path and writes the header; false when the file
    // cannot be written.
    bool Open(const std::string &Path, const TWatchLogHead &Head,
              const std::vector<TWatchRow> &Rows);
    bool IsOpen() const { return FOut.is_open(); }
    // One round at Time (IsoUtcTime); nothing while no file is open.
    void Write(const std::string &Time, const TWatchPoll &Poll);
    // A write failed (a full disk, a vanished medium).
    bool Failed() const { return FOut.is_open() && !FOut; }
    void Close();

private:
    std::ofstream FOut;
    std::vector<TWatchRow> FRows;
};
