#include "jobs/JobTexts.h"

const char *JobText(TJobText Text) {
    switch (Text) {
    case TJobText::None: return "";
    case TJobText::PortNotSelected: return "COM port not selected";
    case TJobText::NotFound: return "Unable to find sensor or sensor is not in bootloader mode";
    case TJobText::NotConnected: return "Sensor connection not established";
    case TJobText::NotLoaded: return "Firmware file not loaded";
    case TJobText::InvalidCodFile: return "Invalid COD file";
    case TJobText::Mismatch: return "The selected firmware does not match the connected device";
    case TJobText::OlderQuestion:
        return "The firmware version selected is older than the sensor version. "
               "Do you want to proceed with the update?";
    case TJobText::SameQuestion:
        return "The firmware version selected is the same as the sensor version. "
               "Do you want to proceed with the update?";
    case TJobText::UpdateOk: return "Firmware update successful";
    case TJobText::UpdateFailed: return "Sensor update failed";
    case TJobText::RetryHint: return "Please reconnect the sensor and try again";
    case TJobText::InvalidAddresses: return "Invalid addresses";
    case TJobText::RegisterNotSpecified: return "Register not specified";
    case TJobText::ValueNotSpecified: return "Value not specified";
    case TJobText::TooFewRegisters: return "Insufficient number of registers";
    case TJobText::ReadError: return "Error reading data.";
    case TJobText::WriteError: return "Error writing data.";
    case TJobText::InvalidBCD: return "Invalid BCD value read";
    case TJobText::Saved: return "Changes have been saved successfully";
    case TJobText::RestartNeeded: return "The changes will take effect after restart of the sensor.";
    }
    return "";
}
