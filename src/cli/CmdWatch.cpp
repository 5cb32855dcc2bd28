// watch: registers read round after round, one line per round, a summary at
// the end, and a CSV log written as it goes.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "Version.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/PacedOut.h"
#include "cli/PortCheck.h"
#include "jobs/JobTexts.h"
#include "jobs/WatchJob.h"
#include "jobs/WatchLog.h"
#include "serial/Interrupt.h"
#include "settings/Settings.h"

namespace {

using TWallClock = std::chrono::system_clock;

std::vector<TWatchRow> RowsOf(const TWatchCliOptions &Opt) {
    if (!Opt.List.empty()) {
        if (Opt.Addr || Opt.Reg) throw EUsageError("--list and --addr/--reg exclude each other");
        const TWatchListRead Read = ReadWatchListFile(Opt.List);
        if (!Read.Ok()) throw EUsageError("--list " + Read.Error);
        return Read.Rows;
    }
    if (!Opt.Addr || !Opt.Reg) throw EUsageError("--list or both --addr and --reg are required");
    // One row, written as a list would have it: the same checks.
    nlohmann::json Row{{"address", *Opt.Addr}, {"register", *Opt.Reg}, {"type", Opt.Type},
                       {"order", Opt.Order},   {"scale", Opt.Scale},   {"offset", Opt.Offset},
                       {"unit", Opt.Unit}};
    if (Opt.Regs) Row["count"] = *Opt.Regs;
    if (!Opt.Label.empty()) Row["label"] = Opt.Label;
    const TWatchListRead Read = ParseWatchList(nlohmann::json{{"watch", {Row}}}.dump());
    if (!Read.Ok()) throw EUsageError(Read.Error.substr(Read.Error.find(": ") + 2));
    return Read.Rows;
}

nlohmann::json PollJson(const std::string &Time, const std::vector<TWatchRow> &Rows,
                        const TWatchPoll &P) {
    nlohmann::json Values = nlohmann::json::object(), Errors = nlohmann::json::object();
    for (size_t I = 0; I < Rows.size(); ++I) {
        const TWatchReading &R = P.Readings[I];
        if (!R.Ok) {
            Values[Rows[I].Label] = nullptr;
            Errors[Rows[I].Label] = JobText(R.Why);
        } else if (R.Value && std::isfinite(*R.Value)) {
            Values[Rows[I].Label] = *R.Value;
        } else {
            Values[Rows[I].Label] = R.Text;
        }
    }
    return {{"time", Time}, {"poll", P.Index + 1}, {"values", Values}, {"errors", Errors}};
}

std::string PollText(const std::string &Time, const std::vector<TWatchRow> &Rows,
                     const TWatchPoll &P) {
    // Appended piece by piece: GCC 12 takes "literal" + a temporary string
    // for an overlapping copy (-Wrestrict) in release builds.
    std::string Line = Time;
    for (size_t I = 0; I < Rows.size(); ++I) {
        const TWatchReading &R = P.Readings[I];
        Line += '\t';
        if (!R.Ok) {
            Line += "error: ";
            Line += JobText(R.Why);
            continue;
        }
        Line += R.Text;
        if (!Rows[I].Unit.empty()) {
            Line += ' ';
            Line += Rows[I].Unit;
        }
    }
    return Line;
}

}  // namespace

