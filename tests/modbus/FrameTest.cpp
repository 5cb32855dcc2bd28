// CRC-16 and the request/answer frames of the RTU master, byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/CRC16.h"
#include "modbus/ModbusFrame.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint16_t WireCrc(const Bytes &Frame) {
    return static_cast<uint16_t>(Frame[Frame.size() - 2] << 8 | Frame.back());
}

TEST(CRC16, WorkedFrames) {
    struct Row {
        const char *Name;
        Bytes Frame;  // complete frame with its CRC
    };
    const Row Rows[] = {
        {"read one register at 0, device 1", {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}},
        {"probe of device 1 at register 10", {0x01, 0x03, 0x00, 0x0A, 0x00, 0x01, 0xA4, 0x08}},
        {"write single register", {0x11, 0x06, 0x00, 0x01, 0x00, 0x03, 0x9A, 0x9B}},
        {"write two registers",
         {0x11, 0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02, 0xC6, 0xF0}},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        const int Body = static_cast<int>(R.Frame.size() - 2);
        EXPECT_EQ(CalcCRC16(R.Frame.data(), Body), WireCrc(R.Frame));
        EXPECT_TRUE(CheckCRC16(R.Frame.data(), Body, WireCrc(R.Frame)));
    }
}

TEST(CRC16, CheckValueAndEmptyInput) {
    const std::string Digits = "123456789";
    // Standard check value 0x4B37, in wire order.
    EXPECT_EQ(CalcCRC16(reinterpret_cast<const uint8_t *>(Digits.data()), 9), 0x374B);
    EXPECT_EQ(CalcCRC16(nullptr, 0), 0xFFFF);
    EXPECT_EQ(CalcCRC16(reinterpret_cast<const uint8_t *>(Digits.data()), -3), 0xFFFF);
}

TEST(CRC16, TablesAgainstBitwiseDefinition) {
    // Every single-byte message exercises one entry of each table; compare
    // with the bit-serial definition of the same CRC.
    for (int x = 0; x < 256; ++x) {
        uint16_t Crc = 0xFFFF ^ static_cast<uint16_t>(x);
        for (int b = 0; b < 8; ++b) Crc = (Crc & 1) ? (Crc >> 1) ^ 0xA001 : Crc >> 1;
        const uint16_t Wire = static_cast<uint16_t>((Crc & 0xFF) << 8 | Crc >> 8);
        const uint8_t Byte = static_cast<uint8_t>(x);
        ASSERT_EQ(CalcCRC16(&Byte, 1), Wire) << "byte " << x;
    }
}

TEST(CRC16, DetectsSwappedAndChangedBytes) {
    const Bytes Frame = {0x01, 0x03, 0x02, 0x12, 0x34};
    const uint16_t Crc = CalcCRC16(Frame.data(), 5);
    ASSERT_NE(Crc >> 8, Crc & 0xFF);
    const uint16_t Swapped = static_cast<uint16_t>((Crc & 0xFF) << 8 | Crc >> 8);
    EXPECT_FALSE(CheckCRC16(Frame.data(), 5, Swapped));
    for (size_t i = 0; i < Frame.size(); ++i) {
        Bytes Changed = Frame;
        Changed[i] ^= 0x10;
        EXPECT_FALSE(CheckCRC16(Changed.data(), 5, Crc)) << "byte " << i;
    }
}

