// The watch list file: what a list reads as, what it is refused for, and
// the round trip through the text it is saved as.
#include <gtest/gtest.h>

#include <string>

#include "ForwardLink.h"
#include "SimModbusLine.h"
#include "TempDir.h"
#include "jobs/WatchList.h"
#include "modbus/ModbusLine.h"

namespace {

TEST(WatchList, RowsReadWithTheirDefaultsAndRoundTrip) {
    const TWatchListRead Read = ParseWatchList(R"({"watch": [
        {"address": 1, "register": 0},
        {"address": 2, "register": 110, "type": "FLOAT", "order": "lswf", "label": "Temperature",
         "scale": 0.1, "offset": -40, "unit": "°C"},
        {"address": 247, "register": 65535, "type": "string", "count": 8, "order": "LSWF"},
        {"address": 3, "register": 0, "type": "bit", "count": 16, "label": "Inputs"}]})");
    ASSERT_TRUE(Read.Ok()) << Read.Error;
    ASSERT_EQ(Read.Rows.size(), 4u);
    const TWatchRow &Plain = Read.Rows[0];
    EXPECT_EQ(Plain.Type, rdtInt);
    EXPECT_EQ(Plain.Count, 1);
    EXPECT_EQ(Plain.Label, "1:0");
    EXPECT_EQ(Plain.Scale, 1);
    EXPECT_EQ(Plain.Offset, 0);
    const TWatchRow &Temp = Read.Rows[1];
    EXPECT_EQ(Temp.Type, rdtFloat);
    EXPECT_EQ(Temp.Order, woLSWF);
    EXPECT_EQ(Temp.Count, 2);
    EXPECT_EQ(Temp.Unit, "°C");
    EXPECT_DOUBLE_EQ(Temp.Scale, 0.1);
    // A string has no word order: the order given is not kept.
    EXPECT_EQ(Read.Rows[2].Order, woMSWF);
    EXPECT_EQ(Read.Rows[2].Count, 8);
    EXPECT_EQ(Read.Rows[3].Count, 16);

    const TWatchListRead Again = ParseWatchList(WatchListText(Read.Rows));
    ASSERT_TRUE(Again.Ok()) << Again.Error;
    EXPECT_EQ(Again.Rows, Read.Rows);
}

TEST(WatchList, BadListsAreRefusedSayingWhere) {
    const struct {
        const char *Text;
        const char *Error;
    } Rows[] = {
        {"", "not a JSON text"},
        {"{\"watch\": [", "not a JSON text"},
        {"[]", "no \"watch\" list of rows"},
        {"{\"watch\": {}}", "no \"watch\" list of rows"},
        {"{\"watch\": []}", "a list holds 1 to 64 rows"},
        {"{\"watch\": [1]}", "row 1: not an object"},
        {"{\"watch\": [{\"register\": 0}]}", "row 1: \"address\" is missing"},
        {"{\"watch\": [{\"address\": 1}]}", "row 1: \"register\" is missing"},
        {"{\"watch\": [{\"address\": 1, \"register\": 0}, {\"address\": 0, \"register\": 0}]}",
         "row 2: \"address\" must be a whole number 1..247"},
        {"{\"watch\": [{\"address\": 1.5, \"register\": 0}]}",
         "row 1: \"address\" must be a whole number 1..247"},
        {"{\"watch\": [{\"address\": 1, \"register\": 65536}]}",
         "row 1: \"register\" must be a whole number 0..65535"},
        {"{\"watch\": [{\"address\": 1, \"register\": \"7\"}]}",
         "row 1: \"register\" must be a whole number 0..65535"},
        {"{\"watch\": [{\"address\": 1, \"register\": 0, \"type\": \"double\"}]}",
         "row 1: \"type\" must be float, int, uint16, BCD, uint32, string or bit"},
        {"{\"watch\": [{\"address\": 1, \"register\": 0, \"order\": \"BE\"}]}",
         "row 1: \"order\" must be MSWF or LSWF"},
        {"{\"watch\": [{\"address\": 1, \"register\": 0, \"type\": \"float\", \"count\": 1}]}",
         "row 1: \"count\" of type float is always 2"},
        {"{\"watch\": [{\"address\": 1, \"register\": 0, \"type\": \"string\", \"count\": 126}]}",
         "row 1: \"count\" must be a whole number 1..125"},
        {"{\"watch\": [{\"address\": 1, \"register\": 0, \"scale\": \"x\"}]}",
         "row 1: \"scale\" must be a number"},
        {"{\"watch\": [{\"address\": 1, \"register\": 0, \"label\": 5}]}",
         "row 1: \"label\" must be a text of at most 100 bytes"},
        {"{\"watch\": [{\"address\": 1, \"register\": 0}, {\"address\": 1, \"register\": 0}]}",
         "row 2: \"label\" \"1:0\" is given twice"},
    };
    for (const auto &R : Rows) {
        SCOPED_TRACE(R.Text);
        const TWatchListRead Read = ParseWatchList(R.Text);
        EXPECT_EQ(Read.Error, R.Error);
        EXPECT_TRUE(Read.Rows.empty());
    }
    std::string Many = "{\"watch\": [";
    for (int I = 0; I < 65; ++I)
        Many += (I ? "," : "") + std::string("{\"address\": 1, \"register\": ") +
                std::to_string(I) + "}";
    EXPECT_EQ(ParseWatchList(Many + "]}").Error, "a list holds 1 to 64 rows");
}

