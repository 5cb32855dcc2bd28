#pragma once
// Firmware files (.cod): header layouts and the integrity check.
//
// Two layouts exist. A file that starts with the eight bytes "\r\nORVcod"
// has a 32-byte header (ESP32 image, 16-bit sum over the image); any other
// file has a 16-byte header with a header checksum and its own processor
// type field.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

#include "bootloader/BootTypes.h"

struct TCODFileData {
    uint16_t DeviceID = 0;        // sensor ID the firmware is for
    TSensorVersion Version;       // firmware version in the file
    std::string ProcessorType;    // "ESP32" selects the ESP32 upload (UTF-8)
    // Extra facts for display; not used by the upload.
    int HeaderSize = 0;           // 16 or 32
    uint64_t FileSize = 0;        // bytes, header included

    bool IsESP32() const { return ProcessorType == "ESP32"; }
    // Processor type for display: the text, or "(none)" when the field is empty.
    std::string ProcessorTypeText() const;
    // "32-byte header (ESP32)" or "16-byte header".
    std::string LayoutText() const;
};

// Length of the magic text at the start of a 32-byte-header file.
constexpr int CCodMagicLen = 8;
extern const char CCodMagic[CCodMagicLen + 1];  // "\r\nORVcod"

// A file that exists but cannot be opened or read. what() reads like
// 'Cannot open file "x": Permission denied'.
class EFileError : public std::system_error {
public:
    EFileError(int Errno, const std::string &What) : std::system_error(Errno, std::generic_category(), What) {}
};

// Checks a firmware file: true when it exists, can be read and its header
// and checksum match; Data is written only then. A missing file gives false;
// a file that exists but cannot be opened or read raises EFileError. The
// file is opened read-only and never changed.
bool ValidateFile(const std::string &FName, TCODFileData &Data);