TEST(ModbusFrame, RequestsMatchWorkedFrames) {
    using namespace ModbusFrame;
    struct Row {
        const char *Name;
        TFrame Built;
        Bytes Expected;
    };
    const Row Rows[] = {
        {"read holding",
         BuildRequest(1, FnReadHoldingRegs, 0, 1),
         {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}},
        {"probe",
         BuildRequest(1, FnReadHoldingRegs, 10, 1),
         {0x01, 0x03, 0x00, 0x0A, 0x00, 0x01, 0xA4, 0x08}},
        {"write single",
         BuildRequest(0x11, FnWriteHoldingReg, 1, 3),
         {0x11, 0x06, 0x00, 0x01, 0x00, 0x03, 0x9A, 0x9B}},
        {"write multiple",
         BuildWriteMultiple(0x11, 1, {0x000A, 0x0102}),
         {0x11, 0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02, 0xC6, 0xF0}},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        EXPECT_EQ(R.Built, R.Expected);
    }
    // Fields are sent high byte first.
    const TFrame Inputs = BuildRequest(5, FnReadDiscreteInputs, 0x1234, 0x0A0B);
    EXPECT_EQ(Bytes(Inputs.begin(), Inputs.begin() + 6), (Bytes{5, 0x02, 0x12, 0x34, 0x0A, 0x0B}));
}

TEST(ModbusFrame, AnswerChecksInOrder) {
    using namespace ModbusFrame;
    auto Sealed = [](Bytes Body) {
        Seal(Body);
        return Body;
    };
    const Bytes Good = Sealed({0x05, 0x03, 0x02, 0x12, 0x34});
    Bytes BadCrc = Good;
    BadCrc.back() ^= 1;
    struct Row {
        const char *Name;
        Bytes Answer;
        bool Pass;         // CheckAnswer for device 5, function 3, 7 bytes
        bool StillPasses;  // CanStillPass on the whole answer
    };
    const Row Rows[] = {
        {"valid", Good, true, true},
        {"one byte short", Bytes(Good.begin(), Good.end() - 1), false, true},
        {"other device", Sealed({0x06, 0x03, 0x02, 0x12, 0x34}), false, false},
        {"exception answer", Sealed({0x05, 0x83, 0x02}), false, false},
        {"exception padded to 7 bytes", Sealed({0x05, 0x83, 0x02, 0x00, 0x00}), false, false},
        {"other function", Sealed({0x05, 0x04, 0x02, 0x12, 0x34}), false, false},
        {"crc", BadCrc, false, true},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        EXPECT_EQ(CheckAnswer(R.Answer.data(), R.Answer.size(), 7, 5, FnReadHoldingRegs), R.Pass);
        EXPECT_EQ(CanStillPass(R.Answer.data(), R.Answer.size(), 5, FnReadHoldingRegs),
                  R.StillPasses);
    }
    EXPECT_TRUE(CanStillPass(nullptr, 0, 5, FnReadHoldingRegs));
}

TEST(ModbusFrame, AnswerLengths) {
    using namespace ModbusFrame;
    EXPECT_EQ(ReadRegsAnswerLength(1), 7u);
    EXPECT_EQ(ReadRegsAnswerLength(128), 261u);
    EXPECT_EQ(ReadBitsAnswerLength(10), 7u);
    EXPECT_EQ(ReadBitsAnswerLength(8), 6u);
    EXPECT_EQ(ReadBitsAnswerLength(2040), 260u);
}

// What an answer PDU is, before its payload is read.
TEST(ModbusPdu, AnswerKinds) {
    using namespace ModbusPdu;
    struct Row {
        const char *Name;
        Bytes Pdu;
        TAnswerKind Kind;  // for function 3, 4 bytes expected
    };
    const Row Rows[] = {
        {"normal", {0x03, 0x02, 0x12, 0x34}, TAnswerKind::Normal},
        {"exception", {0x83, 0x02}, TAnswerKind::Exception},
        {"exception of another function", {0x84, 0x02}, TAnswerKind::Malformed},
        {"exception padded", {0x83, 0x02, 0x00, 0x00}, TAnswerKind::Malformed},
        {"other function", {0x04, 0x02, 0x12, 0x34}, TAnswerKind::Malformed},
        {"one byte short", {0x03, 0x02, 0x12}, TAnswerKind::Malformed},
        {"one byte long", {0x03, 0x02, 0x12, 0x34, 0x00}, TAnswerKind::Malformed},
        {"empty", {}, TAnswerKind::Malformed},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        EXPECT_EQ(CheckAnswer(R.Pdu.data(), R.Pdu.size(), 4, FnReadHoldingRegs), R.Kind);
        if (R.Kind == TAnswerKind::Exception) {
            EXPECT_EQ(ExceptionCode(R.Pdu.data()), 0x02);
        }
    }
    EXPECT_EQ(BuildRequest(FnReadHoldingRegs, 0x1234, 0x0A0B),
              (TPdu{0x03, 0x12, 0x34, 0x0A, 0x0B}));
    EXPECT_EQ(BuildWriteMultiple(1, {0x000A, 0x0102}),
              (TPdu{0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02}));
}

