// The jobs both faces run: the decisions they make on their own (what to
// ask before an upload, what a write sends) and the scan on a simulated
// line.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "TempDir.h"
#include "jobs/FirmwareJob.h"
#include "jobs/RegisterJob.h"
#include "jobs/ScanJob.h"
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
        {"newer major, lower minor", 17, {2, 5}, FileOf(17, 3, 0), TJobText::None, TVersionQuestion::None},
        {"same version", 17, {2, 5}, FileOf(17, 2, 5), TJobText::None, TVersionQuestion::Same},
        {"older minor", 17, {2, 5}, FileOf(17, 2, 4), TJobText::None, TVersionQuestion::Older},
        {"older major, higher minor", 17, {2, 5}, FileOf(17, 1, 9), TJobText::None, TVersionQuestion::Older},
        {"other device, even if newer", 17, {2, 5}, FileOf(18, 9, 9), TJobText::Mismatch, TVersionQuestion::None},
    };
    for (const TRow &R : Rows) {
        const TUpdateCheck C = CheckUpdate(R.SensorID, R.Sensor, R.File);
        EXPECT_EQ(C.Refusal, R.Refusal) << R.Name;
        EXPECT_EQ(C.Question, R.Question) << R.Name;
    }
    EXPECT_STREQ(JobText(QuestionText(TVersionQuestion::Older)),
                 "The firmware version selected is older than the sensor version. Do you want to proceed with "
                 "the update?");
    EXPECT_STREQ(JobText(QuestionText(TVersionQuestion::Same)),
                 "The firmware version selected is the same as the sensor version. Do you want to proceed with "
                 "the update?");
}

TEST(RegisterWrite, StripTakesBlanksControlsAndDelFromBothEnds) {
    struct TRow {
        std::string In, Out;
    };
    const TRow Rows[] = {
        {"  abc  ", "abc"},
        {"\t\r\nabc\x1f", "abc"},
        {"\x7f" "abc" "\x7f", "abc"},          // DEL is a control character too
        {" a b ", "a b"},                      // blanks inside stay
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
        {"a value without register is not written", {{{std::nullopt, 70000}, {}, {}}}, std::nullopt},
    };
    for (const TRow &R : Rows)
        EXPECT_EQ(CommValueOutOfRange(R.Rows), R.Bad) << R.Name;

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

}  // namespace
