#pragma once
// Standard output and standard error of one run, shared by the threads of a
// command: whole lines that never tear, and, when standard error is a
// terminal, a block of live status lines (progress bars, counters) kept
// below everything else that is printed.

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

// Text from outside (a device, a file, the settings) made safe for a
// terminal: C0 and C1 control characters, DEL and bytes that are not UTF-8
// appear as \xNN (a C1 character by its code, e.g. \x9B); a tab stays a tab
// (it separates columns). Characters that reorder or hide text
// (IsHiddenFormatChar: bidi embeddings, overrides, isolates and marks,
// zero-width characters, the line and paragraph separators) appear as
// \u{202E}. Everything else passes unchanged.
std::string VisibleText(const std::string &Text);

// Bidi controls and invisible characters: U+061C, U+200B..U+200F,
// U+2028..U+202E, U+2060..U+2064, U+2066..U+2069, U+FEFF.
bool IsHiddenFormatChar(char32_t C);

// A JSON text (as nlohmann::json::dump writes it, UTF-8 and C0 controls
// escaped) with DEL, the C1 controls and IsHiddenFormatChar characters
// escaped too (\u007f, \u0080..\u009f, \u202e): the value is the same for
// every JSON reader, and none of them reaches a terminal raw.
std::string EscapeJsonControls(const std::string &Json);

class TConsole {
public:
    // ErrIsTerminal decides whether status lines are drawn at all.
    TConsole(std::FILE *Out, std::FILE *Err, bool ErrIsTerminal);
    ~TConsole();
    TConsole(const TConsole &) = delete;
    TConsole &operator=(const TConsole &) = delete;

    // One line (a newline is added) on standard output / standard error.
    // Err and Prompt show control characters visibly (VisibleText); Out
    // prints the line as given (JSON output relies on that).
    void Out(const std::string &Line);
    void Err(const std::string &Line);
    // Text without a newline on standard error (a question's prompt).
    void Prompt(const std::string &Text);

    // Replaces the status block (drawn only on a terminal; lines longer
    // than the terminal is wide are cut). An empty list removes it.
    void SetStatus(const std::vector<std::string> &Lines);
    // Removes the block and leaves the cursor on a fresh line.
    void ClearStatus() { SetStatus({}); }

    bool ErrIsTerminal() const { return FErrIsTerminal; }

private:
    void EraseLocked();
    void DrawLocked();

    std::mutex FLock;
    std::FILE *FOut;
    std::FILE *FErr;
    bool FErrIsTerminal;
    std::vector<std::string> FStatus;
    bool FDrawn = false;
};
