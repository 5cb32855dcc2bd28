// The jobs both faces run: the decisions they make on their own (what to
// ask before an upload, what a write sends) and the scan on a simulated
// line.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "../bootloader/CodFixtures.h"
#include "ForwardLink.h"
#include "ScriptedLink.h"
#include "SimModbusLine.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "bootloader/CRC8.h"
#include "jobs/FirmwareJob.h"
#include "jobs/PortsJob.h"
#include "jobs/RegisterJob.h"
#include "jobs/ScanJob.h"
#include "modbus/CRC16.h"
#include "serial/LinkFactory.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"

namespace {

TCODFileData FileOf(uint16_t ID, uint8_t Hi, uint8_t Lo) {
    TCODFileData Hdr;
    Hdr.DeviceID = ID;
    Hdr.Version = {Hi, Lo};
    return Hdr;
}

TEST(UpdateCheck, MismatchRefusesOlderAndSameAsk) {
    struct TRow {
        const char *Name;
        uint16_t SensorID;
        TSensorVersion Sensor;
        TCODFileData File;
        TJobText Refusal;
        TVersionQuestion Question;
    };
    const TRow Rows[] = {
        {"newer file", 17, {2, 5}, FileOf(17, 2, 6), TJobText::None, TVersionQuestion::None},
        {"newer major, lower minor",
         17,
         {2, 5},
         FileOf(17, 3, 0),
         TJobText::None,
         TVersionQuestion::None},
        {"same version", 17, {2, 5}, FileOf(17, 2, 5), TJobText::None, TVersionQuestion::Same},
        {"older minor", 17, {2, 5}, FileOf(17, 2, 4), TJobText::None, TVersionQuestion::Older},
        {"older major, higher minor",
         17,
         {2, 5},
         FileOf(17, 1, 9),
         TJobText::None,
         TVersionQuestion::Older},
        {"other device, even if newer",
         17,
         {2, 5},
         FileOf(18, 9, 9),
         TJobText::Mismatch,
         TVersionQuestion::None},
    };
    for (const TRow &R : Rows) {
        const TUpdateCheck C = CheckUpdate(R.SensorID, R.Sensor, R.File);
        EXPECT_EQ(C.Refusal, R.Refusal) << R.Name;
        EXPECT_EQ(C.Question, R.Question) << R.Name;
    }
    EXPECT_STREQ(JobText(QuestionText(TVersionQuestion::Older)),
                 "The firmware version selected is older than the sensor version. Do you want to "
                 "proceed with "
                 "the update?");
    EXPECT_STREQ(JobText(QuestionText(TVersionQuestion::Same)),
                 "The firmware version selected is the same as the sensor version. Do you want to "
                 "proceed with "
                 "the update?");
}

// Reasons carry their arguments apart from the text, so that a translated
// text gets them too; filled in one pass.
TEST(JobReason, ArgumentsAreFilledIntoTheText) {
    struct TRow {
        std::string Template;
        std::vector<std::string> Args;
        std::string Out;
    };
    const TRow Rows[] = {
        {"after packet %1 of %2", {"3", "27"}, "after packet 3 of 27"},
        {"%2 before %1", {"a", "b"}, "b before a"},
        {"an argument's own %1 stays: %1", {"%2"}, "an argument's own %2 stays: %2"},
        {"missing %2 stays", {"x"}, "missing %2 stays"},
        {"100% and %", {}, "100% and %"},
    };
    for (const TRow &R : Rows) EXPECT_EQ(FillJobArgs(R.Template, R.Args), R.Out) << R.Template;
    TFirmwareImage Big;
    Big.Load = TCodLoad::TooBig;
    Big.Hdr.FileSize = 65534 * 8;
    EXPECT_EQ(Big.Problem(), TJobReason(TJobText::TooBigToUpload, {"65534", "65533"}));
    EXPECT_EQ(JobText(Big.Problem()),
              "The firmware file is too big to upload (65534 packets, at most 65533)");
    TFirmwareImage Bad;
    EXPECT_EQ(JobText(Bad.Problem()), "Invalid COD file");
}

// A bootloader that reports the image complete at packet 3 of 27: the update
// failed, and the reason says where.
TEST(UploadJob, EarlyCompletionIsAFailureWithItsReason) {
    auto Own = std::make_unique<TScriptedLink>();
    TScriptedLink *Port = Own.get();
    TXComm Link(*Port);
    Link.SetClock(*Port);
    ASSERT_FALSE(Port->Open(LinkAt(br19200)).has_value());
    Port->Responder = [](const TByteArray &Req) -> std::vector<TChunk> {
        if (Req[2] != 0x0D) return {};  // the sensor has left its bootloader
        uint16_t Ack = static_cast<uint16_t>(Req[3] | (Req[4] << 8));
        if (Ack == 3) Ack = 0xFFFE;
        TByteArray R{0xF5, 0x05, 0x8D, static_cast<uint8_t>(Ack), static_cast<uint8_t>(Ack >> 8)};
        R.push_back(CalcCRC8(R, 1, R.size() - 1));
        return {{1, R}};
    };
    TTempDir Dir;
    // 216 bytes in 8-byte packets: 27 packets.
    const TFirmwareImage Image =
        LoadFirmwareImage(Dir.Write("fw.cod", MakeCod16(17, 1, 1, "PIC", MakeImage(200))));
    ASSERT_TRUE(Image.Ok());
    const TUploadResult R = UploadFirmware(Link, Image, {});
    EXPECT_FALSE(R.Ok);
    EXPECT_EQ(R.Text(), TJobText::UpdateFailed);
    EXPECT_EQ(R.Error, TJobReason(TJobText::EarlyCompletion, {"3", "27"}));
    EXPECT_EQ(JobText(R.Error), "The sensor reported the image complete after packet 3 of 27");
    EXPECT_EQ(R.Sent, 2);
    EXPECT_NE(R.Progress, 100);
}

TEST(RegisterWrite, StripTakesBlanksControlsAndDelFromBothEnds) {
    struct TRow {
        std::string In, Out;
    };
    const TRow Rows[] = {
        {"  abc  ", "abc"},
        {"\t\r\nabc\x1f", "abc"},
        {"\x7f"
         "abc"
         "\x7f",
         "abc"},                                // DEL is a control character too
        {" a b ", "a b"},                       // blanks inside stay
        {"\xc3\x84rger \x7f", "\xc3\x84rger"},  // UTF-8 letters are never cut
        {" \x7f\t ", ""},
        {"", ""},
    };
    for (const TRow &R : Rows) EXPECT_EQ(StripText(R.In), R.Out) << '"' << R.In << '"';
}

TEST(RegisterWrite, OneRegisterNumbersGoWithFunctionSixEverythingElseWithSixteen) {
    struct TRow {
        TRegDataType Type;
        double Value;
        TModbusRegisters Regs;
        int Function;
    };
    const TRow Rows[] = {
        {rdtInt, -1, {0xFFFF}, 6},
        {rdtUInt16, 65535, {0xFFFF}, 6},
        {rdtBCD, 1234, {0x1234}, 6},
        {rdtUInt32, 70000, {0x0001, 0x1170}, 16},
        {rdtUInt32, 4294967295.0, {0xFFFF, 0xFFFF}, 16},
        {rdtFloat, 1.0, {0x3F80, 0x0000}, 16},
    };
    for (const TRow &R : Rows) {
        const TRegWritePlan P = PlanNumberWrite(R.Type, woMSWF, R.Value);
        EXPECT_EQ(P.Refusal, TJobText::None) << RegDataTypeText(R.Type);
        EXPECT_EQ(P.Regs, R.Regs) << RegDataTypeText(R.Type);
        EXPECT_EQ(P.Function, R.Function) << RegDataTypeText(R.Type);
    }
    EXPECT_THROW(PlanNumberWrite(rdtBCD, woMSWF, -5), ERegConvertError);
    EXPECT_THROW(PlanNumberWrite(rdtInt, woMSWF, 70000), ERegConvertError);

    // Strings always with 16, a block of one register too; refusals send nothing.
    const TRegWritePlan One = PlanTextWrite("AB", 1);
    EXPECT_EQ(One.Function, 16);
    EXPECT_EQ(One.Regs, (TModbusRegisters{0x4142}));
    EXPECT_EQ(PlanTextWrite("", 4).Refusal, TJobText::ValueNotSpecified);
    const TRegWritePlan Long = PlanTextWrite("ABC", 1);
    EXPECT_EQ(Long.Refusal, TJobText::TooFewRegisters);
    EXPECT_TRUE(Long.Regs.empty());
    const TRegWriteResult Refused = WriteRegisterBlock({"/dev/null/none", {}, 1}, 0, Long);
    EXPECT_FALSE(Refused.Opened);
    EXPECT_FALSE(Refused.Saved);
}

// A comm value no register holds is found before anything is sent; the
// windows' translated refusal has the codecs' English text as its source.
TEST(CommWrite, ValuesOutsideSixteenBitsAreFoundBeforeTheWrite) {
    struct TRow {
        const char *Name;
        TCommSettings Rows;
        std::optional<size_t> Bad;
    };
    const TRow Rows[] = {
        {"all fit", {{{4, 0}, {5, 65535}, {6, 247}}}, std::nullopt},
        {"baud 70000", {{{4, 70000}, {5, 3}, {}}}, 0},
        {"framing -1", {{{4, 9600}, {5, -1}, {}}}, 1},
        {"address 65536", {{{}, {}, {6, 65536}}}, 2},
        {"a value without register is not written",
         {{{std::nullopt, 70000}, {}, {}}},
         std::nullopt},
    };
    for (const TRow &R : Rows) EXPECT_EQ(CommValueOutOfRange(R.Rows), R.Bad) << R.Name;

    std::string Text = JobText(TJobText::ValueOutOfRange);
    Text.replace(Text.find("%1"), 2, "0");
    Text.replace(Text.find("%2"), 2, "65535");
    EXPECT_EQ(Text, OutOfRangeText(CommValueRange));
}

TEST(SensorNames, RawIdsAreNamedThroughTheCatalogue) {
    TTempDir Dir;
    const TSettings Catalogue(Dir.Write("catalogue.ini", "[SENSORS]\n7=Probe A\n"));
    struct TRow {
        const char *Name;
        TSensorIdentity Id;
        std::string Code, Version;
    };
    const TRow Rows[] = {
        {"not identified", {false, -1, -1, -1}, "N/A", "N/A"},
        {"identified, known", {true, 0, 7, 0x0105}, "7 (0x00000007) Probe A", "1.05"},
        {"identified, nothing read", {true, 0, -1, -1}, "N/A", "N/A"},
        {"identified, no BCD version", {true, 0, 7, 0x1A05}, "7 (0x00000007) Probe A", "N/A"},
    };
    for (const TRow &R : Rows) {
        std::string Code, Version;
        NameSensor(R.Id, Catalogue, Code, Version);
        EXPECT_EQ(Code, R.Code) << R.Name;
        EXPECT_EQ(Version, R.Version) << R.Name;
    }
}

class ScanJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        Sim = std::make_unique<TSimProcess>(std::vector<std::string>{"modbus", "--profiles"});
        ASSERT_TRUE(Sim->Start());
        Options.Port = Sim->PtyPath();
        Options.Params.Timeout = 200;
    }
    TTempDir Dir;
    const TSettings Catalogue{Dir.Write("catalogue.ini", "[SENSORS]\n7=Probe A\n1042=Probe B\n")};
    std::unique_ptr<TSimProcess> Sim;
    TScanOptionsJob Options;
};

