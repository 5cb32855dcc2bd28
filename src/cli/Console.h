#pragma once
// Standard output and standard error of one run, shared by the threads of a
// command: whole lines that never tear, and, when standard error is a
// terminal, a block of live status lines (progress bars, counters) kept
// below everything else that is printed.

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class TConsole {
public:
    // ErrIsTerminal decides whether status lines are drawn at all.
    TConsole(std::FILE *Out, std::FILE *Err, bool ErrIsTerminal);
    ~TConsole();
    TConsole(const TConsole &) = delete;
    TConsole &operator=(const TConsole &) = delete;

    // One line (a newline is added) on standard output / standard error.
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
