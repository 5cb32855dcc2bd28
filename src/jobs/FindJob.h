#pragma once
// The line search: a device whose address, bit rate and framing nobody
// remembers is found by trying line settings one after another, each over an
// address range, with the scan's own probe and recognition. The port is
// opened once and switched in place between settings: it stays held for the
// whole search, and no setting pays an open and a close.
//
// A probe costs what the line makes it cost and no more: the request on the
// wire, then the probe's own time-out of silence (an answer that has begun
// keeps the wait going byte by byte, as in every exchange).

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobs/JobTexts.h"
#include "jobs/ScanJob.h"
#include "serial/LineTypes.h"

class TSettings;

// One line setting a search tries. Eight data bits always (Modbus RTU).
struct TLineSetting {
    TBaudRate Baud = br9600;
    TParityBits Parity = prEven;
    TStopBits StopBits = sbOneStopBit;
    bool operator==(const TLineSetting &) const = default;
};
// "19200 8E1", "9600 8N2".
std::string LineSettingText(const TLineSetting &S);

// The bit rates and parities of the default plan, in the order tried: the
// commonest first, the slowest last (it costs the most per probe).
inline constexpr std::array<TBaudRate, 6> FindBauds{br9600,  br19200,  br38400,
                                                    br57600, br115200, br4800};
inline constexpr std::array<TParityBits, 3> FindParities{prEven, prNone, prOdd};

struct TFindPlanOptions {
    // Tried before the rest, in this order: the settings the catalogue
    // names as sensor defaults, the window's current settings.
    std::vector<TLineSetting> Preferred;
    // Narrow the plan (Preferred included); empty: FindBauds, FindParities.
    std::vector<TBaudRate> Bauds;
    std::vector<TParityBits> Parities;
};

// The settings in the order tried: the preferred ones the narrowing keeps,
// then every bit rate with every parity. Every setting has one stop bit (a
// device set to two reads and answers one-stop frames all the same) and
// comes once.
std::vector<TLineSetting> FindPlan(const TFindPlanOptions &Options);

// A line setting as written in the settings file and shown: "19200 8E1",
// "9600 8N2" (a bit rate of the list, 8 data bits, N, E or O, 1 or 2 stop
// bits); nullopt for anything else.
std::optional<TLineSetting> LineSettingFromText(const std::string &Text);
// The line settings the catalogue names as its sensors' defaults (LINE= of
// the [SENSOR n] sections), in the order of the file, each once.
std::vector<TLineSetting> CatalogueLineSettings(const TSettings &Catalogue);

// Time-out of a probe in milliseconds: the default and the range allowed.
inline constexpr int CFindProbeTimeoutMs = 20;
inline constexpr int CFindMinProbeTimeoutMs = 5;
inline constexpr int CFindMaxProbeTimeoutMs = 1000;
// Time-out of the reads that identify a device that answered a probe: a
// sensor may take longer over its vendor text than over one register.
inline constexpr int CFindIdentifyTimeoutMs = 200;

// Bits one character takes at S: start bit, eight data bits, parity, stop.
int CharBits(const TLineSetting &S);
// Milliseconds Bytes characters take on the wire at S.
double WireMs(const TLineSetting &S, int Bytes);
// The least a silent probe can take at S: its request on the wire, then
// the time-out.
double ProbeFloorMs(const TLineSetting &S, int TimeoutMs);
// The time-out a probe at S waits on a line whose Write returns before the
// request has left the transmitter (a network serial server): the request
// and the longest probe answer on the wire are added to it there.
int ProbeTimeoutFor(const TLineSetting &S, int TimeoutMs, bool Remote);

struct TFindOptions {
    std::string Port;
    TFindPlanOptions Plan;
    int First = 1, Last = 247;
    int ProbeTimeoutMs = CFindProbeTimeoutMs;
    // Go on through the whole plan; otherwise the search ends with the
    // address range of the first setting a device answered at (devices on
    // one line share its settings).
    bool All = false;
};

struct TFindDevice {
    TScanDevice Device;  // as a scan lists it
    TLineSetting Setting;
};

// After each probe.
struct TFindStep {
    const TLineSetting *Setting = nullptr;
    int SettingIndex = 0, SettingCount = 0;  // 0-based index into the plan
    int Address = 0;
    long Probed = 0, Total = 0;  // probes done, and in the whole plan
    int Found = 0;
    int Percent = 0;  // of the whole plan
    uint64_t ElapsedMs = 0;
    uint64_t RestMs = 0;  // estimate for the rest of the plan
    const TFindDevice *Device = nullptr;
};
using TFindReport = std::function<void(const TFindStep &Step)>;

struct TFindResult {
    std::vector<TLineSetting> Plan;
    int SettingsTried = 0;  // settings of the plan searched (begun)
    long Probed = 0;
    std::vector<TFindDevice> Devices;
    bool Stopped = false;  // the stop flag or a stop request ended it
    // The port failed: it did not open (OpenFailed), or failed during the
    // search (unplugged); what was found stays.
    std::optional<EComPort> PortError;
    bool OpenFailed = false;
    // The port cannot be searched at all (a network line whose settings
    // are its server's): nothing was sent.
    TJobReason Refused;
    uint64_t ElapsedMs = 0;
};

// Searches; Stop is looked at before every probe and may be set from
// another thread. A stop request of the process (serial/Interrupt.h) ends
// the probe in progress at once. The line comes from Make.
TFindResult RunFindJob(const TFindOptions &Options, const TSettings &Catalogue,
                       const std::atomic<bool> &Stop, const TFindReport &OnStep,
                       const TLineMaker &Make = MakeLine);