// The payload of a checked answer: the byte count must describe exactly the
// quantity asked for, or nothing is taken. The answers are written as RTU
// frames; the PDU is what lies between address and CRC.
TEST(ModbusPdu, AnswerPayloads) {
    using namespace ModbusPdu;
    auto Pdu = [](const Bytes &Frame) { return Frame.data() + 1; };
    auto Count = [](const Bytes &Frame) { return Frame.size() - ModbusFrame::Overhead; };
    const Bytes Regs2 = {0x05, 0x03, 0x04, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x00};
    TModbusRegisters Regs(2, 0x5A5A);
    EXPECT_TRUE(ParseReadRegs(Pdu(Regs2), Count(Regs2), Regs));
    EXPECT_EQ(Regs, (TModbusRegisters{0x1234, 0xABCD}));
    struct RegRow {
        const char *Name;
        Bytes Answer;
        size_t Quantity;
    };
    const RegRow BadRegs[] = {
        {"count says one register", {0x05, 0x03, 0x02, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x00}, 2},
        {"count says three registers", {0x05, 0x03, 0x06, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x00}, 2},
        {"answer one register short", {0x05, 0x03, 0x04, 0x12, 0x34, 0x00, 0x00}, 2},
        // 128 registers would need a count of 256: it never fits a byte.
        {"count wraps", Bytes(2 * 128 + 5, 0x00), 128},
    };
    for (const RegRow &R : BadRegs) {
        SCOPED_TRACE(R.Name);
        TModbusRegisters Out(R.Quantity, 0x5A5A);
        EXPECT_FALSE(ParseReadRegs(Pdu(R.Answer), Count(R.Answer), Out));
        EXPECT_EQ(Out, TModbusRegisters(R.Quantity, 0x5A5A));
    }

    // Bit k is bit k mod 8 of data byte k / 8, least significant first.
    const Bytes Bits10 = {0x05, 0x02, 0x02, 0b10100101, 0b00000010, 0x00, 0x00};
    TModbusBits Bits(10, false);
    EXPECT_TRUE(ParseReadBits(Pdu(Bits10), Count(Bits10), Bits));
    EXPECT_EQ(Bits, (TModbusBits{true, false, true, false, false, true, false, true, false, true}));
    TModbusBits Seventeen(17, true);
    EXPECT_FALSE(ParseReadBits(Pdu(Bits10), Count(Bits10), Seventeen))
        << "two data bytes for three";
    EXPECT_EQ(Seventeen, TModbusBits(17, true));
    const Bytes WrongCount = {0x05, 0x02, 0x01, 0xFF, 0x02, 0x00, 0x00};
    TModbusBits Ten(10, false);
    EXPECT_FALSE(ParseReadBits(Pdu(WrongCount), Count(WrongCount), Ten));
    EXPECT_EQ(Ten, TModbusBits(10, false));

    const Bytes Echo = {0x05, 0x06, 0x00, 0x07, 0x01, 0x2C, 0x00, 0x00};
    EXPECT_TRUE(CheckWriteEcho(Pdu(Echo), Count(Echo), 7, 300));
    EXPECT_FALSE(CheckWriteEcho(Pdu(Echo), Count(Echo), 7, 301));
    EXPECT_FALSE(CheckWriteEcho(Pdu(Echo), Count(Echo), 0x0700, 300));
    EXPECT_FALSE(CheckWriteEcho(Pdu(Echo), Count(Echo) - 1, 7, 300));
}

}  // namespace
