#pragma once
// CRC-8/MAXIM (Dallas 1-Wire): reflected polynomial 0x8C, initial value 0,
// no final XOR. Check value over "123456789" is 0xA1.

#include <cstddef>
#include <cstdint>

#include "bootloader/BootTypes.h"

// Folds one byte into a running CRC.
uint8_t UpdateCRC8(uint8_t Crc, uint8_t Byte);
// CRC of Count bytes of Data.
uint8_t CalcCRC8(const uint8_t *Data, size_t Count);
// CRC of Count bytes of Data starting at Start (a count of 0 yields 0).
// The range must lie inside Data.
uint8_t CalcCRC8(const TByteArray &Data, size_t Start, size_t Count);
