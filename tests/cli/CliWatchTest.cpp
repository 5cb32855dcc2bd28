// veldra-cli watch against the simulated Modbus line (registers 0..63 of
// the sensors hold 0x0100 + n, 1000..1007 change with time; nobody at
// address 9).
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "CliTestUtil.h"

namespace {

std::string ReadFile(const std::string &Path) {
    std::ifstream In(Path);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}

class CliWatch : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FDir = new TTempDir;
        FSettings = WriteTestSettings(*FDir);
        FSim = new TSimProcess({"modbus", "--profiles"});
        ASSERT_TRUE(FSim->Start());
    }
    static void TearDownTestSuite() {
        delete FSim;
        delete FDir;
    }
    static TRunResult Watch(const std::vector<std::string> &Args, bool Json = false) {
        std::vector<std::string> All;
        if (Json) All.push_back("--json");
        All.insert(All.end(), {"watch", "--port", FSim->PtyPath()});
        All.insert(All.end(), Args.begin(), Args.end());
        return RunCliWith(FSettings, All);
    }
    static TTempDir *FDir;
    static std::string FSettings;
    static TSimProcess *FSim;
};
TTempDir *CliWatch::FDir = nullptr;
std::string CliWatch::FSettings;
TSimProcess *CliWatch::FSim = nullptr;

const std::regex IsoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");

TEST_F(CliWatch, LinesCsvAndSummary) {
    const std::string Csv = FDir->File("watch.csv");
    const std::string List = FDir->Write(
        "list.json",
        R"({"watch": [{"address": 1, "register": 3, "label": "volts, scaled", "scale": 0.1,
                      "unit": "V"},
                     {"address": 9, "register": 0, "label": "gone"},
                     {"address": 4, "register": 1, "type": "uint32"}]})");
    const TRunResult R = Watch(
        {"--list", List, "--count", "3", "--interval", "100", "--csv", Csv, "--timeout", "100"});
    ASSERT_EQ(R.ExitCode, 0) << R.Err;
    const std::vector<std::string> Lines = SplitLines(R.Out);
    ASSERT_EQ(Lines.size(), 3u) << R.Out;
    for (const std::string &L : Lines) {
        const size_t Tab = L.find('\t');
        EXPECT_TRUE(std::regex_match(L.substr(0, Tab), IsoTime)) << L;
        EXPECT_EQ(L.substr(Tab), "\t25.9 V\terror: No answer within the time-out\t16843010");
    }
    EXPECT_TRUE(Contains(R.Err, "Polls: 3 in ")) << R.Err;
    EXPECT_TRUE(Contains(R.Err, "volts, scaled: 3 read, 0 failed, min 25.9, max 25.9, mean 25.9"))
        << R.Err;
    EXPECT_TRUE(Contains(R.Err, "gone: 0 read, 3 failed")) << R.Err;

    const std::vector<std::string> Log = SplitLines(ReadFile(Csv));
    ASSERT_EQ(Log.size(), 9u);
    EXPECT_TRUE(Log[0].starts_with("# veldra-cli ")) << Log[0];
    EXPECT_EQ(Log[1].rfind("# port " + FSim->PtyPath() + ", 19200 baud, parity even", 0), 0u);
    EXPECT_EQ(Log[5], "time,\"volts, scaled\",gone,4:1,errors");
    for (size_t I = 6; I < 9; ++I) {
        const size_t Comma = Log[I].find(',');
        EXPECT_TRUE(std::regex_match(Log[I].substr(0, Comma), IsoTime)) << Log[I];
        EXPECT_EQ(Log[I].substr(Comma), ",25.9,,16843010,gone: No answer within the time-out");
    }
}

TEST_F(CliWatch, JsonLinesThenTheSummaryObject) {
    const TRunResult R = Watch({"-a", "2", "-r", "5", "-t", "uint16", "--label", "five", "--count",
                                "2", "--interval", "0"},
                               true);
    ASSERT_EQ(R.ExitCode, 0) << R.Err;
    const std::vector<std::string> Lines = SplitLines(R.Out);
    ASSERT_EQ(Lines.size(), 3u) << R.Out;
    for (int I = 0; I < 2; ++I) {
        const auto J = nlohmann::json::parse(Lines[I]);
        EXPECT_EQ(J["poll"], I + 1);
        EXPECT_EQ(J["values"]["five"], 261);
        EXPECT_TRUE(J["errors"].empty());
        EXPECT_TRUE(std::regex_match(J["time"].get<std::string>(), IsoTime));
    }
    const auto S = nlohmann::json::parse(Lines[2]);
    EXPECT_EQ(S["command"], "watch");
    EXPECT_EQ(S["polls"], 2);
    EXPECT_EQ(S["rows"][0]["good"], 2);
    EXPECT_EQ(S["rows"][0]["mean"], 261);
}