TEST_F(ScanJobTest, ReportsEveryAddressAndNamesWhatAnswers) {
    Options.First = 1;
    Options.Last = 4;
    std::atomic<bool> Stop{false};
    std::vector<int> Addresses, Percents;
    const TScanResult R = RunScanJob(Options, Catalogue, Stop, [&](const TScanStep &S) {
        Addresses.push_back(S.Address);
        Percents.push_back(S.Percent);
    });
    EXPECT_EQ(Addresses, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(Percents, (std::vector<int>{25, 50, 75, 100}));
    EXPECT_EQ(R.Scanned, 4);
    EXPECT_EQ(R.Found, 4);
    EXPECT_FALSE(R.Stopped);
    EXPECT_FALSE(R.PortError);
    ASSERT_EQ(R.Devices.size(), 4u);
    EXPECT_EQ(R.Devices[0].DeviceCode, "7 (0x00000007) Probe A");
    EXPECT_EQ(R.Devices[0].Id.SensorID, 7);
    EXPECT_EQ(R.Devices[1].DeviceCode, "1042 (0x00000412) Probe B");
    EXPECT_EQ(R.Devices[1].Version, "2.10");
    EXPECT_EQ(R.Devices[3].DeviceCode, "N/A");
    EXPECT_FALSE(R.Devices[3].Id.Identified);
}

TEST_F(ScanJobTest, StopFlagEndsTheScanAfterTheCurrentAddress) {
    Options.First = 1;
    Options.Last = 247;
    std::atomic<bool> Stop{false};
    const TScanResult R = RunScanJob(Options, Catalogue, Stop, [&](const TScanStep &S) {
        if (S.Address == 2) Stop = true;
    });
    EXPECT_TRUE(R.Stopped);
    EXPECT_EQ(R.Scanned, 2);
    EXPECT_EQ(R.Devices.size(), 2u);
}

TEST(ScanJob, APortThatDoesNotOpenEndsOrCountsAsTheFaceAsks) {
    TTempDir Dir;
    const TSettings Catalogue(Dir.Write("catalogue.ini", "[SENSORS]\n"));
    TScanOptionsJob Options;
    Options.Port = Dir.File("ttyNONE");
    Options.First = 3;
    Options.Last = 5;
    std::atomic<bool> Stop{false};
    Options.StopOnOpenFailure = true;
    const TScanResult Ends = RunScanJob(Options, Catalogue, Stop, {});
    EXPECT_TRUE(Ends.PortError);
    EXPECT_TRUE(Ends.OpenFailedFirst);
    EXPECT_EQ(Ends.Scanned, 0);
    Options.StopOnOpenFailure = false;
    const TScanResult Counts = RunScanJob(Options, Catalogue, Stop, {});
    EXPECT_FALSE(Counts.PortError);
    EXPECT_EQ(Counts.Scanned, 3);
    EXPECT_EQ(Counts.Found, 0);
}

// Each comm row opens the port anew: a row the port does not open for fails
// alone and the rows after it are still read or written (TForwardLink).

// A block written as each type comes back as the same value, sent with the
// function the type calls for; bits are read as discrete inputs. All on a
// scripted line: the jobs' deadlines run on its clock.
TEST(RegisterJobs, WhatIsWrittenReadsBackAsTheSameValue) {
    struct TRow {
        TRegBlock Block;
        double Number;     // numeric types
        const char *Text;  // string
        int Function;      // of the write
    } Rows[] = {
        {{10, rdtFloat, woMSWF, 2}, 12.5, nullptr, 16},
        {{12, rdtFloat, woLSWF, 2}, -0.25, nullptr, 16},
        {{20, rdtInt, woMSWF, 1}, -1234, nullptr, 6},
        {{21, rdtUInt16, woMSWF, 1}, 65535, nullptr, 6},
        {{22, rdtUInt32, woLSWF, 2}, 305419896, nullptr, 16},
        {{30, rdtString, woMSWF, 4}, 0, "Probe 7", 16},
    };
    TSimModbusLine Line(1, {}, 100);
    Line.AddDevice(9);
    TPortParams Params;
    Params.Timeout = 100;
    const TModbusTarget Target{"/dev/ttyJOBS", Params, 9};
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Block.Reg);
        const TRegWritePlan Plan = R.Text ? PlanTextWrite(R.Text, R.Block.Count)
                                          : PlanNumberWrite(R.Block.Type, R.Block.Order, R.Number);
        ASSERT_EQ(Plan.Function, R.Function);
        const TRegWriteResult W = WriteRegisterBlock(Target, R.Block.Reg, Plan, LinesTo(Line));
        ASSERT_TRUE(W.Opened);
        EXPECT_TRUE(W.Saved);
        EXPECT_EQ(Line.Sent.back()[1], R.Function);
        const TRegReadResult Read = ReadRegisterBlock(Target, R.Block, LinesTo(Line));
        ASSERT_TRUE(Read.Ok());
        EXPECT_EQ(Read.Regs, Plan.Regs);
        if (R.Text)
            EXPECT_EQ(Read.Text, R.Text);
        else
            EXPECT_EQ(Read.Number, R.Number);
        EXPECT_FALSE(Line.Connected());  // every job closes its line
    }
    const TRegReadResult Bits = ReadRegisterBlock(Target, {5, rdtBit, woMSWF, 3}, LinesTo(Line));
    ASSERT_TRUE(Bits.Ok());
    EXPECT_EQ(Line.Sent.back()[1], 2);
    for (uint16_t I = 0; I < 3; ++I) EXPECT_EQ(Bits.Bits[I], Line.Input(9, 5 + I));

    // Nobody at the address: the read fails by its time-out on the line's
    // clock, the port itself was fine.
    const uint64_t Before = Line.Clock;
    const TRegReadResult Silent =
        ReadRegisterBlock({"/dev/ttyJOBS", Params, 8}, {10, rdtFloat, woMSWF, 2}, LinesTo(Line));
    EXPECT_TRUE(Silent.Opened);
    EXPECT_EQ(Silent.Failure, TJobText::ReadError);
    EXPECT_GE(Line.Clock - Before, 100u);
    // A port that does not open says why.
    Line.FailOpen = true;
    const TRegReadResult Closed =
        ReadRegisterBlock(Target, {10, rdtFloat, woMSWF, 2}, LinesTo(Line));
    EXPECT_FALSE(Closed.Opened);
    EXPECT_TRUE(Closed.OpenError.has_value());
}

