// The update records of veldra-cli flash and their listing by history,
// against the simulated bootloader.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "CliTestUtil.h"
#include "CodFixtures.h"
#include "TempDir.h"

namespace {

std::vector<nlohmann::json> RecordLines(const std::string &Path) {
    std::vector<nlohmann::json> out;
    for (const std::string &line : SplitLines(ReadFileText(Path))) {
        EXPECT_TRUE(nlohmann::json::accept(line)) << line;
        if (nlohmann::json::accept(line)) out.push_back(nlohmann::json::parse(line));
    }
    return out;
}

// The SHA-256 of a file as coreutils computes it: a source of its own.
std::string Sha256Sum(const std::string &Path) {
    const TRunResult r = RunProgram({"sha256sum", Path});
    return r.Out.substr(0, 64);
}

class CliRecord : public ::testing::Test {
protected:
    void SetUp() override {
        FSettings = WriteTestSettings(FDir);
        FRecords = FDir.File("records/updates.jsonl");
    }
    TRunResult Cli(const std::vector<std::string> &Args, const std::string &Stdin = "",
                   const std::vector<std::string> &Env = {}) {
        return RunCliWith(FSettings, Args, Stdin, Env);
    }
    std::unique_ptr<TSimProcess> Sim(std::vector<std::string> Args) {
        Args.insert(Args.begin(), "bootloader");
        auto sim = std::make_unique<TSimProcess>(Args);
        EXPECT_TRUE(sim->Start());
        return sim;
    }
    TTempDir FDir;
    std::string FSettings, FRecords;
};

// Every field of a known update: the file's SHA-256 (from sha256sum), the
// versions, the packets, the retries and failed attempts the simulator was
// told to cause, the result and the times.
TEST_F(CliRecord, FlashRecordsAKnownUpdate) {
    const std::string file = FDir.Write("fw.cod", MakeCod16(17, 2, 5, "AVR", MakeImage(200)));
    // Packet 5 goes unanswered twice: two failed attempts, two retries.
    auto sim = Sim({"--sensor-id", "17", "--version", "2.0", "--fail-packet", "5:2"});
    const TRunResult r = Cli({"flash", "--records", FRecords, "--port", sim->PtyPath(), file});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const auto lines = RecordLines(FRecords);
    ASSERT_EQ(lines.size(), 1u);
    const nlohmann::json &j = lines[0];
    EXPECT_EQ(j["source"], "flash");
    EXPECT_EQ(j["port"], sim->PtyPath());
    EXPECT_EQ(j["sensor_id"], 17);
    EXPECT_EQ(j["sensor_name"], "Probe Q");
    EXPECT_EQ(j["version_before"], "2.00");
    EXPECT_EQ(j["version_in_file"], "2.05");
    EXPECT_EQ(j["file_name"], file);
    EXPECT_EQ(j["file_size"], 216);
    EXPECT_EQ(j["file_sha256"], Sha256Sum(file));
    EXPECT_EQ(j["packets"], 26);  // 27 packets, the last answered "complete"
    EXPECT_EQ(j["failed_attempts"], 2);
    EXPECT_EQ(j["retries"], 2);
    EXPECT_EQ(j["result"], "ok");
    EXPECT_EQ(j["reason"], "Firmware update successful");
    EXPECT_EQ(j["program_version"], std::string(VELDRA_VERSION_TEXT));
    EXPECT_EQ(j["user"].get<std::string>().empty(), false);
    EXPECT_EQ(j["adapter_vendor"], "");  // a pseudo-terminal has no adapter
    const std::string start = j["start_utc"], end = j["end_utc"];
    EXPECT_EQ(start.size(), 24u) << start;  // 2026-12-11T08:39:08.123Z
    EXPECT_EQ(start.back(), 'Z');
    EXPECT_LE(start, end);
    EXPECT_GT(j["duration_ms"].get<int>(), 2000);  // the pause after completion
    // The state folder is made for the owner only.
    struct stat st {};
    ASSERT_EQ(stat(FDir.File("records").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// Every outcome is on file, with the words veldra-cli printed.
TEST_F(CliRecord, FlashRecordsEveryOutcome) {
    const std::string file = FDir.Write("fw.cod", MakeCod16(17, 2, 5, "AVR", MakeImage(60)));
    auto mismatch = Sim({"--sensor-id", "7", "--version", "1.0"});
    auto same = Sim({"--sensor-id", "17", "--version", "2.5"});
    auto early = Sim({"--sensor-id", "17", "--version", "1.0", "--complete-at", "3"});
    const TRunResult r =
        Cli({"flash", "--records", FRecords, "--port", "/nonexistent/tty", "--port",
             mismatch->PtyPath(), "--port", same->PtyPath(), "--port", early->PtyPath(), file});
    EXPECT_NE(r.ExitCode, 0);
    const auto lines = RecordLines(FRecords);
    ASSERT_EQ(lines.size(), 4u) << r.Err;
    struct {
        const char *Result;
        const char *Reason;
        nlohmann::json Sensor;
    } expect[] = {
        {"failed", "Unable to open com port (Error: 2) - No such file or directory", nullptr},
        {"failed", "The selected firmware does not match the connected device", 7},
        {"skipped", "Not confirmed: no terminal to ask on (pass --yes to confirm)", 17},
        {"failed",
         "Sensor update failed: The sensor reported the image complete after packet 3 of 10", 17},
    };
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(lines[i]["result"], expect[i].Result);
        EXPECT_EQ(lines[i]["reason"], expect[i].Reason);
        EXPECT_EQ(lines[i]["sensor_id"], expect[i].Sensor);
    }
    EXPECT_EQ(lines[3]["packets"], 2);
}

// Four flash runs at once, each on its own port: four whole lines.
TEST_F(CliRecord, ParallelFlashRunsWriteWholeLines) {
    const std::string file = FDir.Write("fw.cod", MakeCod16(17, 2, 5, "AVR", MakeImage(60)));
    std::vector<std::unique_ptr<TSimProcess>> sims;
    for (int i = 0; i < 4; ++i) sims.push_back(Sim({"--sensor-id", "17", "--version", "2.0"}));
    std::vector<std::thread> runs;
    std::vector<TRunResult> results(4);
    for (int i = 0; i < 4; ++i)
        runs.emplace_back([&, i] {
            results[i] = Cli({"flash", "--records", FRecords, "--port", sims[i]->PtyPath(), file});
        });
    for (auto &t : runs) t.join();
    for (const auto &r : results) EXPECT_EQ(r.ExitCode, 0) << r.Err;
    const auto lines = RecordLines(FRecords);
    ASSERT_EQ(lines.size(), 4u);
    std::set<std::string> ports;
    for (const auto &j : lines) {
        EXPECT_EQ(j["result"], "ok");
        ports.insert(j["port"]);
    }
    EXPECT_EQ(ports.size(), 4u);
}

// Where records go: the state folder by default, the settings' RECORDS=
// (off, or a path beside the settings file), --records over it, and
// nothing at all with --no-record.
TEST_F(CliRecord, WhereRecordsGo) {
    const std::string file = FDir.Write("fw.cod", MakeCod16(17, 2, 5, "AVR", MakeImage(8)));
    const TTempDir state;
    const std::string stateFile = state.File("veldra-update/updates.jsonl");
    const std::vector<std::string> env{"XDG_STATE_HOME=" + state.Path()};
    auto flash = [&](const std::string &Settings, std::vector<std::string> Extra) {
        auto sim = Sim({"--sensor-id", "17", "--version", "2.0"});
        std::vector<std::string> args{"flash", "--port", sim->PtyPath()};
        args.insert(args.end(), Extra.begin(), Extra.end());
        args.push_back(file);
        std::vector<std::string> argv{VELDRA_CLI_PATH, "--settings", Settings};
        argv.insert(argv.end(), args.begin(), args.end());
        const TRunResult r = RunProgram(argv, "", env);
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
    };
    flash(FSettings, {"--no-record"});
    EXPECT_FALSE(std::filesystem::exists(stateFile));
    flash(FSettings, {});
    EXPECT_EQ(RecordLines(stateFile).size(), 1u);

    const std::string off = FDir.Write("off.ini", "[SETTINGS]\nRECORDS=off\n");
    flash(off, {});
    EXPECT_EQ(RecordLines(stateFile).size(), 1u);
    flash(off, {"--records", FRecords});  // the option wins
    EXPECT_EQ(RecordLines(FRecords).size(), 1u);

    const std::string beside = FDir.Write("beside.ini", "[SETTINGS]\nRECORDS=shop/updates.jsonl\n");
    flash(beside, {});
    EXPECT_EQ(RecordLines(FDir.File("shop/updates.jsonl")).size(), 1u);
    EXPECT_EQ(RecordLines(stateFile).size(), 1u);
}

// A records file that cannot be written: the update runs and succeeds, and
// the warning is loud (stderr and the JSON object). A folder in the file's
// way stops root too; a read-only file only an ordinary user.
TEST_F(CliRecord, UnwritableRecordsWarnWithoutFailingTheUpdate) {
    const std::string file = FDir.Write("fw.cod", MakeCod16(17, 2, 5, "AVR", MakeImage(8)));
    const std::string blocker = FDir.Write("blocker", "a file where a folder should be");
    std::vector<std::string> paths{blocker + "/updates.jsonl"};
    if (geteuid() != 0) {
        const std::string readOnly = FDir.Write("readonly.jsonl", "");
        chmod(readOnly.c_str(), 0444);
        paths.push_back(readOnly);
    }
    for (const std::string &path : paths) {
        SCOPED_TRACE(path);
        auto sim = Sim({"--sensor-id", "17", "--version", "2.0"});
        const TRunResult r = Cli({"flash", "--records", path, "--port", sim->PtyPath(), file});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(r.Out, "Firmware update successful\n");
        EXPECT_TRUE(Contains(r.Err, "Warning: the update record was not written: ")) << r.Err;

        auto sim2 = Sim({"--sensor-id", "17", "--version", "2.0"});
        const TRunResult j =
            Cli({"--json", "flash", "--records", path, "--port", sim2->PtyPath(), file});
        EXPECT_EQ(j.ExitCode, 0) << j.Err;
        const auto o = nlohmann::json::parse(j.Out);
        EXPECT_EQ(o["ok"], true);
        EXPECT_EQ(o["records_file"], path);
        EXPECT_TRUE(o["record_error"].is_string()) << j.Out;
    }
}

// history: filters, the table, CSV and JSON, and its exit codes.
TEST_F(CliRecord, HistoryListsAndFilters) {
    // Three records written as flash would, one damaged line among them.
    auto rec = [](const char *Start, const char *Port, int Sensor, const char *Result,
                  const char *File) {
        return nlohmann::json{{"source", "flash"},
                              {"start_utc", Start},
                              {"end_utc", Start},
                              {"port", Port},
                              {"sensor_id", Sensor},
                              {"sensor_name", "Probe Q"},
                              {"version_before", "2.00"},
                              {"version_in_file", "2.05"},
                              {"file_name", File},
                              {"result", Result},
                              {"reason", "Firmware update successful"}}
            .dump();
    };
    const std::string records = FDir.Write(
        "h.jsonl",
        rec("2026-01-05T10:00:00.000Z", "/dev/ttyUSB0", 17, "ok", "/fw/a.cod") + "\n" +
            "{\"start_utc\": \"2026-01-06T1\n" +
            rec("2026-02-01T09:30:00.000Z", "/dev/ttyUSB1", 7, "failed", "/fw/b, \"new\".cod") +
            "\n" + rec("2026-03-01T00:00:00.000Z", "ttyUSB0", 17, "ok", "c.cod") + "\n");
    struct TCase {
        std::vector<std::string> Args;
        int Count;
    } cases[] = {
        {{}, 3},
        {{"--since", "2026-02-01"}, 2},
        {{"--since", "2026-02-01T09:30:00.001Z"}, 1},
        {{"--since", "2026-02-01T10:30+01:00"}, 2},
        {{"--sensor", "17"}, 2},
        {{"--sensor", "0x7"}, 1},
        {{"--port", "/dev/ttyUSB0"}, 2},  // ttyUSB0 is the same port
        {{"--result", "failed"}, 1},
        {{"--result", "ok", "--port", "ttyUSB1"}, 0},
    };
    for (const TCase &c : cases) {
        std::vector<std::string> args{"--json", "history", "--records", records};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        SCOPED_TRACE(args.back());
        const TRunResult r = Cli(args);
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        const auto o = nlohmann::json::parse(r.Out);
        EXPECT_EQ(o["count"], c.Count);
        EXPECT_EQ(o["records"].size(), static_cast<size_t>(c.Count));
        EXPECT_EQ(o["damaged_lines"], 1);
        EXPECT_TRUE(Contains(r.Err, "1 damaged line skipped (the first is line 2)")) << r.Err;
    }

    const TRunResult table = Cli({"history", "--records", records, "--sensor", "7"});
    EXPECT_EQ(table.ExitCode, 0);
    const auto rows = SplitLines(table.Out);
    ASSERT_EQ(rows.size(), 2u) << table.Out;
    EXPECT_TRUE(rows[0].starts_with("Start (UTC)")) << rows[0];
    EXPECT_TRUE(rows[1].starts_with("2026-02-01 09:30:00  /dev/ttyUSB1  7 Probe Q  2.00 -> 2.05"))
        << rows[1];

    const TRunResult none = Cli({"history", "--records", records, "--sensor", "9"});
    EXPECT_EQ(none.ExitCode, 0);
    EXPECT_EQ(none.Out, "No records match.\n");

    const TRunResult csv = Cli({"history", "--records", records, "--csv", "--result", "failed"});
    EXPECT_EQ(csv.ExitCode, 0);
    const auto csvLines = SplitLines(csv.Out);
    ASSERT_EQ(csvLines.size(), 2u) << csv.Out;
    EXPECT_TRUE(csvLines[0].starts_with("start_utc,end_utc,source,user,host,program_version,port,"))
        << csvLines[0];
    EXPECT_TRUE(Contains(csvLines[1], ",\"/fw/b, \"\"new\"\".cod\",")) << csvLines[1];
}

TEST_F(CliRecord, HistoryExitCodes) {
    const TRunResult missing = Cli({"history", "--records", FDir.File("none.jsonl")});
    EXPECT_EQ(missing.ExitCode, 0);
    EXPECT_TRUE(Contains(missing.Out, "No records yet")) << missing.Out;
    const TRunResult folder = Cli({"history", "--records", FDir.Path()});
    EXPECT_EQ(folder.ExitCode, 1);
    EXPECT_TRUE(Contains(folder.Err, "Cannot read the records file")) << folder.Err;
    for (const std::vector<std::string> &bad :
         std::vector<std::vector<std::string>>{{"--since", "yesterday"},
                                               {"--since", "2026-02-30"},
                                               {"--sensor", "70000"},
                                               {"--result", "good"},
                                               {"--csv", "--json"}}) {
        std::vector<std::string> args{"history", "--records", FDir.File("none.jsonl")};
        args.insert(args.end(), bad.begin(), bad.end());
        const TRunResult r = Cli(args);
        EXPECT_EQ(r.ExitCode, 2) << bad[0] << r.Err;
    }
}

}  // namespace
