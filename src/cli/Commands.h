#pragma once
// The commands of the command line: their options as parsed, and the code
// that runs them. Each returns the program's exit code.

#include <optional>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "modbus/ModbusRTU.h"
#include "modbus/RegisterCodecs.h"

// Line settings of the Modbus commands, as typed (CmdModbus.cpp turns them
// into the port's parameters).
struct TLineOptions {
    std::string Baud = "19200";
    std::string Parity = "even";
    std::string StopBits = "1";
    int Timeout = 100;  // kept within CMinTimeout..CMaxTimeout
};
inline constexpr int CMinTimeout = 100;
inline constexpr int CMaxTimeout = 3000;

struct TFlashOptions {
    std::vector<std::string> Ports;
    bool Yes = false;
    std::string File;
    std::string Records;  // --records FILE: where the update records go
    bool NoRecord = false;
};

struct THistoryOptions {
    std::string Since, Sensor, Port, Result, Records;
    bool Csv = false;
};

struct TStationCliOptions {
    std::vector<std::string> Ports;  // globs; none: every port found
    bool YesOlder = false;
    int Interval = 2000;  // ms between two looks at a port
    std::string Records;  // empty: DefaultRecordsPath()
    bool NoRecord = false;
    std::string File;
};

struct TScanOptions {
    std::string Port;
    int First = 1;
    int Last = 247;
    TLineOptions Line;
};

struct TFindCliOptions {
    std::string Port;
    std::string Bauds, Parities;  // comma-separated; empty: the default plan's
    int First = 1;
    int Last = 247;
    int ProbeTimeout = 20;
    bool All = false;
};

struct TWatchCliOptions {
    std::string Port;
    std::string List;  // a watch list file, or the one row below
    std::optional<int> Addr, Reg, Regs;
    std::string Type = "int";
    std::string Order = "MSWF";
    std::string Label, Unit;
    double Scale = 1, Offset = 0;
    int Interval = 1000;           // ms; 0 reads back to back
    std::optional<long> Count;     // rounds
    std::optional<long> Duration;  // seconds
    std::string Csv;
    TLineOptions Line;
};

struct TRegOptions {
    std::string Port;
    int Addr = 1;
    int Reg = 0;
    std::string Type = "int";
    std::optional<int> Count;
    std::string Order = "MSWF";
    TLineOptions Line;
    std::optional<std::string> Value;  // write only
};

// One row of the comm setup: register and, for a write, value.
struct TCommRow {
    std::optional<int> Reg;
    std::optional<long long> Value;
};
struct TCommOptions {
    std::string Port;
    int Addr = 1;
    TCommRow Baud, Framing, Address;
    TLineOptions Line;
};

int RunPorts(TCliContext &Ctx);
int RunInfo(TCliContext &Ctx, const std::string &File);
int RunIdentify(TCliContext &Ctx, const std::string &Port);
int RunFlash(TCliContext &Ctx, const TFlashOptions &Opt);
int RunStation(TCliContext &Ctx, const TStationCliOptions &Opt);
struct THistoryOptions;
int RunHistory(TCliContext &Ctx, const THistoryOptions &Opt);
int RunScan(TCliContext &Ctx, const TScanOptions &Opt);
int RunFind(TCliContext &Ctx, const TFindCliOptions &Opt);
int RunWatch(TCliContext &Ctx, const TWatchCliOptions &Opt);
int RunRead(TCliContext &Ctx, const TRegOptions &Opt);
int RunWrite(TCliContext &Ctx, const TRegOptions &Opt);
int RunCommRead(TCliContext &Ctx, const TCommOptions &Opt);
int RunCommWrite(TCliContext &Ctx, const TCommOptions &Opt);

// Shared by info and flash: the JSON facts of a valid firmware file, and the
// check of a file that reports why it failed (missing, unreadable, invalid).
struct TCODFileData;
struct TFirmwareImage;
using TByteArray = std::vector<uint8_t>;
class TSettings;
nlohmann::json FirmwareJson(const TSettings &Settings, const TCODFileData &Hdr);
// Reads a firmware file once and checks it; on failure (a file too big to
// upload included) reports why and returns false. Hdr then still describes a
// file whose header could be checked (HeaderSize not 0). With KeepBytes
// Image holds the bytes to upload; without, the file is only checked (its
// checksum streamed, nothing kept).
bool CheckFirmwareFile(TResult &Result, const std::string &File, TFirmwareImage &Image,
                       bool KeepBytes);

// Builds the parser, runs the chosen command on standard output and
// standard error and returns the exit code.
int RunCli(int argc, char **argv);
