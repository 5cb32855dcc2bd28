// veldra-cli station against simulated sensors in bootloader mode: the events
// as JSON lines, the plain lines, and the summary and exit code after Ctrl+C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "CliTestUtil.h"

extern char **environ;

namespace {

using namespace std::chrono_literals;

// A firmware file with the 16-byte header for sensor 17 (Probe Q).
std::string Cod17(uint8_t Hi, uint8_t Lo, size_t ImageSize) {
    std::string f(16, '\0');
    for (int i = 0; i < 4; ++i) f[3 + i] = static_cast<char>(ImageSize >> (8 * i));
    f[7] = static_cast<char>(Hi);
    f[8] = static_cast<char>(Lo);
    f[9] = 17;
    f[10] = 'A', f[11] = 'V', f[12] = 'R';
    unsigned sum = 2;
    for (int i = 0; i < 15; ++i) sum += static_cast<uint8_t>(f[i]);
    f[15] = static_cast<char>(sum & 0xFF);
    for (size_t i = 0; i < ImageSize; ++i) f += static_cast<char>(i * 7 + 3);
    return f;
}

class CliStation : public ::testing::Test {
protected:
    void SetUp() override { FSettings = WriteTestSettings(FDir); }
    // A simulated sensor on DIR/Name.
    std::unique_ptr<TSimProcess> Sim(const std::string &Name, std::vector<std::string> Args) {
        Args.insert(Args.begin(), {"bootloader", "--quiet", "--link", FDir.File(Name)});
        auto S = std::make_unique<TSimProcess>(Args);
        EXPECT_TRUE(S->Start());
        return S;
    }
    std::vector<std::string> StationArgs(const std::string &File, std::vector<std::string> More) {
        std::vector<std::string> Args{"--settings", FSettings, "station",
                                      File,         "--ports", FDir.File("ttySim*"),
                                      "--interval", "500",     "--no-record"};
        Args.insert(Args.end(), More.begin(), More.end());
        return Args;
    }
    TTempDir FDir;
    std::string FSettings;
};

}  // namespace

// --json: one object per event and the summary last; one sensor failed, so
// Ctrl+C ends with 1.
TEST_F(CliStation, JsonEventsAndSummaryAfterCtrlC) {
    auto Ok = Sim("ttySim1", {"--sensor-id", "17", "--version", "1.4"});
    auto Current = Sim("ttySim2", {"--sensor-id", "17", "--version", "1.5", "--stay"});
    auto Other = Sim("ttySim3", {"--sensor-id", "7", "--version", "1.5", "--stay"});
    const std::string File = FDir.Write("fw.cod", Cod17(1, 5, 300));
    TRunningCli Station(FDir, StationArgs(File, {"--json"}));
    ASSERT_TRUE(Station.WaitForOut("\"result\"", 3)) << Station.Out() << Station.Err();
    EXPECT_EQ(Station.Interrupt(), 1) << Station.Err();

    std::map<std::string, nlohmann::json> Results;
    nlohmann::json Last;
    for (const std::string &L : SplitLines(Station.Out())) {
        Last = nlohmann::json::parse(L);  // every line is one object
        ASSERT_TRUE(Last.contains("event")) << L;
        ASSERT_TRUE(Last.contains("time")) << L;
        if (Last.contains("result")) Results[Last["port"]] = Last;
    }
    struct {
        std::string Port, Result, Reason;
    } Cases[] = {
        {FDir.File("ttySim1"), "ok", ""},
        {FDir.File("ttySim2"), "skipped", "The sensor already has the file's version"},
        {FDir.File("ttySim3"), "failed",
         "The selected firmware does not match the connected device"},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Port);
        ASSERT_TRUE(Results.count(C.Port));
        const nlohmann::json &J = Results[C.Port];
        EXPECT_EQ(J["result"], C.Result);
        EXPECT_EQ(J.value("reason", ""), C.Reason);
        EXPECT_EQ(J["file_version"], "1.05");
        EXPECT_EQ(J["baud_rate"], 19200);
    }
    EXPECT_EQ(Results[FDir.File("ttySim1")]["version"], "1.04");
    EXPECT_EQ(Results[FDir.File("ttySim1")]["sensor_id"], 17);
    EXPECT_EQ(Results[FDir.File("ttySim1")]["percent"], 100);
    EXPECT_EQ(Last["event"], "summary");
    EXPECT_EQ(Last["totals"],
              (nlohmann::json{{"ok", 1}, {"failed", 1}, {"skipped", 1}, {"stopped", 0}}));
    EXPECT_EQ(Last["interrupted"], "SIGINT");
    EXPECT_EQ(Last["exit_code"], 1);
    EXPECT_EQ(Last["ports"].size(), 3u);
}

