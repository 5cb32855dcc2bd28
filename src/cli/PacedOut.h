#pragma once
// Result lines that may come faster than anyone reads them (a watch at
// interval 0 prints tens of thousands a second): gathered and printed
// together at most once per Pace, so that neither this program nor the
// reader at the other end of a pipe wakes for every line. The first line,
// and a line that comes at least Pace after the last print, is printed at
// once, with any held before it; held lines wait for the next line or for
// Close.

#include <chrono>
#include <optional>
#include <string>

class TConsole;

class TPacedOut {
public:
    using TClock = std::chrono::steady_clock;

    explicit TPacedOut(TConsole &Console,
                       std::chrono::milliseconds Pace = std::chrono::milliseconds(20));
    // Prints what is held (Close).
    ~TPacedOut();
    TPacedOut(const TPacedOut &) = delete;
    TPacedOut &operator=(const TPacedOut &) = delete;

    // One line (without its newline), printed as Console::Out prints it.
    void Put(const std::string &Line);
    // Prints every line held.
    void Close();

private:
    TConsole &FConsole;
    const TClock::duration FPace;
    std::string FLines;  // newline-separated, without the last newline
    bool FHeld = false;
    std::optional<TClock::time_point> FLastPrint;  // none yet: the first line goes at once
};