// A whole line scanned on the scripted line's clock: the silent addresses
// cost their time-outs there, not here.
TEST(ScanJob, AWholeLineOnAScriptedClock) {
    TSimModbusLine Line(2, {}, 1000);
    for (uint8_t A : {3, 200}) Line.AddDevice(A);
    TTempDir Dir;
    const TSettings Catalogue(Dir.Write("catalogue.ini", "[SENSORS]\n"));
    TScanOptionsJob Options;
    Options.Port = "/dev/ttySCAN";
    Options.Params.Timeout = 1000;
    std::atomic<bool> Stop{false};
    int Steps = 0;
    const uint64_t Before = Line.Clock;
    const TScanResult R = RunScanJob(
        Options, Catalogue, Stop, [&](const TScanStep &) { ++Steps; }, LinesTo(Line));
    EXPECT_EQ(R.Scanned, 247);
    EXPECT_EQ(Steps, 247);
    ASSERT_EQ(R.Found, 2);
    EXPECT_EQ(R.Devices[0].Address, 3);
    EXPECT_EQ(R.Devices[1].Address, 200);
    EXPECT_FALSE(R.PortError);
    EXPECT_GE(Line.Clock - Before, 245u * 1000u);
}

TEST(CommJob, ARowThePortDoesNotOpenForFailsAloneTheOthersAreTried) {
    struct TRow {
        std::set<int> Refused;  // opens (1-based) the port refuses
        std::array<bool, 3> Opened;
        bool OpenFailed;
    };
    const TRow Rows[] = {
        {{}, {true, true, true}, false},          {{1}, {false, true, true}, false},
        {{2}, {true, false, true}, false},        {{1, 2}, {false, false, true}, false},
        {{1, 2, 3}, {false, false, false}, true},
    };
    for (const bool Writing : {false, true}) {
        for (const TRow &R : Rows) {
            TScriptedLink Line;
            int Opens = 0;
            Line.OnOpen = [&](const TLinkSettings &) -> std::optional<EComPort> {
                if (R.Refused.count(++Opens)) return EComPort(CError_OpenFailed, 16);
                return std::nullopt;
            };
            // A sensor at address 4 whose registers hold their own number.
            Line.Responder = [](const std::vector<uint8_t> &Req) -> std::vector<TChunk> {
                if (Req.size() < 8 || Req[0] != 4) return {};
                if (Req[1] == 6) return {{0, Req}};
                std::vector<uint8_t> A{4, 3, 2, Req[2], Req[3]};
                const uint16_t Crc = CalcCRC16(A.data(), static_cast<int>(A.size()));
                A.push_back(static_cast<uint8_t>(Crc >> 8));
                A.push_back(static_cast<uint8_t>(Crc & 0xFF));
                return {{0, A}};
            };
            TPortParams Params;
            Params.Timeout = 200;
            const TModbusTarget Target{"/dev/ttyCOMMROWS", Params, 4};
            const TCommSettings Settings{{{56, 9600}, {57, 3}, {58, 12}}};
            const TCommResult Result = Writing ? WriteCommSettings(Target, Settings, LinesTo(Line))
                                               : ReadCommSettings(Target, Settings, LinesTo(Line));

            const std::string Case = std::string(Writing ? "write" : "read") + ", refused opens " +
                                     std::to_string(R.Refused.size());
            EXPECT_EQ(Opens, 3) << Case;
            int Done = 0;
            for (size_t I = 0; I < 3; ++I) {
                const TCommRowResult &Row = Result.Rows[I];
                EXPECT_EQ(Row.Done, R.Opened[I]) << Case << ", row " << I;
                EXPECT_EQ(Row.Ok, R.Opened[I]) << Case << ", row " << I;
                EXPECT_EQ(Row.OpenError.has_value(), !R.Opened[I]) << Case << ", row " << I;
                if (R.Opened[I]) {
                    ++Done;
                    EXPECT_EQ(Row.Value, Writing ? *Settings[I].Value : *Settings[I].Reg)
                        << Case << ", row " << I;
                }
            }
            EXPECT_EQ(Line.Sent.size(), static_cast<size_t>(Done)) << Case;
            EXPECT_EQ(Result.Saved(), Done) << Case;
            EXPECT_EQ(Result.OpenFailed, R.OpenFailed) << Case;
            // A port that opened for some rows is no port error of the
            // whole action (the windows show the rows, not an error).
            EXPECT_EQ(Result.PortError.has_value(), R.OpenFailed) << Case;
            EXPECT_EQ(Result.FirstPortError().has_value(), !R.Refused.empty()) << Case;
        }
    }
}

