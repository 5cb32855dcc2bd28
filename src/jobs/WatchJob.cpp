#include "jobs/WatchJob.h"

#include <algorithm>

#include "serial/Interrupt.h"

namespace {

// The steps of a wait, so that Stop is seen soon during a long interval.
constexpr uint64_t CWatchWaitStepMs = 100;

int IntervalOf(int Ms) {
    return Ms <= 0 ? 0 : std::clamp(Ms, CMinWatchIntervalMs, CMaxWatchIntervalMs);
}

// One round of every row; its readings go into the statistics.
TWatchPoll ReadRound(TModbusRTU &Master, const TWatchOptions &Options, TWatchResult &Result,
                     uint64_t AtMs) {
    TWatchPoll Poll;
    Poll.Index = Result.Polls;
    Poll.AtMs = AtMs;
    bool AnyGood = false;
    for (size_t I = 0; I < Options.Rows.size(); ++I) {
        Poll.Readings.push_back(ReadWatchRow(Master, Options.Rows[I]));
        Result.Stats[I].Add(Poll.Readings.back(), AtMs);
        AnyGood = AnyGood || Poll.Readings.back().Ok;
    }
    ++Result.Polls;
    if (AnyGood) ++Result.GoodPolls;
    return Poll;
}

// Waits on Clock until Until (ms since Start), Stop or the end of the
// watch, whichever comes first; false when the watch is to end.
bool WaitFor(TClock &Clock, uint64_t Start, uint64_t Until, uint64_t End,
             const std::atomic<bool> &Stop) {
    for (;;) {
        if (Stop) return false;
        const uint64_t Now = Clock.Now() - Start;
        if (End && Now >= End) return false;
        const uint64_t Target = End ? std::min(Until, End) : Until;
        if (Now >= Target) return !(End && Now >= End);
        Clock.Pause(static_cast<uint32_t>(std::min(Target - Now, CWatchWaitStepMs)));
    }
}

}  // namespace

TWatchResult RunWatchJob(const TWatchOptions &Options, const std::atomic<bool> &Stop,
                         const TWatchReport &OnPoll, const TLineMaker &Make) {
    TWatchResult Result;
    Result.Stats.resize(Options.Rows.size());
    TModbusLine Line(Make(Options.Port));
    TClock &Clock = Line.Clock();
    const uint64_t Start = Clock.Now();
    const uint64_t Interval = static_cast<uint64_t>(IntervalOf(Options.IntervalMs));
    try {
        if (!Line.Open(Options.Params)) {
            const auto &Error = Line.Master().OpenError();
            Result.PortError = Error ? *Error : EComPort(CError_OpenFailed);
            Result.OpenFailed = true;
            return Result;
        }
        uint64_t Next = 0;
        while (!Stop && !Options.Rows.empty()) {
            const uint64_t At = Clock.Now() - Start;
            const TWatchPoll Poll = ReadRound(Line.Master(), Options, Result, At);
            if (OnPoll) OnPoll(Poll);
            if (Options.MaxPolls > 0 && Result.Polls >= Options.MaxPolls) break;
            // The next round on the interval's beat; one that ran late
            // starts at once, without rounds to catch up.
            Next = std::max(Next + Interval, Clock.Now() - Start);
            if (!WaitFor(Clock, Start, Next, Options.DurationMs, Stop)) break;
        }
    } catch (const EComPort &E) {
        Result.PortError = E;
    } catch (const EInterrupted &) {
        Result.Stopped = true;
    }
    // The line closes with the master as Line goes (a failing close is
    // swallowed there).
    Result.Stopped = Result.Stopped || Stop;
    Result.ElapsedMs = Clock.Now() - Start;
    return Result;
}
