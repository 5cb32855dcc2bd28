#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "TempDir.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "settings/TextDecode.h"

namespace {

const std::string kSample =
    "[SETTINGS]\r\n"
    "MAX_RETRY=5\r\n"
    "MAX_FAILS=15\r\n"
    "TIMEOUT=1000\r\n"
    "[SENSORS]\r\n"
    "7=Probe A\r\n"
    "1042=Probe B\r\n";

void ExpectLimits(const TSettings &S, int Retry, int Fails, int Timeout) {
    const TFWUpdSettings L = S.FWUpdSettings();
    EXPECT_EQ(L.MaxRetry, Retry);
    EXPECT_EQ(L.MaxFails, Fails);
    EXPECT_EQ(L.DefTimeout, Timeout);
}

TEST(StrToIntDef, ReadsDecimalAndHexElseDefault) {
    struct Row {
        const char *Text;
        int Expected;
    };
    const Row Rows[] = {
        {"500", 500},
        {"+500", 500},
        {"-500", -500},
        {"0", 0},
        {"000123", 123},
        {"0x1F4", 500},
        {"0X1f4", 500},
        {"$1F4", 500},
        {"$1f4", 500},
        {"x1F4", 500},
        {"X1F4", 500},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", -7},
        {"-2147483649", -7},
        {"99999999999999999999", -7},
        {"$7FFFFFFF", 2147483647},
        {"$FFFFFFFF", -1},
        {"$100000000", -7},
        {"abc", -7},
        {"", -7},
        {"-", -7},
        {"+", -7},
        {"$", -7},
        {"0x", -7},
        {"x", -7},
        {"12a", -7},
        {"1 2", -7},
        {"1.5", -7},
        {"$G", -7},
        {"0x-5", -7},
        {"--5", -7},
        {" 5", -7},
        {"5 ", -7},
        {"0b101", -7},
    };
    for (const Row &R : Rows)
        EXPECT_EQ(StrToIntDef(R.Text, -7), R.Expected) << '"' << R.Text << '"';
}

TEST(SettingsReader, LimitsFromContent) {
    struct Row {
        const char *Name;
        std::string Content;
        int Retry, Fails, Timeout;
    };
    const Row Rows[] = {
        {"sample", kSample, 5, 15, 1000},
        {"own values", "[SETTINGS]\nMAX_RETRY=9\nMAX_FAILS=-3\nTIMEOUT=250\n", 9, -3, 250},
        {"hex 0x", "[SETTINGS]\nTIMEOUT=0x1F4\n", 5, 15, 500},
        {"hex $", "[SETTINGS]\nTIMEOUT=$1F4\n", 5, 15, 500},
        {"not a number", "[SETTINGS]\nTIMEOUT=abc\nMAX_RETRY=7x\n", 5, 15, 1000},
        {"empty value", "[SETTINGS]\nTIMEOUT=\nMAX_RETRY\n", 5, 15, 1000},
        {"blanks around =", "[SETTINGS]\n  MAX_RETRY \t=  8  \n", 8, 15, 1000},
        {"lower-case names", "[settings]\nmax_retry=4\nMax_Fails=6\n", 4, 6, 1000},
        {"section name padded", "[ Settings ]\nTIMEOUT=700\n", 5, 15, 700},
        {"only SENSORS", "[SENSORS]\n7=Probe A\n", 5, 15, 1000},
        {"empty content", "", 5, 15, 1000},
        {"first key wins", "[SETTINGS]\nTIMEOUT=300\nTIMEOUT=400\n", 5, 15, 300},
        {"repeated section ignored", "[SETTINGS]\nTIMEOUT=300\n[SETTINGS]\nMAX_RETRY=9\n", 5, 15,
         300},
        {"repeated section, other case", "[SETTINGS]\n[sensors]\n[Settings]\nTIMEOUT=9\n", 5, 15,
         1000},
        {"lines before first section", "TIMEOUT=300\nMAX_RETRY=9\n[SETTINGS]\n", 5, 15, 1000},
        {"commented key", "[SETTINGS]\n;TIMEOUT=300\n  ; MAX_RETRY=2\n", 5, 15, 1000},
        {"key in another section", "[OTHER]\nTIMEOUT=300\n", 5, 15, 1000},
        {"CR only", "[SETTINGS]\rMAX_RETRY=2\rTIMEOUT=3", 2, 15, 3},
        {"mixed line ends", "[SETTINGS]\r\nMAX_RETRY=2\nMAX_FAILS=4\rTIMEOUT=6\r\n", 2, 4, 6},
        {"blank lines, tabs, control chars", "\n\n\t[SETTINGS]\t\n\n\x01MAX_RETRY=2\x7f\x02\n", 5,
         15, 1000},
        {"header with trailing text is an entry", "[SETTINGS] x\nTIMEOUT=3\n", 5, 15, 1000},
        {"no final line end", "[SETTINGS]\nTIMEOUT=42", 5, 15, 42},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        const TSettings S = TSettings::FromBytes(R.Content);
        ExpectLimits(S, R.Retry, R.Fails, R.Timeout);
        EXPECT_FALSE(S.ReadFailed());
    }
}

TEST(SettingsReader, ControlCharacterAtLineEndIsStripped) {
    // DEL (0x7F) is not stripped (it is above the blank range), the others are.
    const TSettings S =
        TSettings::FromBytes("[SETTINGS]\n\x01MAX_RETRY=2\x02\x03\nTIMEOUT=4\x7f\n");
    ExpectLimits(S, 2, 15, 1000);
}

TEST(SensorCatalogue, Lookup) {
    struct Row {
        const char *Name;
        std::string Content;
        int ID;
        const char *Expected;
    };
    const Row Rows[] = {
        {"sample 7", kSample, 7, "7 (0x00000007) Probe A"},
        {"sample 1042", kSample, 1042, "1042 (0x00000412) Probe B"},
        {"sample unknown", kSample, 8, "Unknown"},
        {"negative ID", "[SENSORS]\n-1=Minus\n", -1, "-1 (0xFFFFFFFF) Minus"},
        {"large ID", "[SENSORS]\n65535=Max\n", 65535, "65535 (0x0000FFFF) Max"},
        {"two SENSORS sections", "[SENSORS]\n1=First\n[SENSORS]\n2=Second\n1=Other\n", 2,
         "Unknown"},
        {"two SENSORS sections, first kept", "[SENSORS]\n1=First\n[sensors]\n1=Other\n", 1,
         "1 (0x00000001) First"},
        {"first duplicate wins", "[SENSORS]\n5=Old\n5=New\n", 5, "5 (0x00000005) Old"},
        {"leading zeros are not the ID", "[SENSORS]\n0007=Padded\n", 7, "Unknown"},
        {"plus sign is not the ID", "[SENSORS]\n+7=Signed\n", 7, "Unknown"},
        {"value containing =", "[SENSORS]\n9=a=b = c\n", 9, "9 (0x00000009) a=b = c"},
        {"empty name", "[SENSORS]\n9=\n", 9, "9 (0x00000009) "},
        {"line without = never found", "[SENSORS]\n9\n", 9, "Unknown"},
        {"blanks around =", "[SENSORS]\n  9  =   Nine  \n", 9, "9 (0x00000009) Nine"},
        {"lower-case section", "[sensors]\n3=Three\n", 3, "3 (0x00000003) Three"},
        {"no SENSORS section", "[SETTINGS]\n3=Three\n", 3, "Unknown"},
        {"no content", "", 0, "Unknown"},
        {"comment line skipped", "[SENSORS]\n;4=Hidden\n4=Shown\n", 4, "4 (0x00000004) Shown"},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        EXPECT_EQ(TSettings::FromBytes(R.Content).SensorIDToName(R.ID), R.Expected);
    }
}

TEST(SensorCatalogue, LinesKeptInFileOrder) {
    const TSettings S = TSettings::FromBytes("[SENSORS]\n7=A\n 3 = B=C \nlone\n;c\n1=\n[X]\n2=D\n");
    EXPECT_EQ(S.SensorNames(), (std::vector<std::string>{"7=A", "3=B=C", "lone", "1="}));
}

TEST(SensorCatalogue, VersionText) {
    struct Row {
        int Hi, Lo;
        const char *Expected;
    };
    const Row Rows[] = {
        {1, 5, "1.05"}, {2, 10, "2.10"},   {0, 0, "0.00"},        {3, 123, "3.123"},
        {1, 0, "1.00"}, {10, 99, "10.99"}, {255, 255, "255.255"}, {-1, 4, "N/A"},
        {4, -1, "N/A"}, {-1, -1, "N/A"},
    };
    const TSettings S = TSettings::FromBytes(kSample);
    for (const Row &R : Rows)
        EXPECT_EQ(S.SensorVersionToString(R.Hi, R.Lo), R.Expected) << R.Hi << "," << R.Lo;
}

// Builds UTF-16 bytes (with BOM) from ASCII-or-BMP code units.
std::string Utf16(const std::u16string &Text, bool BigEndian) {
    std::string Out = BigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t U : Text) {
        const char Hi = static_cast<char>(U >> 8), Lo = static_cast<char>(U & 0xFF);
        Out += BigEndian ? Hi : Lo;
        Out += BigEndian ? Lo : Hi;
    }
    return Out;
}

