#pragma once
// The in-memory section table of a settings text.
//
// Lines end with CR, LF or CR LF and are stripped of blanks and control
// characters at both ends; empty lines and lines starting with ';' are
// skipped. "[name]" opens a section; a section name seen a second time is
// ignored together with its lines. Other lines inside a section are entries
// "key=value" (key stripped on the right, value on the left; a line without
// '=' is a key without value). Lines before the first section are ignored.
// Section and key names match without regard to case; the first occurrence
// of a key counts.

#include <string>
#include <vector>

struct TIniEntry {
    std::string Key;
    std::string Value;
    bool HasValue = false;  // the line had a '='
};

struct TIniSection {
    std::string Name;
    std::vector<TIniEntry> Entries;  // file order, duplicates kept
};

class TIniText {
public:
    // Text is UTF-8 (see DecodeTextBytes).
    static TIniText Parse(const std::string &Text);

    const std::vector<TIniSection> &Sections() const { return FSections; }
    const TIniSection *FindSection(const std::string &Name) const;
    // First entry of Key in Section, nullptr when there is none.
    const TIniEntry *FindEntry(const std::string &Section, const std::string &Key) const;
    // The entry's value read by StrToIntDef; Default when missing.
    int ReadInteger(const std::string &Section, const std::string &Key, int Default) const;

private:
    std::vector<TIniSection> FSections;
};

// Decimal with an optional sign, or hexadecimal after "0x", "$" or "x"
// (either case, optionally signed); anything else, including a value outside
// 32 bits, gives Default. Hexadecimal takes up to 32 bits as a bit pattern
// ("$FFFFFFFF" is -1).
int StrToIntDef(const std::string &Text, int Default);

// Comparison without regard to case (ASCII and the Latin-1 letters in UTF-8).
bool SameText(const std::string &A, const std::string &B);

// Strips bytes up to and including ' ' (blanks and control characters).
std::string TrimText(const std::string &S);
std::string TrimLeftText(const std::string &S);
std::string TrimRightText(const std::string &S);
