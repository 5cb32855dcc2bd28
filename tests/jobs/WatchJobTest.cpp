// The watch on a scripted line's clock: rounds on the interval's beat, the
// endings (count, duration, stop, port error) and failed rows counted
// without ending it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "ForwardLink.h"
#include "SimModbusLine.h"
#include "jobs/WatchJob.h"

namespace {

class WatchJob : public ::testing::Test {
protected:
    WatchJob() {
        Line.AddDevice(9);
        Options.Port = "/dev/ttyWATCH";
        Options.Params.Timeout = 100;
        TWatchRow Row;
        Row.Address = 9;
        Row.Register = 3;
        Row.Label = "present";
        Options.Rows.push_back(Row);
        Row.Address = 8;  // nobody there
        Row.Label = "absent";
        Options.Rows.push_back(Row);
    }
    TWatchResult Run() {
        Polls.clear();
        return RunWatchJob(
            Options, Stop, [this](const TWatchPoll &P) { Polls.push_back(P); }, LinesTo(Line));
    }
    TSimModbusLine Line{5, {}, 1000};
    TWatchOptions Options;
    std::atomic<bool> Stop{false};
    std::vector<TWatchPoll> Polls;
    size_t SentBefore = 0;  // requests of the runs before
};

TEST_F(WatchJob, RoundsComeOnTheBeatAndEndAsAsked) {
    struct TRow {
        const char *Name;
        int Interval;
        long MaxPolls;
        uint64_t Duration;
        std::vector<uint64_t> At;  // when the rounds began
    };
    // A round takes 101 ms or so here: the absent row waits its time-out.
    const TRow Rows[] = {
        {"count", 1000, 4, 0, {0, 1000, 2000, 3000}},
        {"duration", 1000, 0, 2500, {0, 1000, 2000}},
        {"interval shorter than a round: no catching up", 100, 3, 0, {0, 101, 202}},
        {"below the least interval", 10, 2, 0, {0, 101}},
        {"back to back for a while", 0, 0, 300, {0, 101, 202}},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Name);
        Options.IntervalMs = R.Interval;
        Options.MaxPolls = R.MaxPolls;
        Options.DurationMs = R.Duration;
        const TWatchResult Result = Run();
        std::vector<uint64_t> At;
        for (const TWatchPoll &P : Polls) At.push_back(P.AtMs);
        EXPECT_EQ(At, R.At);
        EXPECT_EQ(Result.Polls, static_cast<long>(R.At.size()));
        EXPECT_EQ(Result.GoodPolls, Result.Polls);
        // The absent row fails every round with its reason; the watch goes on.
        ASSERT_EQ(Result.Stats.size(), 2u);
        EXPECT_EQ(Result.Stats[0].Good, Result.Polls);
        EXPECT_EQ(Result.Stats[1].Errors, Result.Polls);
        EXPECT_EQ(Polls.back().Readings[1].Why.Text, TJobText::ModbusNoAnswer);
        EXPECT_EQ(*Polls.back().Readings[0].Value, static_cast<int16_t>(Line.Register(9, 3)));
        EXPECT_FALSE(Result.PortError);
        EXPECT_FALSE(Result.Stopped);
        EXPECT_FALSE(Line.Connected());
    }
}

// Back to back, a round is reported once the next round's first request is
// out (the report overlaps the sensor's answer); before a wait it is
// reported at once. Either way every round comes, in order, with its texts.
TEST_F(WatchJob, ARoundIsReportedOnceTheNextRequestIsOut) {
    struct TRow {
        const char *Name;
        int Interval;
        bool StopAtFirstReport;
        std::vector<size_t> SentAtReport;  // requests written when each round came
    };
    const TRow Rows[] = {
        {"back to back, to the count", 0, false, {3, 5, 6}},
        {"back to back, stopped", 0, true, {3, 4}},
        {"on an interval", 1000, false, {2, 4, 6}},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Name);
        Options.IntervalMs = R.Interval;
        Options.MaxPolls = 3;
        Stop = false;
        std::vector<size_t> SentAtReport;
        std::vector<long> Index;
        std::vector<std::string> Texts;
        const TWatchResult Result = RunWatchJob(
            Options, Stop,
            [&](const TWatchPoll &P) {
                SentAtReport.push_back(Line.Sent.size() - SentBefore);
                Index.push_back(P.Index);
                Texts.push_back(P.Readings[0].Text);
                if (R.StopAtFirstReport) Stop = true;
            },
            LinesTo(Line));
        SentBefore = Line.Sent.size();
        EXPECT_EQ(SentAtReport, R.SentAtReport);
        std::vector<long> Want(R.SentAtReport.size());
        for (size_t I = 0; I < Want.size(); ++I) Want[I] = static_cast<long>(I);
        EXPECT_EQ(Index, Want);
        EXPECT_EQ(Result.Polls, static_cast<long>(Want.size()));
        for (const std::string &T : Texts)
            EXPECT_EQ(T, std::to_string(static_cast<int16_t>(Line.Register(9, 3))));
    }
}

TEST_F(WatchJob, StopPortErrorAndAPortThatNeverOpens) {
    Options.IntervalMs = 3600 * 1000;
    // Stopped during an hour's wait: seen within a wait step.
    uint64_t StoppedAt = 0;
    TWatchResult R = RunWatchJob(
        Options, Stop,
        [&](const TWatchPoll &) {
            Stop = true;
            StoppedAt = Line.Clock;
        },
        LinesTo(Line));
    EXPECT_TRUE(R.Stopped);
    EXPECT_EQ(R.Polls, 1);
    EXPECT_LE(Line.Clock - StoppedAt, 100u);
    Stop = false;

    Options.IntervalMs = 0;
    Line.DisconnectAtWrite = static_cast<int>(Line.Sent.size()) + 5;
    R = Run();
    ASSERT_TRUE(R.PortError);
    EXPECT_EQ(R.PortError->Code(), CError_Disconnected);
    EXPECT_FALSE(R.OpenFailed);
    EXPECT_EQ(R.Polls, 2);  // the round in progress is not reported
    EXPECT_EQ(Polls.size(), 2u);
    Line.DisconnectAtWrite = -1;

    Line.FailOpen = true;
    R = Run();
    EXPECT_TRUE(R.OpenFailed);
    EXPECT_EQ(R.Polls, 0);
}

}  // namespace
