// The pure pieces of the command line: trace lines, progress texts, and
// the sensor recognition of the scan.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TempDir.h"
#include "cli/Console.h"
#include "cli/PacedOut.h"
#include "cli/PortCheck.h"
#include "cli/Progress.h"
#include "cli/Trace.h"
#include "jobs/SensorIdentify.h"

namespace {

TEST(CliText, ControlCharactersAreShownNotObeyed) {
    const struct {
        std::string In, Out;
    } cases[] = {
        {"Probe Q", "Probe Q"},
        {"a\tb", "a\tb"},  // the column separator stays
        {"\x1b[2J", "\\x1B[2J"},
        {"\x1b]0;title\x07", "\\x1B]0;title\\x07"},
        {std::string("nul\0in", 6), "nul\\x00in"},
        {"cr\rlf\n", "cr\\x0Dlf\\x0A"},
        {"del\x7f", "del\\x7F"},
        {"C1 CSI \xc2\x9b"
         "2J",
         "C1 CSI \\x9B2J"},
        {"NEL \xc2\x85", "NEL \\x85"},
        {"no-break space \xc2\xa0 stays", "no-break space \xc2\xa0 stays"},
        {"\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80", "\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80"},
        {"lone \x9b byte", "lone \\x9B byte"},
        {"cut \xe2\x82", "cut \\xE2\\x82"},
        {"over-long \xc0\x9b", "over-long \\xC0\\x9B"},
    };
    for (const auto &c : cases) EXPECT_EQ(VisibleText(c.In), c.Out) << c.In;
}

// Characters that reorder or hide text are shown by their code point.
TEST(CliText, BidiAndInvisibleCharactersAreShown) {
    const struct {
        std::string In, Out;
    } cases[] = {
        {"Probe \u202eA", "Probe \\u{202E}A"},  // right-to-left override
        {"a\u202ab\u202bc\u202cd\u202de", "a\\u{202A}b\\u{202B}c\\u{202C}d\\u{202D}e"},
        {"\u2066x\u2067y\u2068z\u2069", "\\u{2066}x\\u{2067}y\\u{2068}z\\u{2069}"},  // isolates
        {"zero\u200bwidth\u200c\u200d\u200e\u200f",
         "zero\\u{200B}width\\u{200C}\\u{200D}\\u{200E}\\u{200F}"},
        {"line\u2028para\u2029", "line\\u{2028}para\\u{2029}"},
        {"\u061c\u2060\ufeff", "\\u{061C}\\u{2060}\\u{FEFF}"},
        // Neighbours pass unchanged.
        {"\u200a\u2010\u2027\u202f\u2065\u206a", "\u200a\u2010\u2027\u202f\u2065\u206a"},
        {"\u05d0\u05d1 Hebrew, \u0627 Arabic", "\u05d0\u05d1 Hebrew, \u0627 Arabic"},
    };
    for (const auto &c : cases) EXPECT_EQ(VisibleText(c.In), c.Out) << c.In;
}

// The JSON text escapes DEL, C1 and the hidden characters as \uXXXX; the
// value stays the same for a reader.
TEST(CliText, JsonEscapesDelC1AndHiddenCharacters) {
    const struct {
        std::string In, Out;
    } cases[] = {
        {"{\"a\":\"del\x7f\"}", "{\"a\":\"del\\u007f\"}"},
        {"{\"a\":\"\xc2\x80\xc2\x85\xc2\x9b\xc2\x9f\"}",
         "{\"a\":\"\\u0080\\u0085\\u009b\\u009f\"}"},
        {"{\"a\":\"\u202e\u2028\u200b\"}", "{\"a\":\"\\u202e\\u2028\\u200b\"}"},
        {"{\"a\":\"\xc2\xa0\xc3\xa4\u20ac \\u001b\"}",
         "{\"a\":\"\xc2\xa0\xc3\xa4\u20ac \\u001b\"}"},
        {"[1,2.5,null,true]", "[1,2.5,null,true]"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(EscapeJsonControls(c.In), c.Out) << c.In;
        EXPECT_EQ(nlohmann::json::parse(EscapeJsonControls(c.In)), nlohmann::json::parse(c.In))
            << c.In;
    }
}

TEST(CliPortProblem, BusyPortsSayTheyAreInUse) {
    const struct {
        int Errno;
        bool InUse;
    } cases[] = {{EBUSY, true}, {EAGAIN, true}, {ENOENT, false}, {EACCES, false}, {-1, false}};
    for (const auto &c : cases) {
        const std::string text = PortProblemText({"Unable to open com port", c.Errno});
        EXPECT_EQ(text.ends_with(" - in use by another program"), c.InUse) << text;
        EXPECT_TRUE(text.starts_with("Unable to open com port")) << text;
    }
}

TEST(CliPortProblem, AccessHintNamesTheDevicesGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a file to other groups needs root";
    TTempDir dir;
    struct TCase {
        const char *Group;  // nullptr: a group number without a name
        gid_t Gid;
    };
    std::vector<TCase> cases;
    for (const char *name : {"dialout", "tty", "uucp", "root"})
        if (const struct group *g = getgrnam(name)) cases.push_back({name, g->gr_gid});
    gid_t unnamed = 54321;
    while (getgrgid(unnamed)) ++unnamed;
    cases.push_back({nullptr, unnamed});
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Group ? c.Group : "unnamed");
        const std::string dev = dir.Write("ttyX", "");
        ASSERT_EQ(chown(dev.c_str(), 0, c.Gid), 0);
        const std::string hint = PortAccessHint(dev, {"Unable to open com port", EACCES});
        const std::string group = c.Group ? c.Group : std::to_string(c.Gid);
        if (c.Gid == 0) {
            EXPECT_TRUE(hint.find("belongs to the group 'root'") != std::string::npos) << hint;
        } else {
            EXPECT_TRUE(hint.find("usermod -aG " + group + " $USER") != std::string::npos) << hint;
            if (group != "dialout") {
                EXPECT_EQ(hint.find("dialout"), std::string::npos) << hint;
            }
        }
        EXPECT_EQ(PortAccessHint(dev, {"Unable to open com port", ENOENT}), "");
    }
}

