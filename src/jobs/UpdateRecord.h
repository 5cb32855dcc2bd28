#pragma once
// The record of every update attempt: one JSON object per line, appended to
// a file that several processes may write at once (the window, parallel
// flash runs, a station). A line is written whole or not at all; a damaged
// last line is skipped when the file is read.
//
// The fields of a line (snake_case; strings unless said otherwise):
//   source            "wizard", "flash" or "station"
//   start_utc         ISO 8601 UTC with milliseconds, 2026-12-11T08:39:08.123Z
//   end_utc           the same, when the attempt ended
//   user, host        who ran it, on which computer
//   program_version   the version of veldra-update / veldra-cli
//   port              the port as given (/dev/ttyUSB0, rfc2217://host:port)
//   adapter_vendor, adapter_model, adapter_serial
//                     the USB adapter as udev knows it; "" for a network port
//                     or a device udev does not describe
//   sensor_id         number, or null when no sensor was found
//   sensor_name       the catalogue's name of the sensor kind, "" when unknown
//   version_before    the sensor's version before ("1.04"), "" without a sensor
//   version_in_file   the firmware file's version
//   file_name         the firmware file as given
//   file_size         number: bytes
//   file_sha256       64 lower-case hex digits
//   packets           number: data packets acknowledged
//   retries           number: packets sent again after a failed attempt
//   failed_attempts   number: attempts without a valid acknowledgement
//   duration_ms       number: start to end
//   result            "ok", "failed", "skipped" (not confirmed, already
//                     current) or "stopped" (a signal or the user)
//   reason            the result in the words veldra-cli prints (English)
// A reader ignores fields it does not know, so lines may gain fields.

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

struct TUploadResult;
struct TFirmwareImage;
struct TBootSensor;
class TSettings;

struct TUpdateRecord {
    std::string Source;            // "wizard", "flash", "station"
    std::string StartUtc, EndUtc;  // ISO 8601, UTC, milliseconds
    std::string User, Host, ProgramVersion;
    std::string Port;
    std::string AdapterVendor, AdapterModel, AdapterSerial;  // where udev knows them
    std::optional<uint16_t> SensorID;
    std::string SensorName;     // from the catalogue, empty when unknown
    std::string VersionBefore;  // "1.04"; empty when no sensor was found
    std::string VersionInFile;
    std::string FileName;  // as given
    uint64_t FileSize = 0;
    std::string FileSha256;  // lower-case hex
    int Packets = 0, Retries = 0, FailedAttempts = 0;
    uint64_t DurationMs = 0;
    std::string Result;  // "ok", "failed", "skipped", "stopped"
    std::string Reason;  // the reason as the faces show it, English
};

// Where records go by default: $XDG_STATE_HOME/veldra-update/updates.jsonl,
// else ~/.local/state/veldra-update/updates.jsonl.
std::string DefaultRecordsPath();

// Where a run records, "" for nowhere. NoRecord (--no-record) wins, then
// Option (--records FILE), then RECORDS= of the settings file: "off" records
// nothing, "~/" stands for the home folder, and a relative path is taken
// from the settings file's folder. Otherwise DefaultRecordsPath().
std::string RecordsPath(const TSettings &Settings, const std::string &Option = {},
                        bool NoRecord = false);

// A record is refused above this length (no field comes near it) and a
// reader skips a longer line without keeping it.
inline constexpr size_t CMaxRecordLine = 64 * 1024;

// Appends one record. Returns an empty string when it is on disk, else why
// not (the update goes on; the face warns).
//
// Missing folders are made (mode 0700); the file is created with mode 0644
// (less the umask): readable by others where a folder is shared, written by
// its owner. The line is written with one write() under an exclusive flock
// (waited for at most CRecordLockWaitMs), then fsync'ed. A last line left
// without its newline (a power cut) is closed first, so the new record stays
// a line of its own; a short write is cut off again.
inline constexpr int CRecordLockWaitMs = 10000;
std::string AppendUpdateRecord(const std::string &Path, const TUpdateRecord &Record);

