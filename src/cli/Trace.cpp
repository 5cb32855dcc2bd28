#include "cli/Trace.h"

#include <chrono>
#include <cstdio>

#include "cli/Console.h"

std::string FormatTraceLine(double Ms, const std::string &Port, TTraceDir Dir, const uint8_t *Data,
                            size_t Count) {
    char head[32];
    std::snprintf(head, sizeof head, "%9.3f ", Ms);
    std::string line = head;
    if (!Port.empty()) line += Port + " ";
    if (Dir == TTraceDir::Dropped)
        return line + "RX dropped " + std::to_string(Count) + " bytes (input buffer full)";
    line += Dir == TTraceDir::Tx ? "TX" : "RX";
    if (Count == 0) return line + " (none)";
    static const char kHex[] = "0123456789ABCDEF";
    line.reserve(line.size() + 3 * Count);
    for (size_t i = 0; i < Count; ++i) {
        line += ' ';
        line += kHex[Data[i] >> 4];
        line += kHex[Data[i] & 0x0F];
    }
    return line;
}

void StartFrameTrace(TConsole &Console, bool ShowPort) {
    const auto start = std::chrono::steady_clock::now();
    SetFrameTraceHook([&Console, ShowPort, start](const std::string &Port, TTraceDir Dir,
                                                  const uint8_t *Data, size_t Count) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        Console.Err(FormatTraceLine(ms, ShowPort ? Port : std::string(), Dir, Data, Count));
    });
}

void StopFrameTrace() {
    SetFrameTraceHook(nullptr);
}
