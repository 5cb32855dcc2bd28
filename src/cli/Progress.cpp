#include "cli/Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/Console.h"

std::string FormatRate(double BytesPerSecond) {
    char buf[32];
    if (BytesPerSecond < 1000)
        std::snprintf(buf, sizeof buf, "%.0f B/s", BytesPerSecond);
    else
        std::snprintf(buf, sizeof buf, "%.1f kB/s", BytesPerSecond / 1000);
    return buf;
}

std::string FormatDuration(double Seconds) {
    if (Seconds < 0 || !std::isfinite(Seconds)) return "--:--";
    const long long s = std::llround(Seconds);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
    return buf;
}

std::string FormatProgressBar(int Percent, int Sent, int Failed, double BytesPerSecond,
                              double SecondsLeft, int BarWidth) {
    Percent = std::clamp(Percent, 0, 100);
    const int filled = Percent * BarWidth / 100;
    // Appended piece by piece: "[" + std::string(...) makes GCC 12 at -O2
    // and above warn about an overlapping copy that cannot happen.
    std::string line;
    line.reserve(static_cast<size_t>(BarWidth) + 2);
    line += '[';
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(BarWidth - filled), '-');
    line += ']';
    char buf[96];
    std::snprintf(buf, sizeof buf, " %3d%%  sent %d  failed %d", Percent, Sent, Failed);
    line += buf;
    if (BytesPerSecond >= 0) {
        line += "  " + FormatRate(BytesPerSecond);
        if (SecondsLeft >= 0) line += "  " + FormatDuration(SecondsLeft) + " left";
    }
    return line;
}

std::string FormatProgressStep(int Percent, int Sent, int Failed) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d%% (packets sent %d, failed %d)", Percent, Sent, Failed);
    return buf;
}

TProgressBoard::TProgressBoard(TConsole &Console, std::vector<std::string> Ports, bool Live,
                               uint64_t FileSize, int PacketSize)
    : FConsole(Console),
      FLive(Live),
      FShowPort(Ports.size() > 1),
      FFileSize(FileSize),
      FPacketSize(PacketSize) {
    for (auto &p : Ports) {
        FPortWidth = std::max(FPortWidth, p.size());
        TRow row;
        row.Port = std::move(p);
        FRows.push_back(std::move(row));
    }
}

TProgressBoard::~TProgressBoard() {
    Finish();
}

void TProgressBoard::Start(size_t Index) {
    std::lock_guard<std::mutex> lock(FLock);
    FRows[Index].Started = TClock::now();
    FRows[Index].Running = true;
    if (FLive) DrawLocked(true);
}

void TProgressBoard::Report(size_t Index, int PacketsSent, int PacketsFail, int Progress) {
    std::lock_guard<std::mutex> lock(FLock);
    TRow &row = FRows[Index];
    const bool changed = Progress != row.Progress;
    row.Sent = PacketsSent;
    row.Fail = PacketsFail;
    row.Progress = Progress;
    if (FLive) {
        DrawLocked(changed);
        return;
    }
    const int decade = std::clamp(Progress, 0, 100) / 10;
    if (decade > row.LastDecade) {
        row.LastDecade = decade;
        PrintStepLocked(row);
    }
}

void TProgressBoard::PrintStepLocked(TRow &Row) {
    const std::string step = FormatProgressStep(Row.Progress, Row.Sent, Row.Fail);
    FConsole.Err(FShowPort ? Row.Port + ": " + step : step);
    Row.Printed = step;
}

void TProgressBoard::Done(size_t Index, const std::string &Note) {
    std::lock_guard<std::mutex> lock(FLock);
    FRows[Index].Running = false;
    FRows[Index].Ended = TClock::now();
    FRows[Index].Note = Note;
    if (FLive) {
        DrawLocked(true);
        return;
    }
    // The log ends with the last state, also when it fell between two steps.
    TRow &row = FRows[Index];
    if (FormatProgressStep(row.Progress, row.Sent, row.Fail) != row.Printed) PrintStepLocked(row);
}

void TProgressBoard::Finish() {
    std::lock_guard<std::mutex> lock(FLock);
    if (FLive) FConsole.ClearStatus();
}

std::string TProgressBoard::RowText(const TRow &Row, TClock::time_point Now) const {
    double rate = -1, left = -1;
    if (Row.Started != TClock::time_point{} && (Row.Running || !Row.Note.empty())) {
        const double secs =
            std::chrono::duration<double>((Row.Running ? Now : Row.Ended) - Row.Started).count();
        const uint64_t bytes = std::min<uint64_t>(
            FFileSize, static_cast<uint64_t>(std::max(Row.Sent, 0)) * FPacketSize);
        if (secs > 0.05) {
            rate = static_cast<double>(bytes) / secs;
            if (Row.Running && rate > 0) left = static_cast<double>(FFileSize - bytes) / rate;
        }
    }
    // At 100 % the sensor checks the image before it leaves bootloader mode.
    const bool validating = Row.Running && Row.Progress >= 100;
    std::string text =
        FormatProgressBar(Row.Progress, Row.Sent, Row.Fail, rate, validating ? -1 : left);
    if (validating) text += "  Validating...";
    if (!Row.Note.empty()) text += "  " + Row.Note;
    if (!FShowPort) return text;
    std::string port = Row.Port;
    port.resize(FPortWidth, ' ');
    return port + " " + text;
}

void TProgressBoard::DrawLocked(bool Force) {
    const auto now = TClock::now();
    if (!Force && now - FLastDraw < std::chrono::milliseconds(100)) return;
    FLastDraw = now;
    std::vector<std::string> lines;
    for (const TRow &row : FRows) lines.push_back(RowText(row, now));
    FConsole.SetStatus(lines);
}