// The simulator's changing registers, watched: each agrees with the time
// since the simulator started (register 1006, read in the same round) and
// the wall-clock register with the round's time, within generous bounds.
TEST_F(CliWatch, ChangingRegistersFollowTheTime) {
    const std::string List = FDir->Write(
        "live.json",
        R"({"watch": [{"address": 1, "register": 1000, "type": "uint16", "label": "counter"},
                     {"address": 1, "register": 1001, "type": "int", "label": "triangle"},
                     {"address": 1, "register": 1002, "type": "float", "label": "sine"},
                     {"address": 1, "register": 1004, "type": "uint32", "label": "clock"},
                     {"address": 1, "register": 1006, "type": "uint32", "label": "uptime"}]})");
    const TRunResult R = Watch({"--list", List, "--count", "5", "--interval", "300"}, true);
    ASSERT_EQ(R.ExitCode, 0) << R.Err;
    const std::vector<std::string> Lines = SplitLines(R.Out);
    ASSERT_EQ(Lines.size(), 6u) << R.Out;
    double LastUptime = -1;
    for (size_t I = 0; I < 5; ++I) {
        const auto J = nlohmann::json::parse(Lines[I]);
        SCOPED_TRACE(Lines[I]);
        const auto &V = J["values"];
        ASSERT_TRUE(J["errors"].empty());
        const double Up = V["uptime"].get<double>();
        // Read last in the round: at most half a second after the others.
        EXPECT_GE(Up / 100, V["counter"].get<double>());
        EXPECT_LE(Up / 100 - V["counter"].get<double>(), 6);
        EXPECT_NEAR(V["sine"].get<double>(), 100 * std::sin(2 * M_PI * Up / 60000), 6);
        const double Tri = V["triangle"].get<double>();
        EXPECT_GE(Tri, -100);
        EXPECT_LE(Tri, 100);
        // Rounds at least the interval apart.
        if (LastUptime >= 0) {
            EXPECT_GE(Up - LastUptime, 250);
        }
        LastUptime = Up;
        std::tm Utc{};
        const std::string Time = J["time"];
        ASSERT_EQ(std::sscanf(Time.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &Utc.tm_year, &Utc.tm_mon,
                              &Utc.tm_mday, &Utc.tm_hour, &Utc.tm_min, &Utc.tm_sec),
                  6);
        Utc.tm_year -= 1900;
        Utc.tm_mon -= 1;
        const double Clock = V["clock"].get<double>();
        EXPECT_GE(Clock, static_cast<double>(timegm(&Utc)));
        EXPECT_LE(Clock, static_cast<double>(timegm(&Utc)) + 5);
    }
}

TEST_F(CliWatch, NothingReadOrAMistakenCommandLine) {
    const TRunResult None = Watch({"-a", "9", "-r", "0", "--count", "2", "--interval", "0"});
    EXPECT_EQ(None.ExitCode, 1) << None.Err;
    const std::string Bad =
        FDir->Write("bad.json", R"({"watch": [{"address": 0, "register": 1}]})");
    const struct {
        std::vector<std::string> Args;
        const char *Err;
    } Cases[] = {
        {{"--list", Bad}, "row 1: \"address\" must be a whole number 1..247"},
        {{"-a", "1"}, "--list or both --addr and --reg are required"},
        {{"-a", "1", "-r", "0", "-t", "double"}, "\"type\" must be float"},
        {{"-a", "1", "-r", "0", "--count", "2", "--duration", "5"},
         "--count and --duration exclude each other"},
        {{"--list", Bad, "-a", "1"}, "--list and --addr/--reg exclude each other"},
    };
    for (const auto &C : Cases) {
        const TRunResult R = Watch(C.Args);
        EXPECT_EQ(R.ExitCode, 2) << R.Err;
        EXPECT_TRUE(Contains(R.Err, C.Err)) << R.Err;
    }
}

}  // namespace
