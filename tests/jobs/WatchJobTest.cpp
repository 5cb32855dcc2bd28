// The watch on a scripted line's clock: rounds on the interval's beat, the
// endings (count, duration, stop, port error) and failed rows counted
// without ending it.
#include <gtest/gtest.h>

#include <atomic>
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
