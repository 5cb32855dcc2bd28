#pragma once
// The production station: watches a set of ports and updates every sensor in
// bootloader mode that appears on one of them, several ports at once (one
// thread per port, as a flash of several ports does).
//
// Each port present gets a worker that looks for a sensor every interval
// (identification at both bit rates; nothing else is sent to a port between
// looks). A sensor found is checked against the file: a device the file is
// not for fails, a file older than the sensor is skipped unless allowed, a
// sensor that already has the file's version is skipped; every other sensor
// is updated. Each result (and each skip) is recorded. After a result the
// port rests until a look finds no sensor in bootloader mode on it (or the
// port goes away): the same sensor is never updated, skipped or failed twice
// in a row.
//
// The ports come from a lister (globs, or the ports discovery lists), read
// again every interval and at once when the hot-plug source says a port came
// or went. Everything that happens is reported through one callback, called
// from one thread at a time.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/BootTypes.h"
#include "jobs/FirmwareJob.h"
#include "jobs/JobTexts.h"
#include "serial/Clock.h"
#include "serial/LinkFactory.h"

class TSettings;

enum class TStationEvent {
    Waiting,      // the port is there, no sensor on it (yet, or any more)
    Identifying,  // a sensor answered; it is checked against the file
    Uploading,    // Percent of the file sent
    Done,         // updated
    Failed,       // Reason says why
    Skipped,      // not updated, Reason says why (current already, older file)
    Stopped,      // the station was stopped in the middle of an upload
    PortProblem,  // the port could not be used (Reason); looked at again later
    Gone,         // the port went away
};
// "waiting", "identifying", "uploading", "done", "failed", "skipped",
// "stopped", "port-problem", "gone".
const char *StationEventName(TStationEvent Event);

struct TStationTotals {
    int Ok = 0, Failed = 0, Skipped = 0, Stopped = 0;
    bool operator==(const TStationTotals &) const = default;
};

struct TStationSensor {
    uint16_t SensorID = 0;
    TSensorVersion Version{};
    int BaudRate = 0;
};

struct TStationReport {
    std::string Port;
    TStationEvent Event = TStationEvent::Waiting;
    std::string TimeUtc;                   // when it happened, ISO 8601
    int Percent = 0;                       // Uploading (and the last value after it)
    int Sent = 0, Fail = 0;                // packets acknowledged, failed attempts
    std::optional<TStationSensor> Sensor;  // from Identifying to the result
    TJobReason Reason;                     // Failed, Skipped, Stopped, PortProblem
    std::string RecordError;               // the result's record could not be written: why
    TStationTotals Totals;                 // after this event
};

// Per port, over the whole run (a port that goes and comes back keeps its
// counts).
struct TStationPortSummary {
    std::string Port;
    int Ok = 0, Failed = 0, Skipped = 0, Stopped = 0;
    TStationEvent Last = TStationEvent::Waiting;
    TJobReason LastReason;
    // The bit rate of the last sensor found on the port (0: none yet); the
    // next look may try it first.
    int LastBaudRate = 0;
};

struct TStationOptions {
    // Ports to watch, as path globs ("/dev/ttyUSB*"; a name without a slash
    // is under /dev). Empty: every local port the discovery lists.
    std::vector<std::string> Globs;
    bool YesOlder = false;    // update also when the file is older than the sensor
    int IntervalMs = 2000;    // from the end of one look at a port to the next
    std::string FileName;     // the file as given (records)
    std::string RecordsPath;  // where records go; empty: none
};

// A source of hot-plug notices: a descriptor that becomes readable when a
// port may have come or gone, and the call that reads what is pending.
class TPortEvents {
public:
    virtual ~TPortEvents() = default;
    virtual int Fd() const = 0;
    // Reads what is pending; true when a port came or went.
    virtual bool Drain() = 0;
};
// The udev monitor (serial/HotPlug.h), registered while it lives; null when
// udev is not available. Use it from one thread only.
std::unique_ptr<TPortEvents> MakeUdevPortEvents();

// The ports Globs name that exist now, in natural order, each once. No
// globs: the local ports of the discovery (no network ports).
std::vector<std::string> ListStationPorts(const std::vector<std::string> &Globs);

// What tests replace.
struct TStationSeams {
    TLineMaker MakeLine;                                  // empty: the real lines
    std::function<std::vector<std::string>()> ListPorts;  // empty: ListStationPorts
    TPortEvents *HotPlug = nullptr;                       // none: only the periodic look
    TClock *Clock = nullptr;                              // durations; none: the system's
    std::function<std::string()> UtcNow;                  // event times; empty: the system's
};

class TStationJob {
public:
    using TOnReport = std::function<void(const TStationReport &)>;

    // Image must be a sound image and outlive the job; Settings gives the
    // update limits and the sensor names of the records.
    TStationJob(const TFirmwareImage &Image, const TSettings &Settings, TStationOptions Options,
                TOnReport OnReport, TStationSeams Seams = {});
    ~TStationJob();
    TStationJob(const TStationJob &) = delete;
    TStationJob &operator=(const TStationJob &) = delete;

    // Watches and updates until Stop() or a stop request (serial/Interrupt.h);
    // returns when every worker has ended (an upload under way ends at its
    // next packet, as failed-by-stop: "stopped").
    void Run();
    // Ends Run (any thread).
    void Stop();
    // Reads the port list again now (any thread): a hot-plug notice that
    // arrives elsewhere (a window's monitor).
    void PortsChanged();

    TStationTotals Totals() const;
    std::vector<TStationPortSummary> Summary() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> F;
};

// "2026-12-11T07:45:00.123Z", now.
std::string StationUtcNow();
