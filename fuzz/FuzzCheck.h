#pragma once
// Reference checks the harnesses hold the code under test to, written from
// the protocol rules rather than from the code, and a loud way to fail.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#define FUZZ_REQUIRE(cond)                                                                      \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            std::fprintf(stderr, "%s:%d: requirement failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

// CRC-8/MAXIM bit by bit.
inline uint8_t RefCrc8(const uint8_t *p, size_t n) {
    uint8_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = p[i];
        for (int k = 0; k < 8; ++k) {
            crc = ((crc ^ b) & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C)
                                  : static_cast<uint8_t>(crc >> 1);
            b >>= 1;
        }
    }
    return crc;
}

// CRC-16/MODBUS bit by bit, as the two bytes appear on the wire.
inline bool RefCrc16Ok(const uint8_t *p, size_t n) {
    if (n < 2) return false;
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i + 2 < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return p[n - 2] == (crc & 0xFF) && p[n - 1] == (crc >> 8);
}

// The bootloader reply hidden in what a port delivered: everything before
// the first start byte is noise. True when it is one whole valid reply to
// Command; Payload then holds its payload.
inline bool RefBootReply(const std::vector<uint8_t> &Delivered, uint8_t Command,
                         std::vector<uint8_t> &Payload) {
    size_t s = 0;
    while (s < Delivered.size() && Delivered[s] != 0xF5) ++s;
    if (s == Delivered.size()) return false;
    std::vector<uint8_t> R(Delivered.begin() + static_cast<long>(s), Delivered.end());
    // The reply is as long as its length byte says; what came after it in
    // the same read is not part of it.
    if (R.size() < 2 || R[1] < 3 || R.size() < static_cast<size_t>(R[1]) + 1) return false;
    R.resize(static_cast<size_t>(R[1]) + 1);
    if (R[2] != (Command | 0x80)) return false;
    if (R.back() != RefCrc8(R.data() + 1, R.size() - 2)) return false;
    Payload.assign(R.begin() + 3, R.end() - 1);
    return true;
}
