#pragma once
// SHA-256 (FIPS 180-4), for the fingerprint of a firmware file in the update
// records. Streaming: Update as often as needed, then Final once.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TSha256 {
public:
    TSha256();
    void Update(const void *Data, size_t Size);
    // The digest; the object is spent afterwards.
    std::array<uint8_t, 32> Final();

private:
    void Block(const uint8_t *P);

    std::array<uint32_t, 8> FState;
    std::array<uint8_t, 64> FBuffer{};
    size_t FUsed = 0;
    uint64_t FBits = 0;
};

// The digest of Size bytes as 64 lower-case hex digits.
std::string Sha256Hex(const void *Data, size_t Size);