TEST(SettingsReader, Encodings) {
    const std::u16string Text =
        u"[SETTINGS]\r\nTIMEOUT=0x1F4\r\n[SENSORS]\r\n7=Sonde \u00E9\u20AC\r\n";
    const std::string Expected = "7 (0x00000007) Sonde \xC3\xA9\xE2\x82\xAC";
    struct Row {
        const char *Name;
        std::string Bytes;
        std::string Name7;
    };
    const Row Rows[] = {
        {"UTF-16 LE with BOM", Utf16(Text, false), Expected},
        {"UTF-16 BE with BOM", Utf16(Text, true), Expected},
        {"UTF-8 with BOM",
         "\xEF\xBB\xBF[SETTINGS]\nTIMEOUT=500\n[SENSORS]\n7=Sonde \xC3\xA9\xE2\x82\xAC\n",
         Expected},
        {"UTF-8 without BOM", "[SETTINGS]\nTIMEOUT=500\n[SENSORS]\n7=Sonde \xC3\xA9\xE2\x82\xAC\n",
         Expected},
        {"ISO 8859-1 without BOM", "[SETTINGS]\nTIMEOUT=500\n[SENSORS]\n7=Sonde \xE9\xA4\n",
         "7 (0x00000007) Sonde \xC3\xA9\xC2\xA4"},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        const TSettings S = TSettings::FromBytes(R.Bytes);
        EXPECT_EQ(S.FWUpdSettings().DefTimeout, 500);
        EXPECT_EQ(S.SensorIDToName(7), R.Name7);
    }
}

