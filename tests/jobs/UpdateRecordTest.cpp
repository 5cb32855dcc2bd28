// The update records: SHA-256 against the FIPS 180 examples, the file's
// append and read (locking, damaged lines, caps), the fields' JSON, times,
// filters and CSV.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>

#include "TempDir.h"
#include "jobs/FirmwareJob.h"
#include "jobs/Sha256.h"
#include "jobs/UpdateRecord.h"
#include "settings/Settings.h"

namespace {

TUpdateRecord Sample(int N = 0) {
    TUpdateRecord R;
    R.Source = "flash";
    R.StartUtc = "2026-12-11T08:39:08.123Z";
    R.EndUtc = "2026-12-11T08:39:12.456Z";
    R.User = "tech";
    R.Host = "bench-1";
    R.ProgramVersion = "2.0.0";
    R.Port = "/dev/ttyUSB" + std::to_string(N);
    R.AdapterVendor = "FTDI";
    R.AdapterModel = "FT232R USB UART";
    R.AdapterSerial = "A5";
    R.SensorID = 17;
    R.SensorName = "Probe \"Q\", new";
    R.VersionBefore = "2.00";
    R.VersionInFile = "2.05";
    R.FileName = "/fw/q.cod";
    R.FileSize = 216;
    R.FileSha256 = std::string(64, 'a');
    R.Packets = 26;
    R.Retries = 2;
    R.FailedAttempts = 3;
    R.DurationMs = 4333;
    R.Result = "ok";
    R.Reason = "Firmware update successful";
    return R;
}

TEST(Sha256, FipsExamples) {
    struct {
        std::string Message;
        const char *Digest;
    } Cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "m"
         "nopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        // 55 and 56 bytes: the length no longer fits the first block.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    };
    for (const auto &C : Cases)
        EXPECT_EQ(Sha256Hex(C.Message.data(), C.Message.size()), C.Digest) << C.Message;

    // A million 'a', streamed in pieces that straddle the blocks.
    TSha256 H;
    const std::string Piece(997, 'a');
    size_t Left = 1000000;
    while (Left > 0) {
        const size_t N = std::min(Left, Piece.size());
        H.Update(Piece.data(), N);
        Left -= N;
    }
    std::string Hex;
    for (const uint8_t B : H.Final()) {
        char T[3];
        std::snprintf(T, sizeof T, "%02x", B);
        Hex += T;
    }
    EXPECT_EQ(Hex, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(UpdateRecord, LineRoundTripAndFieldNames) {
    const TUpdateRecord R = Sample();
    const nlohmann::json J = UpdateRecordJson(R);
    EXPECT_EQ(J["sensor_id"], 17);
    EXPECT_EQ(J["failed_attempts"], 3);
    EXPECT_EQ(J["file_sha256"], std::string(64, 'a'));
    const auto Back = UpdateRecordFromJson(J);
    ASSERT_TRUE(Back);
    EXPECT_EQ(UpdateRecordJson(*Back), J);
    // No sensor: null, and back again.
    TUpdateRecord None = Sample();
    None.SensorID.reset();
    EXPECT_TRUE(UpdateRecordJson(None)["sensor_id"].is_null());
    EXPECT_FALSE(UpdateRecordFromJson(UpdateRecordJson(None))->SensorID);
    // Columns and cells agree in number and order.
    EXPECT_EQ(RecordColumns().size(), RecordCells(R).size());
    for (const std::string &Name : RecordColumns()) EXPECT_TRUE(J.contains(Name)) << Name;
}

// One line per record, parents made 0700, file 0644 under umask 022, and
// a line a crash left open closed before the next record.
TEST(UpdateRecord, AppendMakesWholeLines) {
    const TTempDir Dir;
    const std::string Path = Dir.File("a/b/updates.jsonl");
    const mode_t Old = umask(022);
    EXPECT_EQ(AppendUpdateRecord(Path, Sample(0)), "");
    umask(Old);
    struct stat St {};
    ASSERT_EQ(stat(Dir.File("a/b").c_str(), &St), 0);
    EXPECT_EQ(St.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(Path.c_str(), &St), 0);
    EXPECT_EQ(St.st_mode & 0777, 0644u);

    {
        std::ofstream Out(Path, std::ios::app);
        Out << "{\"source\": \"flash\", \"start_";  // a power cut mid-line
    }
    EXPECT_EQ(AppendUpdateRecord(Path, Sample(1)), "");
    const TRecordsRead Read = ReadUpdateRecords(Path);
    EXPECT_EQ(Read.Error, "");
    ASSERT_EQ(Read.Records.size(), 2u);
    EXPECT_EQ(Read.Records[1].Port, "/dev/ttyUSB1");
    EXPECT_EQ(Read.Damaged, 1);
    EXPECT_EQ(Read.FirstDamagedLine, 2);
    EXPECT_EQ(ReadFileText(Path).back(), '\n');
}

TEST(UpdateRecord, DamagedLinesAreSkipped) {
    const std::string Good = UpdateRecordJson(Sample()).dump();
    struct {
        const char *Name;
        std::string Line;
    } Cases[] = {
        {"garbage", "\x01\x02 not json"},
        {"cut short (no newline at the end)", Good.substr(0, Good.size() / 2)},
        {"not an object", "[1, 2, 3]"},
        {"no result", R"({"start_utc": "2026-01-01T00:00:00.000Z"})"},
        {"a number as text", R"({"start_utc": "x", "result": "ok", "packets": "26"})"},
        {"a sensor ID beyond 16 bits", R"({"start_utc": "x", "result": "ok", "sensor_id": 70000})"},
        {"a negative count", R"({"start_utc": "x", "result": "ok", "retries": -1})"},
        {"longer than a line may be", R"({"start_utc": "x", "result": "ok", "reason": ")" +
                                          std::string(CMaxRecordLine, 'r') + "\"}"},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Name);
        const TTempDir Dir;
        const std::string Path = Dir.Write("r.jsonl", Good + "\n" + C.Line + "\n" + Good + "\n\n");
        const TRecordsRead Read = ReadUpdateRecords(Path);
        EXPECT_EQ(Read.Records.size(), 2u);
        EXPECT_EQ(Read.Damaged, 1);
        EXPECT_EQ(Read.FirstDamagedLine, 2);
        const auto Warnings = RecordsWarnings(Read, Path);
        ASSERT_EQ(Warnings.size(), 1u);
        EXPECT_EQ(Warnings[0], Path + ": 1 damaged line skipped (the first is line 2)");
    }
    // Unknown fields are no damage: lines may gain fields.
    const TTempDir Dir;
    const std::string Path =
        Dir.Write("r.jsonl", R"({"start_utc": "x", "result": "ok", "new_field": [1]})"
                             "\n");
    EXPECT_EQ(ReadUpdateRecords(Path).Damaged, 0);
}

TEST(UpdateRecord, FilesThatCannotBeUsed) {
    const TTempDir Dir;
    const TRecordsRead Missing = ReadUpdateRecords(Dir.File("none.jsonl"));
    EXPECT_TRUE(Missing.Missing);
    EXPECT_EQ(Missing.Error, "");
    EXPECT_EQ(ReadUpdateRecords(Dir.Path()).Error, "a folder, not a file");
    // A FIFO in the file's place hangs neither the writer nor the reader.
    const std::string Fifo = Dir.File("fifo");
    ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
    EXPECT_NE(AppendUpdateRecord(Fifo, Sample()), "");
    EXPECT_EQ(ReadUpdateRecords(Fifo).Error, "not a regular file");
    // A file where a folder should be (root too is refused).
    const std::string Blocker = Dir.Write("blocker", "x");
    EXPECT_NE(AppendUpdateRecord(Blocker + "/updates.jsonl", Sample()), "");
    EXPECT_EQ(AppendUpdateRecord("", Sample()), "no file named for the records");
    if (geteuid() != 0) {
        const std::string ReadOnly = Dir.Write("ro.jsonl", "");
        chmod(ReadOnly.c_str(), 0444);
        const std::string Why = AppendUpdateRecord(ReadOnly, Sample());
        EXPECT_NE(Why.find("Permission denied"), std::string::npos) << Why;
    }
}

// A file grown beyond the reader's cap: the newest records are read, the
// memory stays bounded, and the reader says so.
TEST(UpdateRecord, HugeFileIsReadFromItsNewestPart) {
    const TTempDir Dir;
    const std::string Path = Dir.File("big.jsonl");
    {
        std::ofstream Out(Path, std::ios::binary);
        const std::string Filler(1024 * 1024 - 1, 'x');
        for (uint64_t I = 0; I < CMaxRecordsFileBytes / (1024 * 1024) + 2; ++I)
            Out << Filler << '\n';
        TUpdateRecord R = Sample();
        R.Port = "/dev/newest";
        Out << UpdateRecordJson(R).dump() << '\n';
    }
    const TRecordsRead Read = ReadUpdateRecords(Path);
    EXPECT_TRUE(Read.Truncated);
    ASSERT_EQ(Read.Records.size(), 1u);
    EXPECT_EQ(Read.Records[0].Port, "/dev/newest");
    EXPECT_EQ(RecordsWarnings(Read, Path).size(), 2u);
}

// Processes appending at once never interleave; one killed at any moment
// leaves a file every reader can read.
TEST(UpdateRecord, ParallelWritersAndAKilledOne) {
    const TTempDir Dir;
    const std::string Path = Dir.File("updates.jsonl");
    constexpr int Writers = 4, Each = 50;
    std::vector<pid_t> Pids;
    for (int W = 0; W < Writers; ++W) {
        const pid_t Pid = fork();
        ASSERT_GE(Pid, 0);
        if (Pid == 0) {
            for (int I = 0; I < Each; ++I) {
                TUpdateRecord R = Sample(W);
                R.Reason = std::string(2000 + I, 'r');  // lines longer than a pipe's atom
                if (!AppendUpdateRecord(Path, R).empty()) _exit(1);
            }
            _exit(0);
        }
        Pids.push_back(Pid);
    }
    // And one that is killed while it writes.
    const pid_t Victim = fork();
    ASSERT_GE(Victim, 0);
    if (Victim == 0) {
        for (;;) AppendUpdateRecord(Path, Sample(9));
    }
    for (const pid_t Pid : Pids) {
        int Status = 0;
        waitpid(Pid, &Status, 0);
        EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
    }
    kill(Victim, SIGKILL);
    waitpid(Victim, nullptr, 0);

    const TRecordsRead Read = ReadUpdateRecords(Path);
    EXPECT_EQ(Read.Error, "");
    EXPECT_EQ(Read.Damaged, 0);
    int Ours = 0;
    for (const TUpdateRecord &R : Read.Records) Ours += R.Port != "/dev/ttyUSB9";
    EXPECT_EQ(Ours, Writers * Each);
    // A record after it still lands on a line of its own.
    EXPECT_EQ(AppendUpdateRecord(Path, Sample(5)), "");
    EXPECT_EQ(ReadUpdateRecords(Path).Records.back().Port, "/dev/ttyUSB5");
}

TEST(UpdateRecord, RecordTimes) {
    struct {
        const char *Text;
        const char *Utc;  // nullptr: refused
    } Cases[] = {
        {"2026-02-01", "2026-02-01T00:00:00.000Z"},
        {"2026-02-01T09:30", "2026-02-01T09:30:00.000Z"},
        {"2026-02-01 09:30:15", "2026-02-01T09:30:15.000Z"},
        {"2026-02-01T09:30:15.5Z", "2026-02-01T09:30:15.500Z"},
        {"2026-02-01T09:30:15.123Z", "2026-02-01T09:30:15.123Z"},
        {"2026-02-01T00:30+01:00", "2026-01-31T23:30:00.000Z"},
        {"2026-02-01T23:30-01:00", "2026-02-02T00:30:00.000Z"},
        {"2026-02-30", nullptr},
        {"2026-13-01", nullptr},
        {"2026-2-1", nullptr},
        {"yesterday", nullptr},
        {"2026-02-01T25:00", nullptr},
        {"2026-02-01T09:30Zx", nullptr},
        {"2026-02-01T09:30+1", nullptr},
        {"", nullptr},
    };
    for (const auto &C : Cases) {
        const auto T = ParseRecordTime(C.Text);
        if (C.Utc) {
            ASSERT_TRUE(T) << C.Text;
            EXPECT_EQ(*T, C.Utc) << C.Text;
        } else {
            EXPECT_FALSE(T) << C.Text << " -> " << *T;
        }
    }
    EXPECT_EQ(UtcIsoText(std::chrono::system_clock::time_point(std::chrono::milliseconds(1234))),
              "1970-01-01T00:00:01.234Z");
}

TEST(UpdateRecord, Filters) {
    TUpdateRecord A = Sample();
    A.Port = "ttyUSB0";
    TRecordFilter F;
    EXPECT_TRUE(F.Matches(A));
    F.Port = "/dev/ttyUSB0";
    EXPECT_TRUE(F.Matches(A));
    F.Port = "ttyUSB1";
    EXPECT_FALSE(F.Matches(A));
    F = {};
    F.Since = "2026-12-11T08:39:08.123Z";
    EXPECT_TRUE(F.Matches(A));
    F.Since = "2026-12-11T08:39:08.124Z";
    EXPECT_FALSE(F.Matches(A));
    F = {};
    F.SensorID = 17;
    EXPECT_TRUE(F.Matches(A));
    A.SensorID.reset();
    EXPECT_FALSE(F.Matches(A));
    F = {};
    F.Result = "failed";
    EXPECT_FALSE(F.Matches(A));
}

TEST(UpdateRecord, CsvQuotesWhatNeedsIt) {
    TUpdateRecord R = Sample();
    R.Reason = "line one\nline two";
    const std::string Csv = RecordsCsv({R});
    EXPECT_EQ(
        Csv.substr(0, Csv.find('\n')),
        "start_utc,end_utc,source,user,host,program_version,port,adapter_vendor,adapter_model,"
        "adapter_serial,sensor_id,sensor_name,version_before,version_in_file,file_name,"
        "file_size,file_sha256,packets,retries,failed_attempts,duration_ms,result,reason");
    EXPECT_NE(Csv.find(",17,\"Probe \"\"Q\"\", new\",2.00,2.05,/fw/q.cod,216,"), std::string::npos)
        << Csv;
    EXPECT_NE(Csv.find(",ok,\"line one\nline two\"\n"), std::string::npos) << Csv;
    EXPECT_EQ(RecordsCsv({}), Csv.substr(0, Csv.find('\n') + 1));
}

// Retries: a failed attempt that another attempt follows.
TEST(UpdateRecord, RetryTally) {
    struct {
        const char *Name;
        std::vector<std::pair<int, int>> Reports;  // (sent, fail) per attempt
        int Retries;
    } Cases[] = {
        {"clean", {{1, 0}, {2, 0}, {3, 0}}, 0},
        {"one packet twice lost", {{1, 0}, {1, 1}, {1, 2}, {2, 2}}, 2},
        {"given up after the last failure", {{1, 0}, {1, 1}, {1, 2}, {1, 3}}, 2},
        {"lost on different packets", {{0, 1}, {1, 1}, {1, 2}, {2, 2}}, 2},
    };
    for (const auto &C : Cases) {
        TRetryTally T;
        for (const auto &[Sent, Fail] : C.Reports) T.Report(Sent, Fail);
        EXPECT_EQ(T.Retries(), C.Retries) << C.Name;
    }
}

TEST(UpdateRecord, WhereRecordsGo) {
    // The variables as they were, again at the end.
    struct TKeep {
        std::string State = getenv("XDG_STATE_HOME") ? getenv("XDG_STATE_HOME") : "";
        std::string Home = getenv("HOME") ? getenv("HOME") : "";
        ~TKeep() {
            setenv("XDG_STATE_HOME", State.c_str(), 1);
            setenv("HOME", Home.c_str(), 1);
        }
    } Keep;
    setenv("XDG_STATE_HOME", "/state", 1);
    setenv("HOME", "/home/tech", 1);
    const TSettings None = TSettings::FromBytes("");
    EXPECT_EQ(DefaultRecordsPath(), "/state/veldra-update/updates.jsonl");
    EXPECT_EQ(RecordsPath(None), "/state/veldra-update/updates.jsonl");
    EXPECT_EQ(RecordsPath(None, "/x.jsonl"), "/x.jsonl");
    EXPECT_EQ(RecordsPath(None, "/x.jsonl", true), "");
    struct {
        const char *Key;
        const char *Path;
    } Cases[] = {
        {"RECORDS=off", ""},
        {"RECORDS=OFF", ""},
        {"RECORDS=/srv/records.jsonl", "/srv/records.jsonl"},
        {"RECORDS=~/records.jsonl", "/home/tech/records.jsonl"},
        {"RECORDS=", "/state/veldra-update/updates.jsonl"},
    };
    for (const auto &C : Cases) {
        const TSettings S = TSettings::FromBytes(std::string("[SETTINGS]\n") + C.Key + "\n");
        EXPECT_EQ(RecordsPath(S), C.Path) << C.Key;
        EXPECT_EQ(RecordsPath(S, "/opt.jsonl"), "/opt.jsonl") << C.Key;  // the option wins
    }
    // Relative: beside the settings file.
    const TTempDir Dir;
    const TSettings Beside(Dir.Write("v.ini", "[SETTINGS]\nRECORDS=shop/u.jsonl\n"));
    EXPECT_EQ(RecordsPath(Beside), Dir.File("shop/u.jsonl"));
    setenv("XDG_STATE_HOME", "relative", 1);  // not absolute: ignored
    EXPECT_EQ(DefaultRecordsPath(), "/home/tech/.local/state/veldra-update/updates.jsonl");
}

TEST(UpdateRecord, CatalogueNames) {
    const TSettings S = TSettings::FromBytes("[SENSORS]\n7=Probe A (B)\n");
    EXPECT_EQ(CatalogueName(S, 7), "Probe A (B)");
    EXPECT_EQ(CatalogueName(S, 8), "");
}

}  // namespace