TEST(WatchList, FilesThatCannotBeReadSayWhy) {
    TTempDir Dir;
    EXPECT_EQ(ReadWatchListFile(Dir.File("none.json")).Error,
              Dir.File("none.json") + ": cannot be read");
    const std::string Big = Dir.Write("big.json", std::string(CMaxWatchFileBytes + 1, ' '));
    EXPECT_EQ(ReadWatchListFile(Big).Error, Big + ": larger than 1 MiB");
    const std::string Bad =
        Dir.Write("bad.json", "{\"watch\": [{\"address\": 300, \"register\": 0}]}");
    EXPECT_EQ(ReadWatchListFile(Bad).Error,
              Bad + ": row 1: \"address\" must be a whole number 1..247");
    const std::string Good =
        Dir.Write("good.json", "{\"watch\": [{\"address\": 4, \"register\": 9}]}");
    const TWatchListRead Read = ReadWatchListFile(Good);
    ASSERT_TRUE(Read.Ok()) << Read.Error;
    EXPECT_EQ(Read.Rows[0].Label, "4:9");
}

// Rows read on a line with one device: scaled numbers, texts, bits, and
// failures with their reasons; the statistics count both.
TEST(WatchList, RowsReadScaledAndFailuresCountedWithTheirReason) {
    TSimModbusLine Line(3, {}, 1000);
    Line.AddDevice(9);
    TModbusLine Modbus(LinesTo(Line)("/dev/ttyWATCH"));
    TPortParams Params;
    Params.Timeout = 100;
    ASSERT_TRUE(Modbus.Open(Params));
    TModbusRTU &Master = Modbus.Master();
    const uint16_t Raw = Line.Register(9, 10);
    const int16_t Signed = static_cast<int16_t>(Raw);

    TWatchRow Plain;
    Plain.Address = 9;
    Plain.Register = 10;
    TWatchRow Scaled = Plain;
    Scaled.Scale = 0.5;
    Scaled.Offset = -3;
    TWatchRow Bits = Plain;
    Bits.Type = rdtBit;
    Bits.Count = 4;
    TWatchRow Silent = Plain;
    Silent.Address = 8;

    TWatchReading R = ReadWatchRow(Master, Plain);
    ASSERT_TRUE(R.Ok);
    EXPECT_EQ(*R.Value, Signed);
    EXPECT_EQ(R.Text, std::to_string(Signed));
    R = ReadWatchRow(Master, Scaled);
    ASSERT_TRUE(R.Ok);
    EXPECT_DOUBLE_EQ(*R.Value, Signed * 0.5 - 3);
    R = ReadWatchRow(Master, Bits);
    ASSERT_TRUE(R.Ok);
    EXPECT_FALSE(R.Value);
    EXPECT_EQ(R.Text.size(), 4u);
    const TWatchReading Failed = ReadWatchRow(Master, Silent);
    EXPECT_FALSE(Failed.Ok);
    EXPECT_EQ(Failed.Why.Text, TJobText::ModbusNoAnswer);

    TWatchStats Stats;
    TWatchReading A, B;
    A.Ok = B.Ok = true;
    A.Value = 2;
    B.Value = -4;
    Stats.Add(A, 10);
    Stats.Add(Failed, 20);
    Stats.Add(B, 30);
    Stats.Add(Failed, 40);
    EXPECT_EQ(Stats.Good, 2);
    EXPECT_EQ(Stats.Errors, 2);
    EXPECT_EQ(*Stats.Min, -4);
    EXPECT_EQ(*Stats.Max, 2);
    EXPECT_EQ(*Stats.Mean(), -1);
    EXPECT_EQ(Stats.LastGoodMs, 30u);
    EXPECT_FALSE(TWatchStats{}.Mean());
}

}  // namespace
