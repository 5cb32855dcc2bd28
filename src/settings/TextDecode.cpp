#include "settings/TextDecode.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string &Out, char32_t C) {
    if (C < 0x80) {
        Out += static_cast<char>(C);
    } else if (C < 0x800) {
        Out += static_cast<char>(0xC0 | (C >> 6));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else if (C < 0x10000) {
        Out += static_cast<char>(0xE0 | (C >> 12));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (C >> 18));
        Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    }
}

// Decodes one UTF-8 sequence at Pos. Returns its length, 0 when the bytes
// there are not a well-formed sequence.

std::string DecodeUtf8Lenient(const std::string &S, size_t Start) {
    std::string Out;
    Out.reserve(S.size() - Start);
    for (size_t Pos = Start; Pos < S.size();) {
        char32_t C;
        const size_t Len = DecodeUtf8At(S, Pos, C);
        if (Len == 0) {
            AppendUtf8(Out, kReplacement);
            ++Pos;
        } else {
            Out.append(S, Pos, Len);
            Pos += Len;
        }
    }
    return Out;
}

std::string DecodeLatin1(const std::string &S) {
    std::string Out;
    Out.reserve(S.size() + S.size() / 4);
    for (const char Ch : S) AppendUtf8(Out, static_cast<uint8_t>(Ch));
    return Out;
}

std::string DecodeUtf16(const std::string &S, size_t Start, bool BigEndian) {
    std::string Out;
    Out.reserve(S.size() / 2);
    const auto Unit = [&](size_t Pos) -> char32_t {
        const auto A = static_cast<uint8_t>(S[Pos]);
        const auto B = static_cast<uint8_t>(S[Pos + 1]);
        return BigEndian ? (char32_t(A) << 8 | B) : (char32_t(B) << 8 | A);
    };
    size_t Pos = Start;
    while (S.size() - Pos >= 2) {
        const char32_t U = Unit(Pos);
        Pos += 2;
        if (U >= 0xD800 && U <= 0xDBFF && S.size() - Pos >= 2) {
            const char32_t L = Unit(Pos);
            if (L >= 0xDC00 && L <= 0xDFFF) {
                Pos += 2;
                AppendUtf8(Out, 0x10000 + ((U - 0xD800) << 10) + (L - 0xDC00));
                continue;
            }
        }
        AppendUtf8(Out, (U >= 0xD800 && U <= 0xDFFF) ? kReplacement : U);
    }
    if (Pos < S.size()) AppendUtf8(Out, kReplacement);  // odd trailing byte
    return Out;
}

bool StartsWith(const std::string &S, const char *Prefix, size_t Len) {
    return S.size() >= Len && S.compare(0, Len, Prefix, Len) == 0;
}

}  // namespace

size_t DecodeUtf8At(const std::string &S, size_t Pos, char32_t &C) {
    const auto Byte = [&](size_t I) { return static_cast<uint8_t>(S[I]); };
    const uint8_t B0 = Byte(Pos);
    size_t Len;
    char32_t Min;
    if (B0 < 0x80) {
        C = B0;
        return 1;
    } else if ((B0 & 0xE0) == 0xC0) {
        Len = 2, Min = 0x80, C = B0 & 0x1F;
    } else if ((B0 & 0xF0) == 0xE0) {
        Len = 3, Min = 0x800, C = B0 & 0x0F;
    } else if ((B0 & 0xF8) == 0xF0) {
        Len = 4, Min = 0x10000, C = B0 & 0x07;
    } else {
        return 0;
    }
    if (S.size() - Pos < Len) return 0;
    for (size_t I = 1; I < Len; ++I) {
        const uint8_t B = Byte(Pos + I);
        if ((B & 0xC0) != 0x80) return 0;
        C = (C << 6) | (B & 0x3F);
    }
    if (C < Min || C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF)) return 0;
    return Len;
}

bool IsValidUtf8(const std::string &Bytes) {
    for (size_t Pos = 0; Pos < Bytes.size();) {
        char32_t C;
        const size_t Len = DecodeUtf8At(Bytes, Pos, C);
        if (Len == 0) return false;
        Pos += Len;
    }
    return true;
}

std::string DecodeTextBytes(const std::string &Bytes) {
    if (StartsWith(Bytes, "\xEF\xBB\xBF", 3)) return DecodeUtf8Lenient(Bytes, 3);
    if (StartsWith(Bytes, "\xFF\xFE", 2)) return DecodeUtf16(Bytes, 2, false);
    if (StartsWith(Bytes, "\xFE\xFF", 2)) return DecodeUtf16(Bytes, 2, true);
    if (IsValidUtf8(Bytes)) return Bytes;
    return DecodeLatin1(Bytes);
}