// A scan that goes on past addresses whose port does not open keeps the
// first one's reason, and tells a port that opened for none of them (a
// window then says why nothing was found) from one that failed now and then.
TEST(ScanJob, KeepsTheFirstOpenErrorAndTellsAPortThatNeverOpened) {
    struct TRow {
        std::set<int> Refused;  // opens (1-based) the port refuses
        int Failures;
        bool Never;
    };
    const TRow Rows[] = {{{}, 0, false}, {{2}, 1, false}, {{1, 3}, 2, false}, {{1, 2, 3}, 3, true}};
    TTempDir Dir;
    const TSettings Catalogue(Dir.Write("catalogue.ini", "[SENSORS]\n"));
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Failures);
        TScriptedLink Line;
        int Opens = 0;
        Line.OnOpen = [&](const TLinkSettings &) -> std::optional<EComPort> {
            ++Opens;
            // The first refusal is told from the later ones by its number.
            if (R.Refused.count(Opens))
                return EComPort(CError_OpenFailed, Opens == *R.Refused.begin() ? EACCES : EBUSY);
            return std::nullopt;
        };
        TScanOptionsJob Options;
        Options.Port = "/dev/ttySCANOPEN";
        Options.Params.Timeout = 100;
        Options.First = 1;
        Options.Last = 3;
        std::atomic<bool> Stop{false};
        const TScanResult Result = RunScanJob(Options, Catalogue, Stop, {}, LinesTo(Line));
        EXPECT_EQ(Result.Scanned, 3);
        EXPECT_EQ(Result.Found, 0);
        EXPECT_FALSE(Result.PortError);
        EXPECT_EQ(Result.OpenFailures, R.Failures);
        EXPECT_EQ(Result.NeverOpened(), R.Never);
        ASSERT_EQ(Result.OpenError.has_value(), R.Failures > 0);
        if (Result.OpenError) {
            EXPECT_EQ(Result.OpenError->OsError(), EACCES);
        }
    }
}

