#pragma once
// The texts the jobs give as their reasons and results: one table for both
// faces. veldra-cli prints them as they are; the windows show them in the
// user's language (the English text is the translation's source).

#include <string>
#include <vector>

enum class TJobText {
    None,
    PortNotSelected,
    // firmware
    NotFound,
    NotConnected,
    NotLoaded,
    InvalidCodFile,
    Mismatch,
    OlderQuestion,
    SameQuestion,
    UpdateOk,
    UpdateFailed,
    RetryHint,
    TooBigToUpload,   // %1 packets, %2 the most an upload carries
    EarlyCompletion,  // %1 the packet, %2 the packets of the image
    UploadStopped,    // %1 what the port or the file said
    // the production station (jobs/StationJob.h)
    StationSameVersion,
    StationOlderFile,
    StationStopped,
    // setup
    InvalidAddresses,
    RegisterNotSpecified,
    ValueNotSpecified,
    TooFewRegisters,
    ReadError,
    WriteError,
    InvalidBCD,
    Saved,
    RestartNeeded,
    ValueOutOfRange,  // %1, %2: the range's ends (OutOfRangeText in English)
    // why a Modbus operation failed (second line after ReadError/WriteError)
    ModbusNoAnswer,
    ModbusBadCrc,
    ModbusWrongAddress,
    ModbusWrongFunction,
    ModbusWrongLength,
    ModbusWrongEcho,
    ModbusTooLong,
    ModbusException1,
    ModbusException2,
    ModbusException3,
    ModbusException4,
    ModbusException5,
    ModbusException6,
    ModbusException8,
    ModbusException10,
    ModbusException11,
    ModbusExceptionOther,  // %1 the code
    // which check of a firmware file failed (second line after InvalidCodFile)
    CodTooShort,
    CodWrongSize,
    CodBadHeader,
    CodBadChecksum,
    // a port that could not be used (jobs/PortProblem.h): %1 the port
    PortDenied,
    PortJoinGroup,  // %1 the device's group
    PortAskAdmin,   // %1 the device's group (root's)
    PortBusy,
    PortBusyRemedy,
    PortMissing,
    PortMissingRemedy,
    PortUnreachable,
    PortUnreachableRemedy,
    PortRefused,
    PortRefusedRemedy,
    PortOther,  // %2 what the port and the system said
    ScanPortFailed,
    // the line search (jobs/FindJob.h)
    FindNotOurLine,  // %1 the port
    FindNothing,
};

// The English text; "" for None.
const char *JobText(TJobText Text);

// A text of the table with its arguments: "%1", "%2", ... in the text stand
// for them (numbers, what a port said). The windows translate the text
// first and fill in the arguments after.
struct TJobReason {
    TJobText Text = TJobText::None;
    std::vector<std::string> Args;

    TJobReason() = default;
    TJobReason(TJobText T, std::vector<std::string> A = {}) : Text(T), Args(std::move(A)) {}
    bool Empty() const { return Text == TJobText::None; }
    bool operator==(const TJobReason &) const = default;
};

// Fills "%1" to "%9" of Template with Args in one pass (an argument's own
// "%2" stays as it is); a number without its argument stays too.
std::string FillJobArgs(const std::string &Template, const std::vector<std::string> &Args);
// The English text of a reason, arguments filled in; "" for none.
std::string JobText(const TJobReason &Reason);