TEST(TextDecode, AlwaysGivesValidUtf8) {
    struct Row {
        const char *Name;
        std::string Bytes;
        std::string Expected;
    };
    const Row Rows[] = {
        {"UTF-16 LE surrogate pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6),
         "\xF0\x9F\x98\x80"},
        {"UTF-16 LE lone high surrogate", std::string("\xFF\xFE\x3D\xD8\x41\x00", 6),
         "\xEF\xBF\xBD"
         "A"},
        {"UTF-16 BE lone low surrogate", std::string("\xFE\xFF\xDE\x00\x00\x41", 6),
         "\xEF\xBF\xBD"
         "A"},
        {"UTF-16 odd trailing byte", std::string("\xFF\xFE\x41\x00\x42", 5), "A\xEF\xBF\xBD"},
        {"UTF-16 NUL kept", std::string("\xFF\xFE\x00\x00", 4), std::string(1, '\0')},
        {"UTF-8 BOM then invalid byte",
         "\xEF\xBB\xBF"
         "a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"overlong UTF-8 read as Latin-1", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
        {"UTF-8 surrogate read as Latin-1", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},
        {"truncated UTF-8 read as Latin-1", "a\xE2\x82", "a\xC3\xA2\xC2\x82"},
        {"BOM only", "\xEF\xBB\xBF", ""},
        {"empty", "", ""},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        const std::string Out = DecodeTextBytes(R.Bytes);
        EXPECT_EQ(Out, R.Expected);
        EXPECT_TRUE(IsValidUtf8(Out));
    }
}

TEST(SettingsFile, NoFileGivesZeroLimitsAndEmptyCatalogue) {
    TTempDir Dir;
    for (const std::string &Name :
         {Dir.File("absent.ini"), Dir.File("no-dir/absent.ini"), std::string()}) {
        SCOPED_TRACE(Name);
        const TSettings S(Name);
        ExpectLimits(S, 0, 0, 0);
        EXPECT_EQ(S.SensorIDToName(7), "Unknown");
        EXPECT_TRUE(S.SensorNames().empty());
        EXPECT_FALSE(S.ReadFailed());
    }
}

TEST(SettingsFile, ReadsFileAndLeavesItUntouched) {
    TTempDir Dir;
    const std::string Path = Dir.Write("app.ini", kSample);
    struct stat Before {};
    ASSERT_EQ(::stat(Path.c_str(), &Before), 0);
    {
        const TSettings S(Path);
        ExpectLimits(S, 5, 15, 1000);
        EXPECT_EQ(S.SensorIDToName(1042), "1042 (0x00000412) Probe B");
        EXPECT_EQ(S.FileName(), Path);
    }
    struct stat After {};
    ASSERT_EQ(::stat(Path.c_str(), &After), 0);
    EXPECT_EQ(After.st_size, Before.st_size);
    EXPECT_EQ(After.st_mtim.tv_sec, Before.st_mtim.tv_sec);
    EXPECT_EQ(After.st_mtim.tv_nsec, Before.st_mtim.tv_nsec);
}

TEST(SettingsFile, ReadOnlyFileIsRead) {
    TTempDir Dir;
    const std::string Path = Dir.Write("ro.ini", "[SETTINGS]\nTIMEOUT=77\n");
    ASSERT_EQ(::chmod(Path.c_str(), 0444), 0);
    EXPECT_EQ(TSettings(Path).FWUpdSettings().DefTimeout, 77);
}

TEST(SettingsFile, UnreadableFileFallsBackToDefaults) {
    // Works as root too: a directory or a FIFO named like the file exists but
    // is no readable file (a FIFO without writer must not hang the start).
    TTempDir Dir;
    const std::string AsDir = Dir.File("dir.ini");
    ASSERT_EQ(::mkdir(AsDir.c_str(), 0755), 0);
    const std::string AsFifo = Dir.File("fifo.ini");
    ASSERT_EQ(::mkfifo(AsFifo.c_str(), 0644), 0);
    const std::string Target = Dir.Write("target", "[SENSORS]\n7=X\n");
    const std::string AsDevice = "/dev/null";
    // Larger than any settings file: taken from its size, not read.
    const std::string Big = Dir.Write("big.ini", "[SENSORS]\n7=X\n");
    ASSERT_EQ(::truncate(Big.c_str(), 17 * 1024 * 1024), 0);
    const struct {
        std::string Path;
        TSettings::TReadError Error;
        std::string Reason;
    } Rows[] = {
        {AsDir, TSettings::TReadError::Folder, "a folder, not a file"},
        {AsFifo, TSettings::TReadError::NotRegular, "not a regular file"},
        {AsDevice, TSettings::TReadError::NotRegular, "not a regular file"},
        {Big, TSettings::TReadError::TooBig, "larger than 16 MiB"},
    };
    for (const auto &R : Rows) {
        SCOPED_TRACE(R.Path);
        const TSettings S(R.Path);
        EXPECT_TRUE(S.ReadFailed());
        ExpectLimits(S, 5, 15, 1000);
        EXPECT_TRUE(S.SensorNames().empty());
        EXPECT_EQ(S.SensorIDToName(7), "Unknown");
        EXPECT_EQ(S.ReadError(), R.Error);
        EXPECT_EQ(S.ReadErrorText(), R.Reason);
        EXPECT_EQ(SettingsSourceText(S),
                  R.Path + " (could not be read: " + R.Reason + "; defaults used)");
        EXPECT_EQ(SettingsWarningText(S), "Settings file " + R.Path + " could not be read (" +
                                              R.Reason +
                                              "): the defaults are used and no sensor has a name");
    }
}

// A file the user may not read says why (root reads every file).
TEST(SettingsFile, UnreadableForTheUserSaysWhy) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TTempDir Dir;
    const std::string Path = Dir.Write("closed.ini", "[SENSORS]\n7=X\n");
    ASSERT_EQ(::chmod(Path.c_str(), 0), 0);
    const TSettings S(Path);
    EXPECT_TRUE(S.ReadFailed());
    EXPECT_EQ(S.ReadError(), TSettings::TReadError::System);
    EXPECT_EQ(S.ReadErrno(), EACCES);
    EXPECT_EQ(S.ReadErrorText(), "Permission denied");
    EXPECT_EQ(S.FileName(), Path);
}

