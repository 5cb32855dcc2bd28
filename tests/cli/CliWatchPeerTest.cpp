// veldra-cli watch against a third-party peer: pymodbus's server
// (tests/cli/modbus_watch_server.py) whose registers change while it is
// watched, over Modbus TCP and over RTU on a pseudo-terminal pair (socat).
// The peer logs every value it served; the CSV log and the JSON lines are
// compared with that log cell by cell. Skipped with a message when a peer
// program is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <thread>

#include "CliTestUtil.h"
#include "PeerProcess.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char *Python = "/usr/bin/python3";
constexpr const char *Socat = "/usr/bin/socat";

// One read the peer served: when, and the registers' values.
struct TServed {
    double Time = 0;  // seconds since 1970
    std::vector<uint16_t> Values;
};
// The peer's log by unit and first register, in the order served.
using TServedLog = std::map<std::pair<int, int>, std::vector<TServed>>;

TServedLog ReadServedLog(const std::string &Path) {
    TServedLog Log;
    for (const std::string &Line : SplitLines(ReadFileText(Path))) {
        std::istringstream In(Line);
        TServed S;
        int Unit = 0, First = 0;
        In >> S.Time >> Unit >> First;
        for (unsigned V = 0; In >> V;) S.Values.push_back(static_cast<uint16_t>(V));
        Log[{Unit, First}].push_back(S);
    }
    return Log;
}

// "2026-12-11T07:45:00.123Z" in seconds since 1970.
std::optional<double> IsoSeconds(const std::string &Text) {
    std::tm Utc{};
    int Ms = 0;
    if (std::sscanf(Text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &Utc.tm_year, &Utc.tm_mon,
                    &Utc.tm_mday, &Utc.tm_hour, &Utc.tm_min, &Utc.tm_sec, &Ms) != 7)
        return std::nullopt;
    Utc.tm_year -= 1900;
    Utc.tm_mon -= 1;
    return static_cast<double>(timegm(&Utc)) + Ms / 1000.0;
}

std::vector<std::string> CsvCells(const std::string &Line) {
    std::vector<std::string> Cells(1);
    bool Quoted = false;
    for (size_t I = 0; I < Line.size(); ++I) {
        const char C = Line[I];
        if (Quoted && C == '"' && I + 1 < Line.size() && Line[I + 1] == '"') {
            Cells.back() += '"';
            ++I;
        } else if (C == '"') {
            Quoted = !Quoted;
        } else if (C == ',' && !Quoted) {
            Cells.emplace_back();
        } else {
            Cells.back() += C;
        }
    }
    return Cells;
}

// The rows watched: what the peer's registers hold and how a row shows them.
struct TPeerRow {
    const char *Label;
    int Unit, Register;
    const char *Json;  // the row of the list file
    double (*Value)(const std::vector<uint16_t> &Regs);
    double Tolerance;  // of the value shown (a float is shown rounded)
};

double AsUint16(const std::vector<uint16_t> &R) {
    return R.at(0);
}
double AsInt(const std::vector<uint16_t> &R) {
    return static_cast<int16_t>(R.at(0));
}
double AsFloat(const std::vector<uint16_t> &R) {
    const uint32_t Bits = static_cast<uint32_t>(R.at(0)) << 16 | R.at(1);
    float F = 0;
    std::memcpy(&F, &Bits, sizeof F);
    return F;
}
double AsScaled(const std::vector<uint16_t> &R) {
    return R.at(0) * 0.1 - 40;
}
double AsUint32Lswf(const std::vector<uint16_t> &R) {
    return static_cast<double>(static_cast<uint32_t>(R.at(1)) << 16 | R.at(0));
}

const TPeerRow PeerRows[] = {
    {"counter", 1, 0, R"({"address": 1, "register": 0, "type": "uint16", "label": "counter"})",
     AsUint16, 0},
    {"signed", 1, 1, R"({"address": 1, "register": 1, "type": "int", "label": "signed"})", AsInt,
     0},
    {"sine", 1, 2, R"({"address": 1, "register": 2, "type": "float", "label": "sine"})", AsFloat,
     0.0006},
    {"temp, scaled", 2, 4,
     R"({"address": 2, "register": 4, "type": "uint16", "label": "temp, scaled", "scale": 0.1,
         "offset": -40, "unit": "°C"})",
     AsScaled, 1e-9},
    {"clock", 2, 10,
     R"({"address": 2, "register": 10, "type": "uint32", "order": "LSWF", "label": "clock"})",
     AsUint32Lswf, 0},
};
constexpr const char *MissingRow = R"({"address": 1, "register": 7, "label": "missing"})";
constexpr const char *MissingWhy = "Modbus exception 2 (illegal data address)";

