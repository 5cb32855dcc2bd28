#include "cli/Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "settings/TextDecode.h"

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

}  // namespace

bool IsHiddenFormatChar(char32_t C) {
    return C == 0x061C || (C >= 0x200B && C <= 0x200F) || (C >= 0x2028 && C <= 0x202E) ||
           (C >= 0x2060 && C <= 0x2064) || (C >= 0x2066 && C <= 0x2069) || C == 0xFEFF;
}

std::string VisibleText(const std::string &Text) {
    // Printable ASCII and tabs (most lines) stand as they are.
    if (std::all_of(Text.begin(), Text.end(),
                    [](char C) { return (C >= 0x20 && C < 0x7F) || C == '\t'; }))
        return Text;
    std::string out;
    out.reserve(Text.size());
    for (size_t i = 0; i < Text.size();) {
        const auto c = static_cast<unsigned char>(Text[i]);
        char32_t cp = 0;
        const size_t n = DecodeUtf8At(Text, i, cp);
        if (n == 0 || cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
            // Controls (C0, DEL, C1) and bytes that are not UTF-8, shown as
            // their bytes; a tab stays the column separator.
            if (cp == '\t' && n == 1) {
                out += '\t';
            } else if (n == 2) {
                AppendHex(out, static_cast<unsigned char>(Text[i + 1]));  // C1: U+0080..U+009F
            } else {
                AppendHex(out, c);
            }
            i += n == 0 ? 1 : n;
            continue;
        }
        if (IsHiddenFormatChar(cp)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%04X}", static_cast<unsigned>(cp));
            out += buf;
        } else {
            out.append(Text, i, n);
        }
        i += n;
    }
    return out;
}

std::string EscapeJsonControls(const std::string &Json) {
    std::string out;
    out.reserve(Json.size());
    for (size_t i = 0; i < Json.size();) {
        char32_t cp = 0;
        const size_t n = DecodeUtf8At(Json, i, cp);
        // Outside strings a JSON text is printable ASCII, so every match is
        // inside a string, where an escape stands for the same character.
        if (n > 0 && (cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || IsHiddenFormatChar(cp))) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
            out += buf;
        } else {
            out.append(Json, i, n == 0 ? 1 : n);
        }
        i += n == 0 ? 1 : n;
    }
    return out;
}

TConsole::TConsole(std::FILE *Out, std::FILE *Err, bool ErrIsTerminal)
    : FOut(Out), FErr(Err), FErrIsTerminal(ErrIsTerminal) {}

TConsole::~TConsole() {
    ClearStatus();
}

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
    FStatus.clear();
    for (const std::string &Line : Lines) FStatus.push_back(VisibleText(Line));
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
