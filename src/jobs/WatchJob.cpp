#include "jobs/WatchJob.h"

#include <algorithm>
#include <optional>
#include <utility>

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
    Poll.Readings.reserve(Options.Rows.size());
    bool AnyGood = false;
    for (size_t I = 0; I < Options.Rows.size(); ++I) {
        Poll.Readings.push_back(ReadWatchValue(Master, Options.Rows[I]));
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
    // A round that the next one follows at once is reported once that
    // round's first request is out: printing and logging it then overlap
    // the sensor's answer instead of delaying the next request. Before a
    // wait and at the end a round is reported at once; rounds are always
    // reported in order.
    std::optional<TWatchPoll> Pending;
    auto Report = [&] {
        if (!Pending) return;
        TWatchPoll Poll = std::move(*Pending);
        Pending.reset();
        for (size_t I = 0; I < Poll.Readings.size(); ++I)
            FillWatchText(Options.Rows[I], Poll.Readings[I]);
        if (OnPoll) OnPoll(Poll);
    };
    Line.Master().SetOnRequestSent(Report);
    Line.Master().SetBackToBack(true);
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
            TWatchPoll Poll = ReadRound(Line.Master(), Options, Result, At);
            Report();  // the last round, when none of this one's requests went out
            Pending = std::move(Poll);
            if (Options.MaxPolls > 0 && Result.Polls >= Options.MaxPolls) break;
            // The next round on the interval's beat; one that ran late
            // starts at once, without rounds to catch up.
            const uint64_t Now = Clock.Now() - Start;
            Next = std::max(Next + Interval, Now);
            if (Next > Now) Report();
            if (!WaitFor(Clock, Start, Next, Options.DurationMs, Stop)) break;
        }
    } catch (const EComPort &E) {
        Result.PortError = E;
    } catch (const EInterrupted &) {
        Result.Stopped = true;
    }
    Line.Master().SetOnRequestSent({});
    Report();
    // The line closes with the master as Line goes (a failing close is
    // swallowed there).
    Result.Stopped = Result.Stopped || Stop;
    Result.ElapsedMs = Clock.Now() - Start;
    return Result;
}
