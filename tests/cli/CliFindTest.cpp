// veldra-cli find against a simulated line whose devices answer only at
// their own bit rate and parity:
//   17  sensor (code 7, version 0x0105) at 38400 8O1
//   19  plain device at 9600 8N1
//   200 plain device at 9600 8N1
// The probe time-out is raised so that a loaded machine cannot make the
// simulator miss one; the address ranges are narrow to keep the runs short.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "CliTestUtil.h"

namespace {

class CliFind : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FDir = new TTempDir;
        FSettings = WriteTestSettings(*FDir);
        FSim = new TSimProcess({"modbus", "--device", "17:map18", "--device", "19", "--device",
                                "200", "--device-line", "17:38400:8O1", "--device-line",
                                "19:9600:8N1", "--device-line", "200:9600:8N1"});
        ASSERT_TRUE(FSim->Start());
    }
    static void TearDownTestSuite() {
        delete FSim;
        delete FDir;
    }
    static TRunResult Find(const std::vector<std::string> &Args, bool Json = false) {
        std::vector<std::string> All;
        if (Json) All.push_back("--json");
        All.insert(All.end(), {"find", "--port", FSim->PtyPath(), "--probe-timeout", "100"});
        All.insert(All.end(), Args.begin(), Args.end());
        return RunCliWith(FSettings, All);
    }
    static TTempDir *FDir;
    static std::string FSettings;
    static TSimProcess *FSim;
};
TTempDir *CliFind::FDir = nullptr;
std::string CliFind::FSettings;
TSimProcess *CliFind::FSim = nullptr;

TEST_F(CliFind, FindsEachDeviceAtItsOwnSettings) {
    struct TCase {
        const char *Name;
        std::vector<std::string> Args;
        std::vector<std::string> Rows;  // the lines before the summary
        const char *Summary;            // its start
    };
    const TCase Cases[] = {
        {"9600 8N1, after 9600 8E1",
         {"--first", "198", "--last", "202"},
         {"200\t9600\tNone\t1\tN/A\tN/A"},
         "Found 1 device; 2 of 18 line settings searched, 10 probes in "},
        {"38400 8O1, the ninth setting",
         {"--first", "15", "--last", "18"},
         {"17\t38400\tOdd\t1\t7 (0x00000007) Probe A\t1.05"},
         "Found 1 device; 9 of 18 line settings searched, 36 probes in "},
        {"a mixed line with --all, narrowed",
         {"--all", "--bauds", "9600,38400", "--parities", "none,odd", "--first", "15", "--last",
          "19"},
         {"19\t9600\tNone\t1\tN/A\tN/A", "17\t38400\tOdd\t1\t7 (0x00000007) Probe A\t1.05"},
         "Found 2 devices; 4 of 4 line settings searched, 20 probes in "},
    };
    for (const TCase &C : Cases) {
        SCOPED_TRACE(C.Name);
        const TRunResult R = Find(C.Args);
        ASSERT_EQ(R.ExitCode, 0) << R.Err;
        std::vector<std::string> Lines = SplitLines(R.Out);
        ASSERT_EQ(Lines.size(), C.Rows.size() + 1) << R.Out;
        EXPECT_TRUE(Lines.back().starts_with(C.Summary)) << Lines.back();
        Lines.pop_back();
        EXPECT_EQ(Lines, C.Rows);
    }
}

TEST_F(CliFind, JsonNamesTheDevicesAndTheSettingsTried) {
    const TRunResult R = Find({"--first", "15", "--last", "18", "--bauds", "38400"}, true);
    ASSERT_EQ(R.ExitCode, 0) << R.Err;
    const auto J = nlohmann::json::parse(R.Out);
    EXPECT_EQ(J["command"], "find");
    EXPECT_EQ(J["found"], 1);
    ASSERT_EQ(J["devices"].size(), 1u);
    const auto &D = J["devices"][0];
    EXPECT_EQ(D["address"], 17);
    EXPECT_EQ(D["baud"], 38400);
    EXPECT_EQ(D["parity"], "Odd");
    EXPECT_EQ(D["stop_bits"], "1");
    EXPECT_EQ(D["device_code"], "7 (0x00000007) Probe A");
    EXPECT_EQ(D["fw_version"], "1.05");
    EXPECT_EQ(D["sensor_id"], 7);
    ASSERT_EQ(J["settings"].size(), 3u);
    EXPECT_EQ(J["settings"][0],
              (nlohmann::json{{"baud", 38400}, {"parity", "Even"}, {"stop_bits", "1"}}));
    EXPECT_EQ(J["settings"][2]["parity"], "Odd");
    EXPECT_EQ(J["settings_planned"], 3);
    EXPECT_EQ(J["probes"], 12);
    EXPECT_EQ(J["probe_timeout_ms"], 100);
}

TEST_F(CliFind, NothingFoundRefusedOrMistyped) {
    struct TCase {
        const char *Name;
        std::vector<std::string> Args;
        int Exit;
        const char *Err;
    };
    const TCase Cases[] = {
        {"nobody at 19200",
         {"--bauds", "19200", "--first", "1", "--last", "5"},
         1,
         "No device answered at any of the line settings tried."},
        {"a bit rate that is none", {"--bauds", "9600,960"}, 2, "--bauds: '960' is not a bit rate"},
        {"mark parity",
         {"--parities", "even,mark"},
         2,
         "--parities: 'mark' is not none, even or odd"},
        {"addresses the wrong way round", {"--first", "9", "--last", "8"}, 2, "Invalid addresses"},
    };
    for (const TCase &C : Cases) {
        SCOPED_TRACE(C.Name);
        const TRunResult R = Find(C.Args);
        EXPECT_EQ(R.ExitCode, C.Exit) << R.Err;
        EXPECT_TRUE(Contains(R.Err, C.Err)) << R.Err;
    }
    const TRunResult Short =
        RunCliWith(FSettings, {"find", "--port", FSim->PtyPath(), "--probe-timeout", "4"});
    EXPECT_EQ(Short.ExitCode, 2);
    for (const char *Port : {"tcp://127.0.0.1:9", "modbus-tcp://127.0.0.1"}) {
        const TRunResult R = RunCliWith(FSettings, {"find", "--port", Port});
        EXPECT_EQ(R.ExitCode, 3) << R.Err;
        EXPECT_TRUE(
            Contains(R.Err, std::string("The line settings of ") + Port + " are its server's"))
            << R.Err;
    }
}

}  // namespace
