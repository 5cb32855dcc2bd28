#pragma once
// The firmware update, step by step: find the sensor in bootloader mode,
// load the image once and check it, decide what to ask before an upload,
// upload it with progress. The same steps for the wizard and veldra-cli;
// neither asks anything here, the results say what to ask or show.

#include <optional>
#include <string>

#include "bootloader/CodFile.h"
#include "bootloader/XComm.h"
#include "jobs/JobTexts.h"
#include "serial/LineTypes.h"
#include "serial/LinkFactory.h"
#include "settings/Settings.h"

// Puts the update limits of the settings file on a link (the link raises
// them to its minimums).
void ApplyUpdateLimits(TXComm &Link, const TFWUpdSettings &Limits);

// The line of one sensor's update: the link its port name calls for and
// the bootloader protocol on it, with the update limits of the settings.
// The line closes with it.
class TBootLine {
public:
    TBootLine(TLine Line, const TFWUpdSettings &Limits);
    // The same for Port, made by the link factory.
    TBootLine(const std::string &Port, const TFWUpdSettings &Limits);
    TBootLine(const TBootLine &) = delete;
    TBootLine &operator=(const TBootLine &) = delete;

    TXComm &XComm() { return FXComm; }
    const TXComm &XComm() const { return FXComm; }
    const TLineAddress &Address() const { return FLine.Address; }

private:
    TLine FLine;  // declared first: the protocol closes it before it goes
    TXComm FXComm;
};

struct TBootSensor {
    bool Found = false;
    // The port itself could not be opened, and why; empty when it opened
    // and no sensor answered.
    std::optional<EComPort> PortError;
    uint16_t SensorID = 0;
    TSensorVersion Version{};
    int BaudRate = 0;
};

// Opens the line and looks for a sensor in bootloader mode at every bit
// rate. A Modbus TCP gateway carries no bootloader protocol: its line is
// refused as a port error, unopened.
TBootSensor IdentifyBootSensor(TBootLine &Line);

// A firmware file read once, whole: an upload sends exactly these bytes.
struct TFirmwareImage {
    TCodLoad Load = TCodLoad::Invalid;
    TCODFileData Hdr;                   // set for Ok and TooBig
    TFirmwareBytes Bytes;               // the file, for Ok only (LoadFirmwareImage)
    TCodCheck Check = TCodCheck::None;  // Invalid: the check that refused it
    bool Ok() const { return Load == TCodLoad::Ok; }
    // Why it cannot be uploaded: the size for TooBig, "Invalid COD file"
    // otherwise; none for Ok.
    TJobReason Problem() const;
    // Invalid: which check failed (the line after "Invalid COD file");
    // none otherwise.
    TJobReason CheckReason() const;
};

// Reads and checks Path, keeping the bytes for an upload. A file that
// exists but cannot be read raises EFileError.
TFirmwareImage LoadFirmwareImage(const std::string &Path);
// Checks Path the same way without keeping it (the checksum streams through
// a fixed buffer): for showing what a file is. Bytes stays empty.
TFirmwareImage CheckFirmwareImage(const std::string &Path);

// What the user is asked before the upload.
enum class TVersionQuestion { None, Older, Same };

struct TUpdateCheck {
    TJobText Refusal = TJobText::None;  // Mismatch: no upload at all
    TVersionQuestion Question = TVersionQuestion::None;
};

// Checks a found sensor against a loaded image: the device must match; a
// file older than or as old as the sensor needs the user's yes.
TUpdateCheck CheckUpdate(uint16_t SensorID, TSensorVersion Sensor, const TCODFileData &Hdr);
TJobText QuestionText(TVersionQuestion Question);

struct TUploadResult {
    bool Ok = false;
    // Why it failed, when more can be said than "Sensor update failed": the
    // sensor reported the image complete too early, or the port or the file
    // raised (EarlyCompletion, UploadStopped).
    TJobReason Error;
    int Sent = 0, Fail = 0, Progress = 0;
    TJobText Text() const { return Ok ? TJobText::UpdateOk : TJobText::UpdateFailed; }
};

// Uploads a sound image over an identified link and waits for the sensor to
// start the new firmware (the link's final check). Errors of the port end
// it as a failed update; the link stays open.
TUploadResult UploadFirmware(TXComm &Link, const TFirmwareImage &Image,
                             const TOnProgress &OnProgress);