// [PORTS]: only what can be opened is listed, each name and URL once; the
// others are left out with a warning each.
TEST(NetworkPorts, OnlyEntriesThatCanBeOpenedAreListed) {
    struct TRow {
        const char *Name;
        const char *Url;
        const char *Why;  // nullptr: listed
    };
    const TRow Rows[] = {
        {"Cabinet 3", "rfc2217://192.168.10.20:2001", nullptr},
        {"Raw", "tcp://10.0.0.5:4001", nullptr},
        {"Pump house", "modbus-tcp://192.168.10.21", nullptr},
        {"Gateway", "modbus-tcp://gw.example:1502", nullptr},
        {"V6", "tcp://[fe80::1]:4001", nullptr},
        {"Top port", "tcp://h:65535", nullptr},
        {"Ftp", "ftp://x", "not a tcp://, rfc2217:// or modbus-tcp:// URL"},
        {"Local", "/dev/ttyUSB0", "not a tcp://, rfc2217:// or modbus-tcp:// URL"},
        {"Bare scheme", "tcp://", "no host"},
        {"No host", "rfc2217://:2001", "no host"},
        {"Port zero", "tcp://h:0", "the port must be a number from 1 to 65535"},
        {"Port wraps", "modbus-tcp://127.0.0.1:112636",
         "the port must be a number from 1 to 65535"},
        {"Port text", "tcp://h:telnet", "the port must be a number from 1 to 65535"},
        {"", "tcp://h:1", "no name"},
        {"No URL", "", "no URL"},
        {"Cabinet 3", "tcp://other:1", "the name is listed already"},
        {"Again", "tcp://10.0.0.5:4001", "the URL is listed already"},
    };
    std::vector<TSettings::TNetworkPort> Entries;
    std::vector<std::string> Listed, Warned;
    for (const TRow &R : Rows) {
        Entries.push_back({R.Name, R.Url});
        if (!R.Why)
            Listed.push_back(R.Name);
        else
            Warned.push_back(std::string("[PORTS] entry \"") + R.Name + "=" + R.Url +
                             "\" left out: " + R.Why);
    }
    const TNetworkPortsCheck Check = CheckNetworkPorts(Entries);
    std::vector<std::string> Names;
    for (const auto &P : Check.Usable) Names.push_back(P.Name);
    EXPECT_EQ(Names, Listed);
    EXPECT_EQ(Check.Warnings, Warned);
}

