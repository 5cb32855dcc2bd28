#pragma once
// Small value types shared by the bootloader link and the firmware file.

#include <cstdint>
#include <vector>

// Firmware version: major part, then minor part.
struct TSensorVersion {
    uint8_t Hi = 0;
    uint8_t Lo = 0;
    bool operator==(const TSensorVersion &) const = default;
};

// Bootloader packets and upload data.
using TByteArray = std::vector<uint8_t>;