std::string ListOf(bool WithMissing) {
    std::string Text = R"({"watch": [)";
    for (const TPeerRow &R : PeerRows) Text += std::string(R.Json) + ",";
    Text += WithMissing ? std::string(MissingRow) : std::string();
    if (Text.back() == ',') Text.pop_back();
    return Text + "]}";
}

// A served read and the round it belongs to, within generous bounds: the
// round's time is when it began, the read comes after it (the two clocks
// are the same machine's wall clock, taken in two processes).
void ExpectServedInRound(double Served, double Round) {
    EXPECT_GE(Served, Round - 0.05);
    EXPECT_LE(Served, Round + 5.0);
}

enum class TTransport { Tcp, Rtu };

// The peer, reached over one transport; its log in the fixture's folder.
class CliWatchPeer : public ::testing::TestWithParam<TTransport> {
protected:
    void SetUp() override {
        if (access(Python, X_OK) != 0 ||
            RunProgram({Python, "-c", "import pymodbus.server.async_io, serial_asyncio"})
                    .ExitCode != 0)
            GTEST_SKIP() << "needs " << Python << " with pymodbus and pyserial-asyncio";
        if (GetParam() == TTransport::Rtu && access(Socat, X_OK) != 0)
            GTEST_SKIP() << "needs socat (" << Socat << ")";
        FSettings = WriteTestSettings(FDir);
        FLog = FDir.File("served.log");
        const std::string Script = VELDRA_SOURCE_DIR "/tests/cli/modbus_watch_server.py";
        if (GetParam() == TTransport::Tcp) {
            FServer = std::make_unique<TPeerProcess>(
                std::vector<std::string>{Python, Script, "tcp", FLog});
            ASSERT_TRUE(FServer->Start());
            ASSERT_TRUE(FServer->WaitFor("\n")) << FServer->Output();
            const std::string &Out = FServer->Output();
            ASSERT_EQ(Out.rfind("READY ", 0), 0u) << Out;
            FPort = "modbus-tcp://127.0.0.1:" + Out.substr(6, Out.find('\n') - 6);
            return;
        }
        const std::string Ours = FDir.File("master"), Theirs = FDir.File("server");
        FLink = std::make_unique<TPeerProcess>(std::vector<std::string>{
            Socat, "-d", "-d", "pty,raw,echo=0,link=" + Ours, "pty,raw,echo=0,link=" + Theirs});
        ASSERT_TRUE(FLink->Start());
        ASSERT_TRUE(FLink->WaitFor("starting data transfer loop")) << FLink->Output();
        // Holding our end open keeps socat running between the commands.
        FHold = open(Ours.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(FHold, 0);
        FServer = std::make_unique<TPeerProcess>(
            std::vector<std::string>{Python, Script, "rtu", Theirs, FLog});
        ASSERT_TRUE(FServer->Start());
        ASSERT_TRUE(FServer->WaitFor("READY")) << FServer->Output();
        FPort = Ours;
    }
    void TearDown() override {
        FServer.reset();
        if (FHold >= 0) close(FHold);
        FLink.reset();
    }
    std::vector<std::string> WatchArgs(const std::vector<std::string> &Args, bool Json = false) {
        std::vector<std::string> All;
        if (Json) All.push_back("--json");
        All.insert(All.end(), {"watch", "--port", FPort, "--timeout", "1000"});
        All.insert(All.end(), Args.begin(), Args.end());
        return All;
    }
    TRunResult Watch(const std::vector<std::string> &Args, bool Json = false) {
        return RunCliWith(FSettings, WatchArgs(Args, Json));
    }

    TTempDir FDir;
    std::string FSettings, FLog, FPort;
    std::unique_ptr<TPeerProcess> FServer, FLink;
    int FHold = -1;
};

TEST_P(CliWatchPeer, CsvCellsAreWhatThePeerServed) {
    const std::string Csv = FDir.File("watch.csv");
    const std::string List = FDir.Write("list.json", ListOf(true));
    constexpr size_t Polls = 10;
    const TRunResult R = Watch(
        {"--list", List, "--count", std::to_string(Polls), "--interval", "100", "--csv", Csv});
    ASSERT_EQ(R.ExitCode, 0) << R.Err;
    EXPECT_EQ(SplitLines(R.Out).size(), Polls) << R.Out;

    std::vector<std::string> Rows;
    for (const std::string &L : SplitLines(ReadFileText(Csv)))
        if (!L.starts_with("#")) Rows.push_back(L);
    ASSERT_EQ(Rows.size(), Polls + 1) << ReadFileText(Csv);
    EXPECT_EQ(Rows[0], "time,counter,signed,sine,\"temp, scaled\",clock,missing,errors");

    const TServedLog Served = ReadServedLog(FLog);
    // The missing register was refused, never served.
    EXPECT_EQ(Served.count({1, 7}), 0u);
    for (size_t Col = 0; Col < std::size(PeerRows); ++Col) {
        const TPeerRow &Row = PeerRows[Col];
        SCOPED_TRACE(Row.Label);
        const auto Found = Served.find({Row.Unit, Row.Register});
        ASSERT_NE(Found, Served.end());
        // One read per round, none repeated.
        ASSERT_EQ(Found->second.size(), Polls);
        std::map<double, int> Distinct;
        for (size_t I = 0; I < Polls; ++I) {
            const std::vector<std::string> Cells = CsvCells(Rows[I + 1]);
            ASSERT_EQ(Cells.size(), 2 + std::size(PeerRows) + 1) << Rows[I + 1];
            const std::optional<double> Round = IsoSeconds(Cells[0]);
            ASSERT_TRUE(Round) << Cells[0];
            const TServed &S = Found->second[I];
            const double Expected = Row.Value(S.Values);
            ++Distinct[Expected];
            EXPECT_NEAR(std::stod(Cells[1 + Col]), Expected, Row.Tolerance)
                << "round " << I + 1 << ": " << Rows[I + 1];
            ExpectServedInRound(S.Time, *Round);
            // The missing row: an empty cell, the reason in the last column.
            EXPECT_EQ(Cells[1 + std::size(PeerRows)], "");
            EXPECT_EQ(Cells.back(), std::string("missing: ") + MissingWhy);
        }
        // The register changed while it was watched (the clock's seconds
        // may all fall in one second).
        if (Row.Value != AsUint32Lswf) {
            EXPECT_GE(Distinct.size(), 2u);
        }
    }
    // The wall-clock register agrees with the rounds' times.
    const auto &Clocks = Served.at({2, 10});
    for (size_t I = 0; I < Polls; ++I)
        EXPECT_NEAR(AsUint32Lswf(Clocks[I].Values), std::floor(Clocks[I].Time), 1.0);

    // The summary: every row's reads and failures, min, max and mean of
    // what was served.
    EXPECT_TRUE(Contains(R.Err, "Polls: " + std::to_string(Polls) + " in ")) << R.Err;
    EXPECT_TRUE(Contains(R.Err, "missing: 0 read, " + std::to_string(Polls) + " failed")) << R.Err;
    double Min = 1e9, Max = -1e9, Sum = 0;
    for (const TServed &S : Served.at({1, 0})) {
        Min = std::min(Min, AsUint16(S.Values));
        Max = std::max(Max, AsUint16(S.Values));
        Sum += AsUint16(S.Values);
    }
    char Line[160];
    std::snprintf(Line, sizeof Line, "counter: %zu read, 0 failed, min %.6g, max %.6g, mean %.6g",
                  Polls, Min, Max, Sum / Polls);
    EXPECT_TRUE(Contains(R.Err, Line)) << Line << "\n" << R.Err;
}

TEST_P(CliWatchPeer, JsonLinesAreWhatThePeerServed) {
    const std::string List = FDir.Write("list.json", ListOf(true));
    constexpr size_t Polls = 5;
    const TRunResult R =
        Watch({"--list", List, "--count", std::to_string(Polls), "--interval", "0"}, true);
    ASSERT_EQ(R.ExitCode, 0) << R.Err;
    const std::vector<std::string> Lines = SplitLines(R.Out);
    ASSERT_EQ(Lines.size(), Polls + 1) << R.Out;
    const TServedLog Served = ReadServedLog(FLog);
    for (size_t I = 0; I < Polls; ++I) {
        const auto J = nlohmann::json::parse(Lines[I]);
        EXPECT_EQ(J["poll"], I + 1);
        const std::optional<double> Round = IsoSeconds(J["time"].get<std::string>());
        ASSERT_TRUE(Round) << Lines[I];
        for (const TPeerRow &Row : PeerRows) {
            const TServed &S = Served.at({Row.Unit, Row.Register}).at(I);
            ASSERT_TRUE(J["values"][Row.Label].is_number()) << Lines[I];
            EXPECT_NEAR(J["values"][Row.Label].get<double>(), Row.Value(S.Values),
                        std::max(Row.Tolerance, 1e-4))
                << Row.Label << " in " << Lines[I];
            ExpectServedInRound(S.Time, *Round);
        }
        EXPECT_TRUE(J["values"]["missing"].is_null()) << Lines[I];
        EXPECT_EQ(J["errors"].size(), 1u) << Lines[I];
        EXPECT_EQ(J["errors"]["missing"], MissingWhy) << Lines[I];
    }
    const auto S = nlohmann::json::parse(Lines.back());
    EXPECT_EQ(S["polls"], Polls);
    EXPECT_EQ(S["good_polls"], Polls);
    EXPECT_EQ(S["exit_code"], 0);
    ASSERT_EQ(S["rows"].size(), std::size(PeerRows) + 1);
    EXPECT_EQ(S["rows"][0]["good"], Polls);
    EXPECT_EQ(S["rows"][0]["errors"], 0);
    EXPECT_EQ(S["rows"].back()["good"], 0);
    EXPECT_EQ(S["rows"].back()["errors"], Polls);
    EXPECT_FALSE(S["rows"].back().contains("min"));
}

// How a watch ends: after its count, its duration, or on Ctrl+C; with the
// summary and exit code 0 when a round read something, 1 when none did.
TEST_P(CliWatchPeer, EndingsAndExitCodes) {
    const struct {
        const char *Name;
        std::vector<std::string> Args;
        bool CtrlC;
        int Exit;
        long MinPolls, MaxPolls;
    } Cases[] = {
        {"count", {"-a", "1", "-r", "0", "--count", "3", "--interval", "100"}, false, 0, 3, 3},
        {"count, nothing read",
         {"-a", "1", "-r", "7", "--count", "3", "--interval", "0"},
         false,
         1,
         3,
         3},
        {"duration",
         {"-a", "1", "-r", "0", "--duration", "1", "--interval", "200"},
         false,
         0,
         1,
         6},
        {"Ctrl+C", {"-a", "1", "-r", "0", "--interval", "100"}, true, 0, 3, 1000},
        {"Ctrl+C, nothing read", {"-a", "1", "-r", "7", "--interval", "100"}, true, 1, 3, 1000},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Name);
        std::vector<std::string> Args = WatchArgs(C.Args, true);
        Args.insert(Args.begin(), {"--settings", FSettings});
        TRunningCli Run(FDir, Args);
        ASSERT_TRUE(Run.Started());
        if (C.CtrlC) {
            // Stopped once three rounds have been answered (or refused).
            const auto End = Clock::now() + std::chrono::seconds(30);
            auto Rounds = [&] {
                const std::string Out = Run.Out();
                return std::count(Out.begin(), Out.end(), '\n');
            };
            while (Rounds() < 3 && Clock::now() < End)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            Run.Signal(SIGINT);
        }
        const TRunResult R = Run.Wait(30000);
        ASSERT_EQ(R.ExitCode, C.Exit) << R.Err;
        const std::vector<std::string> Lines = SplitLines(R.Out);
        ASSERT_FALSE(Lines.empty());
        const auto S = nlohmann::json::parse(Lines.back());
        const long Polls = S["polls"].get<long>();
        EXPECT_GE(Polls, C.MinPolls) << Lines.back();
        EXPECT_LE(Polls, C.MaxPolls) << Lines.back();
        // One line per round, then the summary.
        EXPECT_EQ(Lines.size(), static_cast<size_t>(Polls) + 1);
        EXPECT_EQ(S["exit_code"], C.Exit);
        EXPECT_EQ(S["rows"][0]["good"].get<long>() + S["rows"][0]["errors"].get<long>(), Polls);
        EXPECT_EQ(S.contains("interrupted"), C.CtrlC) << Lines.back();
        if (C.Exit != 0) {
            EXPECT_TRUE(Contains(R.Err, "No value was read in ")) << R.Err;
        }
        EXPECT_TRUE(Contains(R.Err, "Polls: " + std::to_string(Polls) + " in ")) << R.Err;
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, CliWatchPeer,
                         ::testing::Values(TTransport::Tcp, TTransport::Rtu), [](const auto &Info) {
                             return std::string(Info.param == TTransport::Tcp ? "ModbusTcp"
                                                                              : "RtuOnPty");
                         });

}  // namespace
