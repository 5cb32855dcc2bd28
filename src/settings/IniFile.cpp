#include "settings/IniFile.h"

#include <cstdint>
#include <limits>
#include <unordered_set>

namespace {

bool IsBlank(char C) {
    return static_cast<uint8_t>(C) <= 0x20;
}

// Splits at CR, LF and CR LF. A final line terminator opens no extra line.
std::vector<std::string> SplitLines(const std::string &Text) {
    std::vector<std::string> Lines;
    size_t Start = 0;
    for (size_t I = 0; I < Text.size(); ++I) {
        if (Text[I] != '\r' && Text[I] != '\n') continue;
        Lines.emplace_back(Text, Start, I - Start);
        if (Text[I] == '\r' && I + 1 < Text.size() && Text[I + 1] == '\n') ++I;
        Start = I + 1;
    }
    if (Start < Text.size()) Lines.emplace_back(Text, Start, std::string::npos);
    return Lines;
}

// Folds ASCII letters and the Latin-1 capitals U+00C0..U+00DE (but U+00D7)
// as they appear in UTF-8 (C3 80..C3 9E).
std::string FoldCase(const std::string &S) {
    std::string Out = S;
    for (size_t I = 0; I < Out.size(); ++I) {
        const auto C = static_cast<uint8_t>(Out[I]);
        if (C >= 'A' && C <= 'Z') {
            Out[I] = static_cast<char>(C + 32);
        } else if (C == 0xC3 && I + 1 < Out.size()) {
            const auto Next = static_cast<uint8_t>(Out[I + 1]);
            if (Next >= 0x80 && Next <= 0x9E && Next != 0x97)
                Out[I + 1] = static_cast<char>(Next + 0x20);
            ++I;
        }
    }
    return Out;
}

int HexDigit(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
}

}  // namespace

std::string TrimLeftText(const std::string &S) {
    size_t B = 0;
    while (B < S.size() && IsBlank(S[B])) ++B;
    return S.substr(B);
}

std::string TrimRightText(const std::string &S) {
    size_t E = S.size();
    while (E > 0 && IsBlank(S[E - 1])) --E;
    return S.substr(0, E);
}

std::string TrimText(const std::string &S) {
    return TrimLeftText(TrimRightText(S));
}

bool SameText(const std::string &A, const std::string &B) {
    return A.size() == B.size() && FoldCase(A) == FoldCase(B);
}

int StrToIntDef(const std::string &Text, int Default) {
    size_t Pos = 0;
    bool Negative = false;
    if (Pos < Text.size() && (Text[Pos] == '+' || Text[Pos] == '-')) {
        Negative = Text[Pos] == '-';
        ++Pos;
    }
    bool Hex = false;
    if (Pos < Text.size() && Text[Pos] == '$') {
        Hex = true, Pos += 1;
    } else if (Pos < Text.size() && (Text[Pos] == 'x' || Text[Pos] == 'X')) {
        Hex = true, Pos += 1;
    } else if (Pos + 1 < Text.size() && Text[Pos] == '0' &&
               (Text[Pos + 1] == 'x' || Text[Pos + 1] == 'X')) {
        Hex = true, Pos += 2;
    }
    if (Pos >= Text.size()) return Default;

    const uint64_t Base = Hex ? 16 : 10;
    const uint64_t Limit = Hex ? 0xFFFFFFFFull
                               : (Negative ? uint64_t(std::numeric_limits<int32_t>::max()) + 1
                                           : uint64_t(std::numeric_limits<int32_t>::max()));
    uint64_t Value = 0;
    for (; Pos < Text.size(); ++Pos) {
        const int D = HexDigit(Text[Pos]);
        if (D < 0 || uint64_t(D) >= Base) return Default;
        Value = Value * Base + uint64_t(D);
        if (Value > Limit) return Default;
    }
    // Two's complement of 32 bits, done in unsigned arithmetic.
    uint32_t Bits = static_cast<uint32_t>(Value);
    if (Negative) Bits = 0u - Bits;
    return static_cast<int32_t>(Bits);
}

TIniText TIniText::Parse(const std::string &Text) {
    TIniText Result;
    TIniSection *Current = nullptr;        // nullptr: before the first section or in a repeated one
    std::unordered_set<std::string> Seen;  // folded names of the sections so far
    for (const std::string &Raw : SplitLines(Text)) {
        const std::string Line = TrimText(Raw);
        if (Line.empty() || Line[0] == ';') continue;
        if (Line.size() >= 2 && Line.front() == '[' && Line.back() == ']') {
            const std::string Name = TrimText(Line.substr(1, Line.size() - 2));
            if (!Seen.insert(FoldCase(Name)).second) {
                Current = nullptr;
            } else {
                Result.FSections.push_back(TIniSection{Name, {}});
                Current = &Result.FSections.back();
            }
            continue;
        }
        if (!Current) continue;
        TIniEntry Entry;
        const size_t Eq = Line.find('=');
        if (Eq == std::string::npos) {
            Entry.Key = Line;
        } else {
            Entry.Key = TrimRightText(Line.substr(0, Eq));
            Entry.Value = TrimLeftText(Line.substr(Eq + 1));
            Entry.HasValue = true;
        }
        Current->Entries.push_back(std::move(Entry));
    }
    return Result;
}

const TIniSection *TIniText::FindSection(const std::string &Name) const {
    for (const TIniSection &S : FSections)
        if (SameText(S.Name, Name)) return &S;
    return nullptr;
}

const TIniEntry *TIniText::FindEntry(const std::string &Section, const std::string &Key) const {
    const TIniSection *S = FindSection(Section);
    if (!S) return nullptr;
    for (const TIniEntry &E : S->Entries)
        if (SameText(E.Key, Key)) return &E;
    return nullptr;
}

int TIniText::ReadInteger(const std::string &Section, const std::string &Key, int Default) const {
    const TIniEntry *E = FindEntry(Section, Key);
    return E ? StrToIntDef(E->Value, Default) : Default;
}