TEST(SettingsFile, AReadableFileHasNoWarning) {
    TTempDir Dir;
    const TSettings S(Dir.Write("ok.ini", "[SENSORS]\n7=X\n"));
    EXPECT_FALSE(S.ReadFailed());
    EXPECT_EQ(S.ReadError(), TSettings::TReadError::None);
    EXPECT_EQ(SettingsWarningText(S), "");
    EXPECT_EQ(SettingsWarningText(TSettings(std::string())), "");
}

TEST(SettingsFile, Utf16FileWithBom) {
    TTempDir Dir;
    const std::string Path = Dir.Write(
        "u16.ini", Utf16(u"[SETTINGS]\r\nMAX_RETRY=$A\r\n[SENSORS]\r\n12=Twelve\r\n", false));
    const TSettings S(Path);
    ExpectLimits(S, 10, 15, 1000);
    EXPECT_EQ(S.SensorIDToName(12), "12 (0x0000000C) Twelve");
}

TEST(SettingsFile, DefaultNameIsExecutableWithIni) {
    char Exe[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", Exe, sizeof Exe - 1), 0);
    std::string Expected = Exe;
    const size_t Slash = Expected.rfind('/');
    const size_t Dot = Expected.rfind('.');
    if (Dot != std::string::npos && Dot > Slash + 1) Expected.resize(Dot);
    EXPECT_EQ(DefaultSettingsFileName(), Expected + ".ini");
}

TEST(SettingsFile, ShippedSampleReadsAsDocumented) {
    const TSettings S(std::string(VELDRA_SOURCE_DIR) + "/packaging/veldra-update.ini.sample");
    ASSERT_FALSE(S.ReadFailed());
    ExpectLimits(S, 5, 15, 1000);
    EXPECT_EQ(S.SensorNames(), (std::vector<std::string>{"7=Probe A", "1042=Probe B"}));
    EXPECT_EQ(S.SensorIDToName(7), "7 (0x00000007) Probe A");
}

TEST(SettingsFile, GlobalStartsEmpty) {
    EXPECT_EQ(Settings, nullptr);
}

// ---- comm sections: [SENSOR n] with registers and value meanings

// The comm catalogue of a settings text in one line per kind:
// "7 120/121/- baud{4=19200 baud} framing{} address{}".
std::string DescribeComms(const TSettings &S) {
    std::string Text;
    const char *const Rows[] = {"baud", "framing", "address"};
    for (const TSensorComm &C : S.SensorComms()) {
        Text += std::to_string(C.SensorID) + " ";
        for (size_t R = 0; R < C.Reg.size(); ++R)
            Text += (R ? "/" : "") + (C.Reg[R] ? std::to_string(*C.Reg[R]) : std::string("-"));
        for (size_t R = 0; R < C.Values.size(); ++R) {
            Text += std::string(" ") + Rows[R] + "{";
            for (size_t I = 0; I < C.Values[R].size(); ++I)
                Text += (I ? "," : "") + std::to_string(C.Values[R][I].Value) + "=" +
                        C.Values[R][I].Meaning;
            Text += "}";
        }
        Text += "\n";
    }
    return Text;
}

TEST(CommCatalogue, SectionsReadAsDocumented) {
    const std::string Long100(100, 'm'), Long101(101, 'm');
    struct Row {
        const char *Name;
        std::string Text;
        std::string Expected;
    };
    const Row Rows[] = {
        {"complete",
         "[SENSOR 7]\nBAUD_REG=120\nFRAMING_REG=121\nADDRESS_REG=122\n"
         "BAUD.4=19200 baud\nBAUD.0=1200 baud\nFRAMING.0=8E1\nADDRESS.1=first\n",
         "7 120/121/122 baud{4=19200 baud,0=1200 baud} framing{0=8E1} address{1=first}\n"},
        {"names without regard to case, blanks around '='",
         "[sensor 7]\n  baud_reg = 120 \nBaud.4 =  19200 baud\n",
         "7 120/-/- baud{4=19200 baud} framing{} address{}\n"},
        {"numbers as in [SETTINGS]", "[SENSOR 7]\nBAUD_REG=0x78\nFRAMING_REG=$79\nBAUD.x4=a\n",
         "7 120/121/- baud{4=a} framing{} address{}\n"},
        {"bounds 0 and 65535 hold",
         "[SENSOR 65535]\nBAUD_REG=0\nFRAMING_REG=65535\nBAUD.65535=top\nBAUD.0=bottom\n",
         "65535 0/65535/- baud{65535=top,0=bottom} framing{} address{}\n"},
        {"out of range is ignored",
         "[SENSOR 7]\nBAUD_REG=65536\nFRAMING_REG=-1\nADDRESS_REG=$FFFFFFFF\nADDRESS_REG=5\n"
         "BAUD.65536=a\nBAUD.-1=b\nBAUD.99999999999=c\n",
         "7 -/-/5 baud{} framing{} address{}\n"},
        {"malformed lines are ignored",
         "[SENSOR 7]\nBAUD_REG\nBAUD_REG=abc\nBAUD_REG=\nFRAMING_REG=12x\nBAUD.=a\nBAUD.x=b\n"
         "BAUD.4=\nBAUD.5\nSPEED_REG=9\nBAUD 4=c\n=d\nADDRESS_REG=3\nLIKE\n",
         "7 -/-/3 baud{} framing{} address{}\n"},
        {"meanings up to 100 bytes",
         "[SENSOR 7]\nBAUD_REG=1\nBAUD.1=" + Long101 + "\nBAUD.2=" + Long100 + "\n",
         "7 1/-/- baud{2=" + Long100 + "} framing{} address{}\n"},
        {"the first line of a register or value counts",
         "[SENSOR 7]\nBAUD_REG=120\nBAUD_REG=130\nBAUD.4=a\nBAUD.4=b\nBAUD.0x4=c\n",
         "7 120/-/- baud{4=a} framing{} address{}\n"},
        {"a section without a register is left out", "[SENSOR 7]\nBAUD.4=19200 baud\n", ""},
        {"section names that are no device code",
         "[SENSOR 07]\nBAUD_REG=1\n[SENSOR +8]\nBAUD_REG=1\n[SENSOR 65536]\nBAUD_REG=1\n"
         "[SENSOR9]\nBAUD_REG=1\n[SENSOR 10 11]\nBAUD_REG=1\n[SENSOR]\nBAUD_REG=1\n"
         "[SENSORS]\nBAUD_REG=1\n[SENSOR 0x1F]\nBAUD_REG=1\n[XSENSOR 12]\nBAUD_REG=1\n",
         ""},
        {"one kind, two spellings: the first counts",
         "[SENSOR 7]\nBAUD_REG=1\n[SENSOR  7]\nBAUD_REG=2\n[Sensor 7]\nBAUD_REG=3\n",
         "7 1/-/- baud{} framing{} address{}\n"},
        {"LIKE takes what the section leaves out",
         "[SENSOR 7]\nBAUD_REG=120\nFRAMING_REG=121\nBAUD.4=a\nFRAMING.0=8E1\n"
         "[SENSOR 8]\nLIKE=7\nFRAMING_REG=200\nFRAMING.1=8O1\n[SENSOR 9]\nLIKE = 7\n",
         "7 120/121/- baud{4=a} framing{0=8E1} address{}\n"
         "8 120/200/- baud{4=a} framing{1=8O1} address{}\n"
         "9 120/121/- baud{4=a} framing{0=8E1} address{}\n"},
        {"LIKE is followed one step, never in circles",
         "[SENSOR 1]\nLIKE=2\n[SENSOR 2]\nLIKE=3\nBAUD_REG=5\n[SENSOR 3]\nLIKE=1\nFRAMING_REG=6\n",
         "1 5/-/- baud{} framing{} address{}\n2 5/6/- baud{} framing{} address{}\n"
         "3 -/6/- baud{} framing{} address{}\n"},
        {"LIKE of a missing or malformed kind gives nothing",
         "[SENSOR 1]\nLIKE=4\n[SENSOR 2]\nLIKE=07\n[SENSOR 7]\nBAUD_REG=1\n",
         "7 1/-/- baud{} framing{} address{}\n"},
        {"a meaning in Latin-1", "[SENSOR 7]\nBAUD_REG=1\nBAUD.1=19200 \xB5s\n",
         "7 1/-/- baud{1=19200 \xC2\xB5s} framing{} address{}\n"},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        EXPECT_EQ(DescribeComms(TSettings::FromBytes(R.Text)), R.Expected);
    }
}

TEST(CommCatalogue, LookupAndMeanings) {
    const TSettings S = TSettings::FromBytes(
        "[SENSOR 7]\nBAUD_REG=120\nBAUD.4=19200 baud\nFRAMING_REG=121\nFRAMING.0=8E1\n");
    ASSERT_NE(S.SensorComm(7), nullptr);
    EXPECT_EQ(S.SensorComm(8), nullptr);
    const TSensorComm &C = *S.SensorComm(7);
    EXPECT_EQ(C.MeaningOf(0, 4), "19200 baud");
    EXPECT_EQ(C.MeaningOf(0, 0), "");
    EXPECT_EQ(C.MeaningOf(1, 0), "8E1");
    EXPECT_EQ(C.MeaningOf(2, 0), "");
    EXPECT_EQ(C.MeaningOf(3, 0), "");
    EXPECT_EQ(C.MeaningOf(-1, 4), "");
}

// A file of the old kind reads as it always did, and comm sections change
// nothing else a file says.
TEST(CommCatalogue, OldFilesAndTheRestOfAFileAreUnchanged) {
    const TSettings Old = TSettings::FromBytes(kSample);
    EXPECT_TRUE(Old.SensorComms().empty());
    const TSettings New = TSettings::FromBytes("[SENSOR 7]\nBAUD_REG=120\n" + kSample +
                                               "[SENSOR 1042]\nLIKE=7\n[PORTS]\nA=tcp://h:1\n");
    ExpectLimits(New, 5, 15, 1000);
    EXPECT_EQ(New.SensorNames(), Old.SensorNames());
    EXPECT_EQ(New.SensorIDToName(7), "7 (0x00000007) Probe A");
    ASSERT_EQ(New.NetworkPorts().size(), 1u);
    EXPECT_EQ(DescribeComms(New),
              "7 120/-/- baud{} framing{} address{}\n"
              "1042 120/-/- baud{} framing{} address{}\n");
}

TEST(CommCatalogue, TheSampleDescribesTheSimulatorsSensors) {
    const TSettings S(std::string(VELDRA_SOURCE_DIR) + "/packaging/veldra-update.ini.sample");
    for (int ID : {7, 1042, 3100}) {
        SCOPED_TRACE(ID);
        const TSensorComm *C = S.SensorComm(ID);
        ASSERT_NE(C, nullptr);
        EXPECT_EQ(C->Reg[0], 120);
        EXPECT_EQ(C->Reg[1], 121);
        EXPECT_EQ(C->Reg[2], 122);
        EXPECT_EQ(C->MeaningOf(0, 4), "19200 baud");
        EXPECT_EQ(C->MeaningOf(1, 0), "8E1");
    }
}

}  // namespace
