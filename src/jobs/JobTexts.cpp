#include "jobs/JobTexts.h"

#include <cstddef>

// Marks a text for the windows' translation (lupdate reads this file; the
// windows translate in the context "TJobText"). No Qt here: the mark is a
// plain string.
#define QT_TRANSLATE_NOOP(Context, Text) Text

const char *JobText(TJobText Text) {
    switch (Text) {
        case TJobText::None:
            return "";
        case TJobText::PortNotSelected:
            return QT_TRANSLATE_NOOP("TJobText", "COM port not selected");
        case TJobText::NotFound:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "Unable to find sensor or sensor is not in bootloader mode");
        case TJobText::NotConnected:
            return QT_TRANSLATE_NOOP("TJobText", "Sensor connection not established");
        case TJobText::NotLoaded:
            return QT_TRANSLATE_NOOP("TJobText", "Firmware file not loaded");
        case TJobText::InvalidCodFile:
            return QT_TRANSLATE_NOOP("TJobText", "Invalid COD file");
        case TJobText::Mismatch:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "The selected firmware does not match the connected device");
        case TJobText::OlderQuestion:
            return QT_TRANSLATE_NOOP(
                "TJobText",
                "The firmware version selected is older than the sensor version. "
                "Do you want to proceed with the update?");
        case TJobText::SameQuestion:
            return QT_TRANSLATE_NOOP(
                "TJobText",
                "The firmware version selected is the same as the sensor version. "
                "Do you want to proceed with the update?");
        case TJobText::UpdateOk:
            return QT_TRANSLATE_NOOP("TJobText", "Firmware update successful");
        case TJobText::UpdateFailed:
            return QT_TRANSLATE_NOOP("TJobText", "Sensor update failed");
        case TJobText::RetryHint:
            return QT_TRANSLATE_NOOP("TJobText", "Please reconnect the sensor and try again");
        case TJobText::TooBigToUpload:
            return QT_TRANSLATE_NOOP(
                "TJobText", "The firmware file is too big to upload (%1 packets, at most %2)");
        case TJobText::EarlyCompletion:
            return QT_TRANSLATE_NOOP(
                "TJobText", "The sensor reported the image complete after packet %1 of %2");
        case TJobText::UploadStopped:
            return QT_TRANSLATE_NOOP("TJobText", "The upload stopped: %1");
        case TJobText::StationSameVersion:
            return QT_TRANSLATE_NOOP("TJobText", "The sensor already has the file's version");
        case TJobText::StationOlderFile:
            return QT_TRANSLATE_NOOP("TJobText", "The file's version is older than the sensor's");
        case TJobText::StationStopped:
            return QT_TRANSLATE_NOOP("TJobText", "The station was stopped during the upload");
        case TJobText::InvalidAddresses:
            return QT_TRANSLATE_NOOP("TJobText", "Invalid addresses");
        case TJobText::RegisterNotSpecified:
            return QT_TRANSLATE_NOOP("TJobText", "Register not specified");
        case TJobText::ValueNotSpecified:
            return QT_TRANSLATE_NOOP("TJobText", "Value not specified");
        case TJobText::TooFewRegisters:
            return QT_TRANSLATE_NOOP("TJobText", "Insufficient number of registers");
        case TJobText::ReadError:
            return QT_TRANSLATE_NOOP("TJobText", "Error reading data.");
        case TJobText::WriteError:
            return QT_TRANSLATE_NOOP("TJobText", "Error writing data.");
        case TJobText::InvalidBCD:
            return QT_TRANSLATE_NOOP("TJobText", "Invalid BCD value read");
        case TJobText::Saved:
            return QT_TRANSLATE_NOOP("TJobText", "Changes have been saved successfully");
        case TJobText::RestartNeeded:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "The changes will take effect after restart of the sensor.");
        case TJobText::ValueOutOfRange:
            return QT_TRANSLATE_NOOP("TJobText", "Value out of range (%1 to %2)");
        case TJobText::ModbusNoAnswer:
            return QT_TRANSLATE_NOOP("TJobText", "No answer within the time-out");
        case TJobText::ModbusBadCrc:
            return QT_TRANSLATE_NOOP("TJobText", "Damaged answer (CRC error)");
        case TJobText::ModbusWrongAddress:
            return QT_TRANSLATE_NOOP("TJobText", "Wrong answer (another device address)");
        case TJobText::ModbusWrongFunction:
            return QT_TRANSLATE_NOOP("TJobText", "Wrong answer (another function code)");
        case TJobText::ModbusWrongLength:
            return QT_TRANSLATE_NOOP("TJobText", "Wrong answer (wrong length)");
        case TJobText::ModbusWrongEcho:
            return QT_TRANSLATE_NOOP("TJobText", "Wrong answer (the echo does not match)");
        case TJobText::ModbusTooLong:
            return QT_TRANSLATE_NOOP("TJobText", "Too many registers for one request");
        case TJobText::ModbusException1:
            return QT_TRANSLATE_NOOP("TJobText", "Modbus exception 1 (illegal function)");
        case TJobText::ModbusException2:
            return QT_TRANSLATE_NOOP("TJobText", "Modbus exception 2 (illegal data address)");
        case TJobText::ModbusException3:
            return QT_TRANSLATE_NOOP("TJobText", "Modbus exception 3 (illegal data value)");
        case TJobText::ModbusException4:
            return QT_TRANSLATE_NOOP("TJobText", "Modbus exception 4 (server device failure)");
        case TJobText::ModbusException5:
            return QT_TRANSLATE_NOOP("TJobText", "Modbus exception 5 (acknowledge)");
        case TJobText::ModbusException6:
            return QT_TRANSLATE_NOOP("TJobText", "Modbus exception 6 (server device busy)");
        case TJobText::ModbusException8:
            return QT_TRANSLATE_NOOP("TJobText", "Modbus exception 8 (memory parity error)");
        case TJobText::ModbusException10:
            return QT_TRANSLATE_NOOP("TJobText", "Modbus exception 10 (gateway path unavailable)");
        case TJobText::ModbusException11:
            return QT_TRANSLATE_NOOP(
                "TJobText", "Modbus exception 11 (gateway target device failed to respond)");
        case TJobText::ModbusExceptionOther:
            return QT_TRANSLATE_NOOP("TJobText", "Modbus exception %1");
        case TJobText::CodTooShort:
            return QT_TRANSLATE_NOOP("TJobText", "The file is too short for a firmware header");
        case TJobText::CodWrongSize:
            return QT_TRANSLATE_NOOP("TJobText", "The file size does not match its header");
        case TJobText::CodBadHeader:
            return QT_TRANSLATE_NOOP("TJobText", "The header checksum is wrong");
        case TJobText::CodBadChecksum:
            return QT_TRANSLATE_NOOP("TJobText", "The image checksum is wrong");
        case TJobText::PortDenied:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "Your user may not open the port %1 (permission denied).");
        case TJobText::PortJoinGroup:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "To get access, add your user to the '%1' group (sudo "
                                     "usermod -aG %1 $USER), then log out and in again.");
        case TJobText::PortAskAdmin:
            return QT_TRANSLATE_NOOP(
                "TJobText",
                "This port belongs to the group '%1': ask the administrator for access.");
        case TJobText::PortBusy:
            return QT_TRANSLATE_NOOP("TJobText", "The port %1 is in use by another program.");
        case TJobText::PortBusyRemedy:
            return QT_TRANSLATE_NOOP("TJobText", "Close the program that uses it, then try again.");
        case TJobText::PortMissing:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "The port %1 is not there: its adapter is disconnected.");
        case TJobText::PortMissingRemedy:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "Connect the adapter, choose its port again, then try again.");
        case TJobText::PortUnreachable:
            return QT_TRANSLATE_NOOP("TJobText", "The network server %1 cannot be reached.");
        case TJobText::PortUnreachableRemedy:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "Check the server's address, that it is switched on and "
                                     "that the network reaches it.");
        case TJobText::PortRefused:
            return QT_TRANSLATE_NOOP("TJobText", "The network server %1 refuses the connection.");
        case TJobText::PortRefusedRemedy:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "Check the port number and that the server offers the "
                                     "serial line there.");
        case TJobText::PortOther:
            return QT_TRANSLATE_NOOP("TJobText", "The port %1 could not be opened: %2");
        case TJobText::ScanPortFailed:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "The scan found nothing: the port could not be opened.");
        case TJobText::FindNotOurLine:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "The line settings of %1 are its server's and cannot be "
                                     "changed from here: search on a local port or through "
                                     "rfc2217://.");
        case TJobText::FindNothing:
            return QT_TRANSLATE_NOOP("TJobText",
                                     "No device answered at any of the line settings tried.");
    }
    return "";
}

std::string FillJobArgs(const std::string &Template, const std::vector<std::string> &Args) {
    std::string Out;
    Out.reserve(Template.size());
    for (size_t i = 0; i < Template.size(); ++i) {
        const char C = Template[i];
        if (C == '%' && i + 1 < Template.size() && Template[i + 1] >= '1' &&
            Template[i + 1] <= '9') {
            const size_t N = static_cast<size_t>(Template[i + 1] - '1');
            if (N < Args.size()) {
                Out += Args[N];
                ++i;
                continue;
            }
        }
        Out += C;
    }
    return Out;
}

std::string JobText(const TJobReason &Reason) {
    return FillJobArgs(JobText(Reason.Text), Reason.Args);
}