// 200 000 entries, every name twice: checked and listed in well under the
// bound (a listing that compares every entry with every other takes
// several seconds here).
TEST(NetworkPorts, LongListsStayLinear) {
    TTempDir Dir;
    std::string Ini = "[PORTS]\n";
    for (int I = 0; I < 100000; ++I) {
        const std::string Line =
            "P" + std::to_string(I) + "=tcp://h" + std::to_string(I) + ":4001\n";
        Ini += Line + Line;
    }
    const TSettings S(Dir.Write("ports.ini", Ini));
    ASSERT_EQ(S.NetworkPorts().size(), 200000u);
    SetPortQuery([](std::vector<TComListData> &) {});
    const auto Start = std::chrono::steady_clock::now();
    const std::vector<std::string> Warnings = UseNetworkPorts(&S);
    std::vector<TComListData> Ports;
    EnumComPorts(Ports);
    const auto Took = std::chrono::steady_clock::now() - Start;
    UseNetworkPorts(nullptr);
    SetPortQuery({});
    EXPECT_EQ(Ports.size(), 100000u);
    EXPECT_EQ(Warnings.size(), 100000u);
    EXPECT_LT(Took, std::chrono::seconds(5));
}

}  // namespace

// The words for every reason the master gives: one table both faces print
// (the windows translate the same texts).
TEST(ModbusReason, EveryFailureHasItsText) {
    using K = TModbusFailure;
    const struct {
        TModbusFailureInfo Why;
        const char *Text;
    } Rows[] = {
        {{K::None, 0}, ""},
        {{K::NoAnswer, 0}, "No answer within the time-out"},
        {{K::BadCrc, 0}, "Damaged answer (CRC error)"},
        {{K::WrongAddress, 0}, "Wrong answer (another device address)"},
        {{K::WrongFunction, 0}, "Wrong answer (another function code)"},
        {{K::WrongLength, 0}, "Wrong answer (wrong length)"},
        {{K::WrongEcho, 0}, "Wrong answer (the echo does not match)"},
        {{K::TooLong, 0}, "Too many registers for one request"},
        {{K::Exception, 1}, "Modbus exception 1 (illegal function)"},
        {{K::Exception, 2}, "Modbus exception 2 (illegal data address)"},
        {{K::Exception, 3}, "Modbus exception 3 (illegal data value)"},
        {{K::Exception, 4}, "Modbus exception 4 (server device failure)"},
        {{K::Exception, 5}, "Modbus exception 5 (acknowledge)"},
        {{K::Exception, 6}, "Modbus exception 6 (server device busy)"},
        {{K::Exception, 7}, "Modbus exception 7"},
        {{K::Exception, 8}, "Modbus exception 8 (memory parity error)"},
        {{K::Exception, 10}, "Modbus exception 10 (gateway path unavailable)"},
        {{K::Exception, 11}, "Modbus exception 11 (gateway target device failed to respond)"},
        {{K::Exception, 0}, "Modbus exception 0"},
        {{K::Exception, 255}, "Modbus exception 255"},
    };
    for (const auto &R : Rows)
        EXPECT_EQ(JobText(ModbusFailureReason(R.Why)), R.Text)
            << static_cast<int>(R.Why.Kind) << " " << int(R.Why.ExceptionCode);
}

