#include "cli/Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace {
int TerminalWidth(std::FILE *F) {
    winsize ws{};
    if (ioctl(fileno(F), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}
}  // namespace

TConsole::TConsole(std::FILE *Out, std::FILE *Err, bool ErrIsTerminal)
    : FOut(Out), FErr(Err), FErrIsTerminal(ErrIsTerminal) {}

TConsole::~TConsole() { ClearStatus(); }

void TConsole::Out(const std::string &Line) {
    std::lock_guard<std::mutex> lock(FLock);
    EraseLocked();
    std::fputs(Line.c_str(), FOut);
    std::fputc('\n', FOut);
    std::fflush(FOut);
    DrawLocked();
}

void TConsole::Err(const std::string &Line) {
    std::lock_guard<std::mutex> lock(FLock);
    EraseLocked();
    std::fputs(Line.c_str(), FErr);
    std::fputc('\n', FErr);
    std::fflush(FErr);
    DrawLocked();
}

void TConsole::Prompt(const std::string &Text) {
    std::lock_guard<std::mutex> lock(FLock);
    EraseLocked();
    FStatus.clear();
    std::fputs(Text.c_str(), FErr);
    std::fflush(FErr);
}

void TConsole::SetStatus(const std::vector<std::string> &Lines) {
    if (!FErrIsTerminal) return;
    std::lock_guard<std::mutex> lock(FLock);
    EraseLocked();
    FStatus = Lines;
    DrawLocked();
}

// The cursor stands at the end of the block's last line; go back to the
// start of its first line and clear to the end of the screen.
void TConsole::EraseLocked() {
    if (!FDrawn) return;
    std::fputc('\r', FErr);
    if (FStatus.size() > 1) std::fprintf(FErr, "\033[%zuA", FStatus.size() - 1);
    std::fputs("\033[J", FErr);
    std::fflush(FErr);
    FDrawn = false;
}

void TConsole::DrawLocked() {
    if (FStatus.empty() || !FErrIsTerminal) return;
    // A line as wide as the terminal would wrap and spoil the cursor
    // arithmetic of EraseLocked.
    const size_t width = static_cast<size_t>(TerminalWidth(FErr) - 1);
    for (size_t i = 0; i < FStatus.size(); ++i) {
        if (i > 0) std::fputc('\n', FErr);
        std::fputs(FStatus[i].substr(0, width).c_str(), FErr);
    }
    std::fflush(FErr);
    FDrawn = true;
}
