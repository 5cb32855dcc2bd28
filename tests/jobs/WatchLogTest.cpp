// The watch's CSV log: the header, one line per round with empty cells and
// reasons for failed reads, quoting, and every line on disk once written.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "TempDir.h"
#include "jobs/WatchLog.h"

namespace {

TWatchReading Good(const std::string &Text, double Value) {
    TWatchReading R;
    R.Ok = true;
    R.Value = Value;
    R.Text = Text;
    return R;
}
TWatchReading Failed(TJobReason Why) {
    TWatchReading R;
    R.Why = std::move(Why);
    return R;
}

TEST(WatchLog, IsoUtcTimes) {
    using namespace std::chrono;
    const struct {
        long long Ms;
        const char *Text;
    } Rows[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1796975100123, "2026-12-11T07:45:00.123Z"},
        {951782400999, "2000-02-29T00:00:00.999Z"},
        // The same second again, the next one, and back.
        {951782400000, "2000-02-29T00:00:00.000Z"},
        {951782401000, "2000-02-29T00:00:01.000Z"},
        {951782400500, "2000-02-29T00:00:00.500Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
    };
    for (const auto &R : Rows)
        EXPECT_EQ(IsoUtcTime(system_clock::time_point(milliseconds(R.Ms))), R.Text) << R.Ms;
}

TEST(WatchLog, CsvCells) {
    const struct {
        const char *In, *Out;
    } Rows[] = {{"", ""},
                {"12.5", "12.5"},
                {"a,b", "\"a,b\""},
                {"say \"hi\"", "\"say \"\"hi\"\"\""},
                {"two\nlines", "\"two\nlines\""}};
    for (const auto &R : Rows) EXPECT_EQ(CsvCell(R.In), R.Out) << R.In;
}

TEST(WatchLog, HeaderRowsAndReasonsEachLineOnDiskAsWritten) {
    TTempDir Dir;
    const std::string Path = Dir.File("log.csv");
    std::vector<TWatchRow> Rows(3);
    Rows[0] = {1, 110, rdtFloat, woMSWF, 2, "Temperature", 0.1, -40, "°C"};
    Rows[1] = {2, 0, rdtInt, woMSWF, 1, "Level, tank 1", 1, 0, ""};
    Rows[2] = {9, 5, rdtString, woMSWF, 4, "Name", 1, 0, ""};
    TWatchLog Log;
    ASSERT_TRUE(
        Log.Open(Path, {"veldra-update 9.8.7", "/dev/ttyUSB0", "19200", "Even", "1"}, Rows));
    const std::string Head =
        "# veldra-update 9.8.7 watch\n"
        "# port /dev/ttyUSB0, 19200 baud, parity Even, 1 stop bit(s)\n"
        "# Temperature: address 1, register 110, float, °C\n"
        "# Level, tank 1: address 2, register 0, int\n"
        "# Name: address 9, register 5, string\n"
        "time,Temperature,\"Level, tank 1\",Name,errors\n";
    EXPECT_EQ(ReadFileText(Path), Head);

    TWatchPoll P;
    P.Readings = {Good("21.5", 21.5), Good("-3", -3), Failed({TJobText::ModbusNoAnswer})};
    Log.Write("2026-12-11T07:45:00.000Z", P);
    const std::string First =
        "2026-12-11T07:45:00.000Z,21.5,-3,,Name: No answer within the time-out\n";
    // On disk before the next round or the close.
    EXPECT_EQ(ReadFileText(Path), Head + First);

    P.Readings = {Failed({TJobText::ModbusBadCrc}), Good("7", 7),
                  Failed({TJobText::ModbusException2})};
    Log.Write("2026-12-11T07:45:01.000Z", P);
    // The reasons of one round in one cell, each after its row's label.
    const std::string Second =
        "2026-12-11T07:45:01.000Z,,7,,Temperature: Damaged answer (CRC "
        "error); Name: Modbus exception 2 (illegal data address)\n";
    EXPECT_EQ(ReadFileText(Path), Head + First + Second);
    EXPECT_FALSE(Log.Failed());
    Log.Close();
    EXPECT_FALSE(Log.IsOpen());
}

TEST(WatchLog, AFileThatCannotBeWrittenIsRefused) {
    TTempDir Dir;
    TWatchLog Log;
    EXPECT_FALSE(Log.Open(Dir.File("no-such-folder/log.csv"), {}, {}));
    EXPECT_FALSE(Log.IsOpen());
    // Nothing written, nothing raised.
    Log.Write("t", TWatchPoll{});
}

}  // namespace
