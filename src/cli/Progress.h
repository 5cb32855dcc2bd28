#pragma once
// Progress of firmware uploads on standard error: a live bar per port on a
// terminal, a line per 10 % otherwise.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TConsole;

// "850 B/s", "1.9 kB/s", "12.3 kB/s".
std::string FormatRate(double BytesPerSecond);
// "0:07", "12:34", "1:02:03"; "--:--" when unknown (negative).
std::string FormatDuration(double Seconds);
// "[######--------------]  30%  sent 12  failed 1  1.9 kB/s  0:12 left".
// A negative rate leaves out rate and time; a negative time only the time.
std::string FormatProgressBar(int Percent, int Sent, int Failed, double BytesPerSecond,
                              double SecondsLeft, int BarWidth = 20);
// "30% (packets sent 12, failed 1)".
std::string FormatProgressStep(int Percent, int Sent, int Failed);

class TProgressBoard {
public:
    using TClock = std::chrono::steady_clock;

    // One row per port. Live draws bars in the console's status block;
    // otherwise a line is printed each time a port passes a multiple of 10 %.
    // PacketSize and FileSize turn acknowledged packets into bytes.
    TProgressBoard(TConsole &Console, std::vector<std::string> Ports, bool Live, uint64_t FileSize,
                   int PacketSize);
    ~TProgressBoard();

    // The upload of row Index starts now (the base of its rate).
    void Start(size_t Index);
    // A report of the upload of row Index (thread-safe).
    void Report(size_t Index, int PacketsSent, int PacketsFail, int Progress);
    // Final state of a row: its last bar stays with Note in place of the time.
    void Done(size_t Index, const std::string &Note);
    // Removes the live bars.
    void Finish();

private:
    struct TRow {
        std::string Port;
        TClock::time_point Started;
        TClock::time_point Ended;
        bool Running = false;
        int Sent = 0;
        int Fail = 0;
        int Progress = 0;
        int LastDecade = 0;
        std::string Note;
        std::string Printed;  // last step line printed
    };
    void PrintStepLocked(TRow &Row);
    std::string RowText(const TRow &Row, TClock::time_point Now) const;
    void DrawLocked(bool Force);

    std::mutex FLock;
    TConsole &FConsole;
    std::vector<TRow> FRows;
    bool FLive;
    bool FShowPort;
    uint64_t FFileSize;
    int FPacketSize;
    size_t FPortWidth = 0;
    TClock::time_point FLastDraw{};
};