TEST(CliTrace, LineLayout) {
    const uint8_t ident[] = {0xF5, 0x05, 0x0C, 0x00, 0x00, 0x3A};
    const uint8_t one[] = {0x0A};
    struct TCase {
        double Ms;
        std::string Port;
        TTraceDir Dir;
        const uint8_t *Data;
        size_t Count;
        std::string Line;
    } cases[] = {
        {0.5, "", TTraceDir::Tx, ident, sizeof ident, "    0.500 TX F5 05 0C 00 00 3A"},
        {1234.5678, "/dev/ttyUSB1", TTraceDir::Rx, one, 1, " 1234.568 /dev/ttyUSB1 RX 0A"},
        {100000, "", TTraceDir::Rx, nullptr, 0, "100000.000 RX (none)"},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(FormatTraceLine(c.Ms, c.Port, c.Dir, c.Data, c.Count), c.Line);
}

TEST(CliProgress, Texts) {
    struct TCase {
        int Percent, Sent, Failed;
        double Rate, Left;
        std::string Bar;
    } bars[] = {
        {0, 0, 0, -1, -1, "[--------------------]   0%  sent 0  failed 0"},
        {37, 12, 1, 850, 7.4, "[#######-------------]  37%  sent 12  failed 1  850 B/s  0:07 left"},
        {100, 130, 0, 1949, -1, "[####################] 100%  sent 130  failed 0  1.9 kB/s"},
        {140, 1, 0, -1, -1, "[####################] 100%  sent 1  failed 0"},
    };
    for (const TCase &c : bars)
        EXPECT_EQ(FormatProgressBar(c.Percent, c.Sent, c.Failed, c.Rate, c.Left), c.Bar);

    const std::pair<double, const char *> durations[] = {{0, "0:00"},       {59.4, "0:59"},
                                                         {59.6, "1:00"},    {754, "12:34"},
                                                         {3723, "1:02:03"}, {-1, "--:--"}};
    for (const auto &[secs, text] : durations) EXPECT_EQ(FormatDuration(secs), text) << secs;
    EXPECT_EQ(FormatProgressStep(37, 12, 1), "37% (packets sent 12, failed 1)");
}

// Without a terminal: one line each time a multiple of 10 % is passed, and
// the last state once more when the upload ends between two steps.
TEST(CliProgress, StepLinesWithoutTerminal) {
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    ASSERT_TRUE(out && err);
    {
        TConsole console(out, err, false);
        TProgressBoard board(console, {"/dev/a", "/dev/b"}, false, 1000, 8);
        board.Start(0);
        board.Start(1);
        for (int p : {4, 9, 10, 15, 35, 35}) board.Report(0, p, 0, p);
        board.Report(1, 1, 0, 12);
        board.Report(1, 1, 1, 12);
        board.Report(1, 1, 2, 12);
        board.Done(0, "done");
        board.Done(1, "failed");
    }
    std::string text(4096, '\0');
    std::rewind(err);
    text.resize(std::fread(text.data(), 1, text.size(), err));
    EXPECT_EQ(text,
              "/dev/a: 10% (packets sent 10, failed 0)\n"
              "/dev/a: 35% (packets sent 35, failed 0)\n"
              "/dev/b: 12% (packets sent 1, failed 0)\n"
              "/dev/b: 12% (packets sent 1, failed 2)\n");
    std::fclose(out);
    std::fclose(err);
}

// Lines faster than the pace are held and printed together; what reaches
// the output is the same bytes, in order, as line by line.
TEST(CliPacedOut, HoldsLinesWithinThePaceAndLosesNone) {
    using std::chrono::hours;
    using std::chrono::milliseconds;
    struct TCase {
        const char *Name;
        milliseconds Pace;
        std::vector<std::string> PrintedAfterEachPut;  // output so far
    };
    const TCase Cases[] = {
        {"no pace: each line at once", milliseconds(0), {"a\n", "a\nb\n", "a\nb\nc\n"}},
        {"a long pace: the first at once, the rest at the end",
         std::chrono::duration_cast<milliseconds>(hours(1)),
         {"a\n", "a\n", "a\n"}},
    };
    for (const TCase &C : Cases) {
        SCOPED_TRACE(C.Name);
        std::FILE *Out = std::tmpfile();
        std::FILE *Err = std::tmpfile();
        ASSERT_TRUE(Out && Err);
        auto Printed = [Out] {
            std::string Text(256, '\0');
            std::rewind(Out);
            Text.resize(std::fread(Text.data(), 1, Text.size(), Out));
            std::fseek(Out, 0, SEEK_END);
            return Text;
        };
        {
            TConsole Console(Out, Err, false);
            TPacedOut Paced(Console, C.Pace);
            const char *Lines[] = {"a", "b", "c"};
            for (size_t I = 0; I < 3; ++I) {
                Paced.Put(Lines[I]);
                EXPECT_EQ(Printed(), C.PrintedAfterEachPut[I]) << "after " << Lines[I];
            }
            Paced.Close();
            EXPECT_EQ(Printed(), "a\nb\nc\n");
            Paced.Put("d");  // it goes on after a Close; its end prints what it holds
        }
        EXPECT_EQ(Printed(), "a\nb\nc\nd\n");
        std::fclose(Out);
        std::fclose(Err);
    }
}

TEST(CliIdentify, VendorText) {
    struct TCase {
        TModbusRegisters Regs;
        std::string Text;
    } cases[] = {
        {{0x4142, 0x4300, 0x4445}, "ABC"},
        {{0x4142, 0x4344}, "ABCD"},
        {{0x0041, 0x4243}, ""},
        {{0x4142, 0x0043}, "AB"},
        {{}, ""},
    };
    for (const TCase &c : cases) EXPECT_EQ(VendorTextFromRegs(c.Regs), c.Text);
}

TEST(CliIdentify, VersionRegisterIsTwoBcdBytes) {
    struct TCase {
        uint16_t Reg;
        int Major, Minor;
    } cases[] = {{0x0105, 1, 5},  {0x0210, 2, 10}, {0x9999, 99, 99},
                 {0x1A05, -1, 5}, {0x010F, 1, -1}, {0x0000, 0, 0}};
    for (const TCase &c : cases) {
        int major = 0, minor = 0;
        VersionFromRegister(c.Reg, major, minor);
        EXPECT_EQ(major, c.Major) << std::hex << c.Reg;
        EXPECT_EQ(minor, c.Minor) << std::hex << c.Reg;
    }
}

}  // namespace
