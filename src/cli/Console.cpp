#include "cli/Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace {
int TerminalWidth(std::FILE *F) {
    winsize ws{};
    if (ioctl(fileno(F), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}
void AppendHex(std::string &Out, unsigned Value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", Value);
    Out += buf;
}

// Length of the well-formed UTF-8 sequence at P (up to End), 0 if none.
size_t Utf8Length(const unsigned char *P, const unsigned char *End) {
    const unsigned char c = *P;
    size_t n = 0;
    unsigned cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (static_cast<size_t>(End - P) < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((P[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (P[i] & 0x3F);
    }
    // Over-long forms, surrogates and values beyond U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

}  // namespace

std::string VisibleText(const std::string &Text) {
    std::string out;
    out.reserve(Text.size());
    const auto *p = reinterpret_cast<const unsigned char *>(Text.data());
    const auto *end = p + Text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            if ((c < 0x20 && c != '\t') || c == 0x7F)
                AppendHex(out, c);
            else
                out += static_cast<char>(c);
            ++p;
            continue;
        }
        const size_t n = Utf8Length(p, end);
        if (n == 0) {
            AppendHex(out, c);
            ++p;
        } else if (n == 2 && c == 0xC2 && p[1] < 0xA0) {
            AppendHex(out, p[1]);  // C1 control: U+0080..U+009F
            p += 2;
        } else {
            out.append(reinterpret_cast<const char *>(p), n);
            p += n;
        }
    }
    return out;
}

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
    const std::string text = VisibleText(Line);
    std::lock_guard<std::mutex> lock(FLock);
    EraseLocked();
    std::fputs(text.c_str(), FErr);
    std::fputc('\n', FErr);
    std::fflush(FErr);
    DrawLocked();
}

void TConsole::Prompt(const std::string &Text) {
    const std::string text = VisibleText(Text);
    std::lock_guard<std::mutex> lock(FLock);
    EraseLocked();
    FStatus.clear();
    std::fputs(text.c_str(), FErr);
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
