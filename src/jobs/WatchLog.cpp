#include "jobs/WatchLog.h"

#include <cstdio>
#include <ctime>

std::string IsoUtcTime(std::chrono::system_clock::time_point At) {
    const auto Ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(At.time_since_epoch()).count();
    const auto Seconds = static_cast<std::time_t>(Ms >= 0 ? Ms / 1000 : (Ms - 999) / 1000);
    const auto Milli = static_cast<int>(Ms - static_cast<long long>(Seconds) * 1000);
    // The date and time to the second change once a second; a watch asks
    // for a time every round.
    thread_local std::time_t LastSeconds = -1;
    thread_local char Head[64] = "";
    if (Seconds != LastSeconds || !Head[0]) {
        std::tm Utc{};
        gmtime_r(&Seconds, &Utc);
        std::snprintf(Head, sizeof Head, "%04d-%02d-%02dT%02d:%02d:%02d.", Utc.tm_year + 1900,
                      Utc.tm_mon + 1, Utc.tm_mday, Utc.tm_hour, Utc.tm_min, Utc.tm_sec);
        LastSeconds = Seconds;
    }
    std::string Text = Head;
    Text += static_cast<char>('0' + Milli / 100);
    Text += static_cast<char>('0' + Milli / 10 % 10);
    Text += static_cast<char>('0' + Milli % 10);
    Text += 'Z';
    return Text;
}

std::string CsvCell(const std::string &Text) {
    if (Text.find_first_of(",\"\r\n") == std::string::npos) return Text;
    std::string Out = "\"";
    for (char C : Text) Out += C == '"' ? std::string("\"\"") : std::string(1, C);
    return Out + "\"";
}

bool TWatchLog::Open(const std::string &Path, const TWatchLogHead &Head,
                     const std::vector<TWatchRow> &Rows) {
    Close();
    FRows = Rows;
    FOut.open(Path, std::ios::out | std::ios::trunc);
    if (!FOut) return false;
    FOut << "# " << Head.Program << " watch\n"
         << "# port " << Head.Port << ", " << Head.Baud << " baud, parity " << Head.Parity << ", "
         << Head.StopBits << " stop bit(s)\n";
    for (const TWatchRow &R : Rows)
        FOut << "# " << R.Label << ": address " << R.Address << ", register " << R.Register << ", "
             << RegDataTypeText(R.Type) << (R.Unit.empty() ? "" : ", " + R.Unit) << "\n";
    FOut << "time";
    for (const TWatchRow &R : Rows) FOut << "," << CsvCell(R.Label);
    FOut << ",errors\n";
    FOut.flush();
    return static_cast<bool>(FOut);
}

void TWatchLog::Write(const std::string &Time, const TWatchPoll &Poll) {
    if (!FOut.is_open()) return;
    std::string Line = Time, Errors;
    for (size_t I = 0; I < FRows.size() && I < Poll.Readings.size(); ++I) {
        const TWatchReading &R = Poll.Readings[I];
        Line += ',';
        if (R.Ok) Line += CsvCell(R.Text);
        if (R.Ok) continue;
        if (!Errors.empty()) Errors += "; ";
        Errors += FRows[I].Label;
        Errors += ": ";
        Errors += JobText(R.Why);
    }
    FOut << Line << "," << CsvCell(Errors) << "\n";
    FOut.flush();
}

void TWatchLog::Close() {
    if (FOut.is_open()) FOut.close();
    FOut.clear();
}
