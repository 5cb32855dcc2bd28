#pragma once
// Turning the bytes of a text file into UTF-8.

#include <cstddef>
#include <string>

// A byte-order mark selects UTF-8, UTF-16 LE or UTF-16 BE (the mark is
// dropped). Without one the bytes are taken as UTF-8 when they are valid
// UTF-8, else as ISO 8859-1. Sequences that cannot be decoded become U+FFFD,
// so the result is always valid UTF-8.
std::string DecodeTextBytes(const std::string &Bytes);

// True when Bytes is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(const std::string &Bytes);

// Length of the well-formed UTF-8 sequence at Pos of S (1 to 4), with its
// code point in C; 0 when none starts there (over-long forms, surrogates and
// values beyond U+10FFFF are not UTF-8).
size_t DecodeUtf8At(const std::string &S, size_t Pos, char32_t &C);
