#pragma once
// The record of every update attempt: one JSON object per line, appended to
// a file that several processes may write at once (the window, parallel
// flash runs, a station). A line is written whole or not at all; a damaged
// last line is skipped when the file is read.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// Appends one record. Returns an empty string when it is on disk, else why
// not (the update goes on; the face warns).
std::string AppendUpdateRecord(const std::string &Path, const TUpdateRecord &Record);