// What the sensor answered reaches the job's result: the register read and
// write and every comm row keep the master's reason.
TEST(RegisterJobs, FailuresKeepTheMastersReason) {
    auto Sealed = [](std::vector<uint8_t> F) {
        const uint16_t Crc = CalcCRC16(F.data(), static_cast<int>(F.size()));
        F.push_back(static_cast<uint8_t>(Crc >> 8));
        F.push_back(static_cast<uint8_t>(Crc & 0xFF));
        return F;
    };
    using K = TModbusFailure;
    struct TRow {
        const char *Name;
        // The answer to a request (its function code given); empty: silence.
        std::function<std::vector<uint8_t>(uint8_t Function)> Answer;
        TModbusFailureInfo Why;
    };
    const TRow Rows[] = {
        {"silence", [](uint8_t) { return std::vector<uint8_t>{}; }, {K::NoAnswer, 0}},
        {"illegal data address",
         [&](uint8_t Fn) {
             return Sealed({4, static_cast<uint8_t>(Fn | 0x80), 2});
         },
         {K::Exception, 2}},
        {"busy",
         [&](uint8_t Fn) {
             return Sealed({4, static_cast<uint8_t>(Fn | 0x80), 6});
         },
         {K::Exception, 6}},
        {"damaged",
         [&](uint8_t Fn) {
             auto A = Sealed({4, static_cast<uint8_t>(Fn | 0x80), 2});
             A.back() ^= 1;
             return A;
         },
         {K::BadCrc, 0}},
        {"another device",
         [&](uint8_t Fn) {
             return Sealed({7, Fn, 2, 0, 0});
         },
         {K::WrongAddress, 0}},
    };
    TPortParams Params;
    Params.Timeout = 100;
    const TModbusTarget Target{"/dev/ttyREASON", Params, 4};
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Name);
        TScriptedLink Line;
        Line.Responder = [&R](const std::vector<uint8_t> &Req) -> std::vector<TChunk> {
            const std::vector<uint8_t> A = R.Answer(Req[1]);
            if (A.empty()) return {};
            return {{1, A}};
        };
        const TRegReadResult Read =
            ReadRegisterBlock(Target, {10, rdtInt, woMSWF, 1}, LinesTo(Line));
        EXPECT_EQ(Read.Failure, TJobText::ReadError);
        EXPECT_EQ(Read.Why, R.Why);
        const TRegReadResult Bits =
            ReadRegisterBlock(Target, {10, rdtBit, woMSWF, 4}, LinesTo(Line));
        EXPECT_EQ(Bits.Why, R.Why);
        const TRegWriteResult Write =
            WriteRegisterBlock(Target, 10, PlanNumberWrite(rdtInt, woMSWF, 5), LinesTo(Line));
        EXPECT_FALSE(Write.Saved);
        EXPECT_EQ(Write.Why, R.Why);
        const TCommSettings Settings{{{120, 4}, {}, {122, 9}}};
        for (const bool Writing : {false, true}) {
            const TCommResult Comm = Writing ? WriteCommSettings(Target, Settings, LinesTo(Line))
                                             : ReadCommSettings(Target, Settings, LinesTo(Line));
            EXPECT_EQ(Comm.Rows[0].Why, R.Why);
            EXPECT_EQ(Comm.Rows[1].Why, TModbusFailureInfo{});  // not asked
            EXPECT_EQ(Comm.Rows[2].Why, R.Why);
            EXPECT_EQ(Comm.FirstFailure(), R.Why);
        }
    }
    // A success leaves no reason, in the job and in a comm row.
    TScriptedLink Line;
    Line.Responder = [&](const std::vector<uint8_t> &Req) -> std::vector<TChunk> {
        return {{1, Sealed({4, 3, 2, 0, Req[3]})}};
    };
    const TRegReadResult Read = ReadRegisterBlock(Target, {10, rdtInt, woMSWF, 1}, LinesTo(Line));
    EXPECT_TRUE(Read.Ok());
    EXPECT_EQ(Read.Why, TModbusFailureInfo{});
    const TCommResult Comm = ReadCommSettings(Target, {{{120, {}}, {}, {}}}, LinesTo(Line));
    EXPECT_TRUE(Comm.Rows[0].Ok);
    EXPECT_EQ(Comm.FirstFailure(), TModbusFailureInfo{});
}