// The line of a record (without the newline), and a record from a parsed
// line: nullopt when it is no object, a known field has the wrong type, or
// start_utc or result is missing.
nlohmann::json UpdateRecordJson(const TUpdateRecord &Record);
std::optional<TUpdateRecord> UpdateRecordFromJson(const nlohmann::json &Json);

// Reading the file. Only the newest CMaxRecordsFileBytes are read (and at
// most CMaxRecords records kept, the newest): a file grown beyond them loses
// its oldest lines to the reader, never the memory.
inline constexpr uint64_t CMaxRecordsFileBytes = 32ull * 1024 * 1024;
inline constexpr size_t CMaxRecords = 100000;
struct TRecordsRead {
    bool Missing = false;                // there is no file yet: no records, no error
    std::string Error;                   // the file could not be read: why ("" when read)
    std::vector<TUpdateRecord> Records;  // file order
    int Damaged = 0;                     // lines skipped: not a whole record
    int FirstDamagedLine = 0;            // its line number (1-based)
    bool Truncated = false;              // older records left unread (the caps)
};
TRecordsRead ReadUpdateRecords(const std::string &Path);
// The warnings of a read (damaged lines, records left unread); empty when
// there are none. English; the window translates its own.
std::vector<std::string> RecordsWarnings(const TRecordsRead &Read, const std::string &Path);

// ------------------------------------------------------------ filling in

// A time as start_utc and end_utc write it.
std::string UtcIsoText(std::chrono::system_clock::time_point Time);

// Start and end of one record: Start stamps StartUtc, Stop stamps EndUtc
// and DurationMs (measured on the monotonic clock).
class TRecordTimer {
public:
    void Start(TUpdateRecord &Record);
    void Stop(TUpdateRecord &Record) const;

private:
    std::chrono::steady_clock::time_point FStarted = std::chrono::steady_clock::now();
};

// Source, user, host, program version, port and the adapter behind it.
void FillRecordOrigin(TUpdateRecord &Record, const std::string &Source, const std::string &Port);
// File name, size, SHA-256 and version of a loaded image.
void FillRecordFile(TUpdateRecord &Record, const std::string &FileName, const TFirmwareImage &Image,
                    const TSettings &Settings);
// The sensor found: ID, catalogue name, version.
void FillRecordSensor(TUpdateRecord &Record, const TBootSensor &Sensor, const TSettings &Settings);
// The sensor kind's name in the catalogue, "" when it has none.
std::string CatalogueName(const TSettings &Settings, int SensorID);

// Counts the retries of an upload from its progress reports: every attempt
// is reported, so a report after one that counted a failed attempt is that
// packet sent again.
class TRetryTally {
public:
    void Report(int Sent, int Fail);
    int Retries() const { return FRetries; }

private:
    int FRetries = 0, FLastFail = 0;
    bool FPending = false;
};
// Packets, failed attempts, result "ok"/"failed" and its reason from an upload.
void FillRecordUpload(TUpdateRecord &Record, const TUploadResult &Upload, int Retries);

// ----------------------------------------------------------------- history

// Which records a listing shows; an empty field lets every record through.
struct TRecordFilter {
    std::string Since;  // a start_utc text (ParseRecordTime); records from then on
    std::optional<uint16_t> SensorID;
    std::string Port;    // ttyUSB0 and /dev/ttyUSB0 are the same port
    std::string Result;  // ok, failed, skipped, stopped
    bool Matches(const TUpdateRecord &Record) const;
};

// YYYY-MM-DD (the day's start, UTC) or an ISO 8601 time
// (YYYY-MM-DDTHH:MM[:SS[.mmm]], a blank for the T, Z or +HH:MM / -HH:MM or
// nothing for UTC) as start_utc writes it; nullopt when it is neither.
std::optional<std::string> ParseRecordTime(const std::string &Text);

// The columns of the CSV and the table, in order: the JSON field names.
const std::vector<std::string> &RecordColumns();
// One record as texts in the order of RecordColumns().
std::vector<std::string> RecordCells(const TUpdateRecord &Record);
// A header line and one line per record, RFC 4180 (fields with a comma,
// quote or line break quoted), each line ended by a newline.
std::string RecordsCsv(const std::vector<TUpdateRecord> &Records);
