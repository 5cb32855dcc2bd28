// CRC-8 and bootloader packets against the worked examples of the protocol.
#include <gtest/gtest.h>

#include <string>

#include "bootloader/CRC8.h"
#include "bootloader/XComm.h"

namespace {

TByteArray Bytes(std::initializer_list<int> L) {
    TByteArray B;
    for (int V : L) B.push_back(static_cast<uint8_t>(V));
    return B;
}

TEST(CRC8, CheckValuesAndRanges) {
    const std::string Digits = "123456789";
    EXPECT_EQ(CalcCRC8(reinterpret_cast<const uint8_t *>(Digits.data()), Digits.size()), 0xA1);
    struct Row {
        TByteArray Data;
        size_t Start, Count;
        uint8_t Crc;
    };
    const Row Rows[] = {
        {Bytes({0xF5, 0x05, 0x0C, 0x00, 0x00}), 1, 4, 0x3A},
        {Bytes({0xF5, 0x05, 0x0B, 0x00, 0x00}), 1, 4, 0x40},
        {Bytes({0xF5, 0x05, 0x0D, 0x00, 0x00}), 1, 4, 0x91},
        {Bytes({0xF5, 0x06, 0x8C, 0x02, 0x05, 0x11}), 1, 5, 0x24},
        {Bytes({0xF5, 0x05, 0x8D, 0xFE, 0xFF}), 1, 4, 0x83},
        {Bytes({0xF5, 0x05}), 1, 0, 0x00},  // an empty range is 0
    };
    for (const auto &R : Rows)
        EXPECT_EQ(CalcCRC8(R.Data, R.Start, R.Count), R.Crc) << "count " << R.Count;
    // One step per byte gives the same as the block routine.
    uint8_t Crc = 0;
    for (char C : Digits) Crc = UpdateCRC8(Crc, static_cast<uint8_t>(C));
    EXPECT_EQ(Crc, 0xA1);
}

TEST(BootPackets, RequestsByteForByte) {
    const uint8_t Slice[] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Row {
        uint8_t Cmd;
        uint16_t No;
        size_t Count;
        TByteArray Want;
    };
    const Row Rows[] = {
        {CCmdIdent, 0, 0, Bytes({0xF5, 0x05, 0x0C, 0x00, 0x00, 0x3A})},
        {CCmdIdent16, 0, 0, Bytes({0xF5, 0x05, 0x0B, 0x00, 0x00, 0x40})},
        {CCmdData, 0, 0, Bytes({0xF5, 0x05, 0x0D, 0x00, 0x00, 0x91})},
    };
    for (const auto &R : Rows) EXPECT_EQ(BuildRequest(R.Cmd, R.No, Slice, R.Count), R.Want);

    // Packet number little-endian, data in place, length = data + 5, CRC over length..data.
    const TByteArray P = BuildRequest(CCmdData, 0x1234, Slice, 8);
    ASSERT_EQ(P.size(), 14u);
    EXPECT_EQ(P[1], 13);
    EXPECT_EQ(P[3], 0x34);
    EXPECT_EQ(P[4], 0x12);
    EXPECT_EQ(TByteArray(P.begin() + 5, P.begin() + 13), TByteArray(Slice, Slice + 8));
    EXPECT_EQ(P.back(), CalcCRC8(P, 1, 12));
    // 240 data bytes still fit the length byte.
    const TByteArray Big(240, 0xAA);
    EXPECT_EQ(BuildRequest(CCmdData, 1, Big.data(), Big.size()).size(), 246u);
}

TEST(BootPackets, ReplyChecks) {
    struct Row {
        const char *Name;
        TByteArray Reply;
        uint8_t Cmd;
        bool Ok;
        TByteArray Payload;
    };
    const Row Rows[] = {
        {"ident 2.05 / 17", Bytes({0xF5, 0x06, 0x8C, 0x02, 0x05, 0x11, 0x24}), CCmdIdent, true,
         Bytes({2, 5, 17})},
        {"ident16 2.05 / 300", Bytes({0xF5, 0x07, 0x8B, 0x02, 0x05, 0x2C, 0x01, 0xDE}), CCmdIdent16,
         true, Bytes({2, 5, 0x2C, 0x01})},
        {"start ack", Bytes({0xF5, 0x05, 0x8D, 0x00, 0x00, 0xF3}), CCmdData, true, Bytes({0, 0})},
        {"completion", Bytes({0xF5, 0x05, 0x8D, 0xFE, 0xFF, 0x83}), CCmdData, true,
         Bytes({0xFE, 0xFF})},
        {"echo of the request", Bytes({0xF5, 0x05, 0x0C, 0x00, 0x00, 0x3A}), CCmdIdent, false, {}},
        {"answer to another command",
         Bytes({0xF5, 0x05, 0x8D, 0x00, 0x00, 0xF3}),
         CCmdIdent,
         false,
         {}},
        {"bad CRC", Bytes({0xF5, 0x06, 0x8C, 0x02, 0x05, 0x11, 0x25}), CCmdIdent, false, {}},
        {"bad start", Bytes({0xF4, 0x06, 0x8C, 0x02, 0x05, 0x11, 0x24}), CCmdIdent, false, {}},
        {"length disagrees",
         Bytes({0xF5, 0x07, 0x8C, 0x02, 0x05, 0x11, 0x24}),
         CCmdIdent,
         false,
         {}},
        {"too short to hold a CRC", Bytes({0xF5, 0x02, 0x8C}), CCmdIdent, false, {}},
    };
    for (const auto &R : Rows) {
        TByteArray Payload{0x99};
        EXPECT_EQ(CheckReply(R.Reply, R.Cmd, Payload), R.Ok) << R.Name;
        if (R.Ok) {
            EXPECT_EQ(Payload, R.Payload) << R.Name;
        }
    }
}

}  // namespace