int RunWatch(TCliContext &Ctx, const TWatchCliOptions &Opt) {
    if (Opt.Count && Opt.Duration) throw EUsageError("--count and --duration exclude each other");
    const std::vector<TWatchRow> Rows = RowsOf(Opt);
    TWatchOptions Job;
    Job.Port = Opt.Port;
    Job.Params.BaudRate = BaudRateFromText(Opt.Line.Baud);
    Job.Params.ParityBits = ParityFromText(Opt.Line.Parity);
    Job.Params.StopBits = StopBitsFromText(Opt.Line.StopBits);
    Job.Params.Timeout = std::clamp(Opt.Line.Timeout, CMinTimeout, CMaxTimeout);
    Job.Rows = Rows;
    Job.IntervalMs = Opt.Interval;
    Job.MaxPolls = Opt.Count.value_or(0);
    Job.DurationMs = static_cast<uint64_t>(Opt.Duration.value_or(0)) * 1000;

    TResult Result(Ctx, "watch");
    Result["port"] = Opt.Port;
    TWatchLog Csv;
    const TWatchLogHead LogHead{std::string("veldra-cli ") + veldra::kVersion, Opt.Port,
                                Opt.Line.Baud, Opt.Line.Parity, Opt.Line.StopBits};
    if (!Opt.Csv.empty() && !Csv.Open(Opt.Csv, LogHead, Rows))
        return Result.Fail(ExitFailed, Opt.Csv + ": cannot be written");

    const TWallClock::time_point Start = TWallClock::now();
    // Back to back, rounds come faster than a terminal or a script takes
    // lines one by one: they are printed together, at most 50 times a
    // second (the log still gets each round as it comes).
    TPacedOut Out(*Ctx.Console);
    const TWatchResult Watch = RunWatchJob(Job, InterruptRequested(), [&](const TWatchPoll &P) {
        const std::string Time = IsoUtcTime(Start + std::chrono::milliseconds(P.AtMs));
        Csv.Write(Time, P);
        Out.Put(Ctx.Json ? JsonText(PollJson(Time, Rows, P))
                         : VisibleText(PollText(Time, Rows, P)));
    });
    Out.Close();  // every round's line before the summary
    if (Watch.OpenFailed)
        return ReportPortProblem(Result, Opt.Port, PortProblemOf(*Watch.PortError));

    // The summary: rounds, each row's reads and errors, the rate reached.
    const double Seconds = static_cast<double>(Watch.ElapsedMs) / 1000.0;
    const double Rate = Seconds > 0 ? static_cast<double>(Watch.Polls) / Seconds : 0;
    char Head[96];
    std::snprintf(Head, sizeof Head, "Polls: %ld in %.1f s (%.2f per second)", Watch.Polls, Seconds,
                  Rate);
    Ctx.Console->Err(Head);
    nlohmann::json Summary = nlohmann::json::array();
    for (size_t I = 0; I < Rows.size(); ++I) {
        const TWatchStats &S = Watch.Stats[I];
        std::string Line = Rows[I].Label + ": " + std::to_string(S.Good) + " read, " +
                           std::to_string(S.Errors) + " failed";
        nlohmann::json J{{"label", Rows[I].Label}, {"good", S.Good}, {"errors", S.Errors}};
        if (S.Min) {
            char Buf[128];
            std::snprintf(Buf, sizeof Buf, ", min %.6g, max %.6g, mean %.6g", *S.Min, *S.Max,
                          *S.Mean());
            Line += Buf;
            J["min"] = *S.Min;
            J["max"] = *S.Max;
            J["mean"] = *S.Mean();
        }
        Ctx.Console->Err(Line);
        Summary.push_back(J);
    }
    Result["polls"] = Watch.Polls;
    Result["good_polls"] = Watch.GoodPolls;
    Result["elapsed_ms"] = Watch.ElapsedMs;
    Result["rate_per_s"] = Rate;
    Result["rows"] = Summary;
    if (Csv.Failed()) Result.ErrorText(Opt.Csv + ": writing the log failed");
    if (Watch.PortError)
        return ReportPortProblem(Result, Opt.Port, PortProblemOf(*Watch.PortError));
    if (Watch.Stopped) Result["stopped"] = true;
    // Ctrl+C is how a watch without --count or --duration ends: the exit
    // code says whether anything was read, as after the count.
    Result.EndsOnCtrlC();
    if (Watch.GoodPolls == 0) {
        Result.ErrorText(Watch.Polls == 0 ? "Stopped before the first round ended"
                                          : "No value was read in " + std::to_string(Watch.Polls) +
                                                " round(s): see the errors of each row");
        return Result.Finish(ExitFailed);
    }
    return Result.Finish(ExitOk);
}
