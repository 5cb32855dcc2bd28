// The pure pieces of the command line: trace lines, progress texts, and
// the sensor recognition of the scan.
#include <gtest/gtest.h>

#include <cstdio>

#include "cli/Console.h"
#include "cli/Progress.h"
#include "modbus/SensorIdentify.h"
#include "cli/Trace.h"

namespace {

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
    for (const TCase &c : cases) EXPECT_EQ(FormatTraceLine(c.Ms, c.Port, c.Dir, c.Data, c.Count), c.Line);
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
    for (const TCase &c : bars) EXPECT_EQ(FormatProgressBar(c.Percent, c.Sent, c.Failed, c.Rate, c.Left), c.Bar);

    const std::pair<double, const char *> durations[] = {
        {0, "0:00"}, {59.4, "0:59"}, {59.6, "1:00"}, {754, "12:34"}, {3723, "1:02:03"}, {-1, "--:--"}};
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
    } cases[] = {{0x0105, 1, 5}, {0x0210, 2, 10}, {0x9999, 99, 99}, {0x1A05, -1, 5}, {0x010F, 1, -1}, {0x0000, 0, 0}};
    for (const TCase &c : cases) {
        int major = 0, minor = 0;
        VersionFromRegister(c.Reg, major, minor);
        EXPECT_EQ(major, c.Major) << std::hex << c.Reg;
        EXPECT_EQ(minor, c.Minor) << std::hex << c.Reg;
    }
}

}  // namespace