// Plain lines, one per event; nothing failed: Ctrl+C ends with 0 and the
// summary.
TEST_F(CliStation, PlainLinesAndSummaryWhenNothingFailed) {
    auto Current = Sim("ttySim1", {"--sensor-id", "17", "--version", "1.5", "--stay"});
    const std::string File = FDir.Write("fw.cod", Cod17(1, 5, 300));
    TRunningCli Station(FDir, StationArgs(File, {}));
    ASSERT_TRUE(Station.WaitForOut("skipped: The sensor already has the file's version"))
        << Station.Out() << Station.Err();
    EXPECT_EQ(Station.Interrupt(), 0) << Station.Err();
    const std::string Out = Station.Out();
    EXPECT_TRUE(Contains(Out, FDir.File("ttySim1") + " waiting")) << Out;
    EXPECT_TRUE(Contains(Out, FDir.File("ttySim1") + " identifying")) << Out;
    EXPECT_TRUE(Contains(Out, "Station stopped by SIGINT\nTotals: 0 ok, 0 failed, 1 skipped\n"))
        << Out;
    EXPECT_TRUE(Contains(Out, FDir.File("ttySim1") + ": 0 ok, 0 failed, 1 skipped")) << Out;
    EXPECT_TRUE(Contains(Station.Err(), "Ctrl+C ends it")) << Station.Err();
}

// Ctrl+C in the middle of an upload cuts it short (as flash does): stopped,
// exit 130; SIGTERM 143.
TEST_F(CliStation, SignalDuringAnUploadStopsIt) {
    for (const int Signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(Signal);
        auto Slow = Sim("ttySim1", {"--sensor-id", "17", "--version", "1.4", "--pace"});
        const std::string File = FDir.Write("fw.cod", Cod17(1, 5, 20000));
        TRunningCli Station(FDir, StationArgs(File, {}));
        ASSERT_TRUE(Station.WaitForOut("uploading 10 %")) << Station.Out() << Station.Err();
        EXPECT_EQ(Station.Interrupt(Signal), 128 + Signal) << Station.Err();
        const std::string Out = Station.Out();
        EXPECT_TRUE(Contains(Out, "stopped: The upload stopped: Interrupted by SIG")) << Out;
        EXPECT_TRUE(Contains(Out, "Totals: 0 ok, 0 failed, 0 skipped, 1 stopped")) << Out;
    }
}

// The file is checked first, as flash does it.
TEST_F(CliStation, InvalidFileEndsAtOnce) {
    std::string Bad = Cod17(1, 5, 300);
    Bad[40] ^= 1;
    const TRunResult R = RunCliWith(FSettings, {"station", FDir.Write("bad.cod", Bad + "x")});
    EXPECT_EQ(R.ExitCode, 1);
    EXPECT_TRUE(Contains(R.Err, "Invalid COD file")) << R.Err;
    const TRunResult Missing = RunCliWith(FSettings, {"station", FDir.File("none.cod")});
    EXPECT_EQ(Missing.ExitCode, 1);
    EXPECT_TRUE(Contains(Missing.Err, "No such file or directory")) << Missing.Err;
    const TRunResult Help = RunCliWith(FSettings, {"station", "--help"});
    EXPECT_EQ(Help.ExitCode, 0);
    EXPECT_TRUE(Contains(Help.Out, "--yes-older")) << Help.Out;
    EXPECT_TRUE(Contains(Help.Out, "exit 0 when no sensor failed")) << Help.Out;
}
