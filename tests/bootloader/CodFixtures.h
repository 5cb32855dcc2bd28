#pragma once
// Builds firmware files of both header layouts with correct checksums, so
// tests need no committed binaries.

#include <cstdint>
#include <string>

// Pseudo-random image bytes (repeatable for a seed).
std::string MakeImage(size_t Size, uint32_t Seed = 1);

// 32-byte header ("\r\nORVcod", ESP32): device ID at 22, version minor/major
// at 24/25, 16-bit image sum at 26, image size at 28.
std::string MakeCod32(uint16_t DeviceID, uint8_t VersionHi, uint8_t VersionLo,
                      const std::string &Image);

// 16-byte header: image size at 3, version major/minor at 7/8, device ID at
// 9, processor type at 10..14 (zero-padded, no terminator when 5 long),
// header checksum at 15.
std::string MakeCod16(uint8_t DeviceID, uint8_t VersionHi, uint8_t VersionLo,
                      const std::string &Processor, const std::string &Image);

// Recomputes the header checksum of a 16-byte-header file in place.
void FixCod16Checksum(std::string &File);
// Recomputes the image sum of a 32-byte-header file in place.
void FixCod32Checksum(std::string &File);
