#pragma once
// CRC-16 of Modbus RTU frames (polynomial 0xA001 reflected, start 0xFFFF).
//
// The result is in wire order: the byte sent first (the CRC's low-order
// byte) is in the high 8 bits. To seal a frame of length L store
// CalcCRC16(frame, L-2) >> 8 at L-2 and its low byte at L-1; to check one,
// compare against frame[L-2] * 256 + frame[L-1].

#include <cstdint>

// CRC over Data[0 .. Count-1]; Count <= 0 processes nothing (gives 0xFFFF).
uint16_t CalcCRC16(const uint8_t *Data, int Count);
// True exactly when CalcCRC16(Data, Count) == Expected.
bool CheckCRC16(const uint8_t *Data, int Count, uint16_t Expected);
