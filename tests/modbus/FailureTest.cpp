// Why the master says an operation failed (LastFailure), for every kind of
// answer a line can bring: table rows on a scripted line and its virtual
// clock, RTU and Modbus TCP.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedLink.h"
#include "modbus/ModbusFrame.h"
#include "modbus/ModbusRTU.h"

namespace {

constexpr uint8_t Dev = 5;
constexpr uint32_t TimeoutMs = 500;

// The operations of a row: each asks device 5 once.
enum class TOp { ReadRegs, ReadBits, WriteOne, WriteMany };

bool Perform(TModbusRTU &M, TOp Op) {
    switch (Op) {
        case TOp::ReadRegs: {
            TModbusRegisters Regs(1);
            return M.ReadHoldingRegs(Dev, 0, Regs);
        }
        case TOp::ReadBits: {
            TModbusBits Bits(4);
            return M.ReadDiscreteInputs(Dev, 0, Bits);
        }
        case TOp::WriteOne:
            return M.WriteHoldingReg(Dev, 0, 1);
        case TOp::WriteMany:
            return M.WriteHoldingRegs(Dev, 0, TModbusRegisters{1, 2});
    }
    return false;
}

TFrame Sealed(TFrame F) {
    ModbusFrame::Seal(F);
    return F;
}
TFrame Spoiled(TFrame F) {
    F.back() ^= 0x01;
    return F;
}

struct TRow {
    const char *Name;
    TOp Op;
    TFrame Answer;  // RTU frame, all bytes at once; empty: silence
    TModbusFailure Kind;
    uint8_t Code = 0;
    // The master ends before the time-out (it has seen all it needs).
    bool Early = true;
};

struct Fixture {
    std::unique_ptr<TScriptedLink> Port = std::make_unique<TScriptedLink>();
    std::unique_ptr<TModbusRTU> Master;
    explicit Fixture(TModbusFramingKind Framing = TModbusFramingKind::Rtu) {
        Master = std::make_unique<TModbusRTU>(*Port, 1, Framing);
        Master->SetClock(*Port);
        TPortParams P;
        P.Timeout = static_cast<int>(TimeoutMs);
        EXPECT_TRUE(Master->Open("fake", P));
    }
    void AnswerWith(const std::vector<uint8_t> &Answer) {
        Port->Responder = [Answer](const std::vector<uint8_t> &) {
            if (Answer.empty()) return std::vector<TChunk>{};
            return std::vector<TChunk>{{2, Answer}};
        };
    }
};

std::vector<TRow> RtuRows() {
    using K = TModbusFailure;
    std::vector<TRow> Rows = {
        {"silence", TOp::ReadRegs, {}, K::NoAnswer, 0, false},
        {"silence on a write", TOp::WriteOne, {}, K::NoAnswer, 0, false},
        {"damaged answer", TOp::ReadRegs, Spoiled(Sealed({Dev, 3, 2, 0x12, 0x34})), K::BadCrc},
        {"damaged bit answer", TOp::ReadBits, Spoiled(Sealed({Dev, 2, 1, 0x0D})), K::BadCrc},
        {"damaged echo", TOp::WriteOne, Spoiled(Sealed({Dev, 6, 0, 0, 0, 1})), K::BadCrc},
        {"another device", TOp::ReadRegs, Sealed({6, 3, 2, 0x12, 0x34}), K::WrongAddress},
        {"another function", TOp::ReadRegs, Sealed({Dev, 4, 2, 0x12, 0x34}), K::WrongFunction},
        {"exception of another function", TOp::ReadRegs, Sealed({Dev, 0x84, 2}), K::WrongFunction},
        {"too short: one register less", TOp::ReadRegs, Sealed({Dev, 3, 0}), K::WrongLength, 0,
         false},
        {"byte count of two registers", TOp::ReadRegs, Sealed({Dev, 3, 4, 0x12, 0x34}),
         K::WrongLength},
        {"bits: byte count of two bytes", TOp::ReadBits, Sealed({Dev, 2, 2, 0x0D}), K::WrongLength},
        {"exception cut short", TOp::ReadRegs, {Dev, 0x83, 2}, K::WrongLength, 0, false},
        {"damaged exception", TOp::ReadRegs, Spoiled(Sealed({Dev, 0x83, 2})), K::BadCrc},
        {"echo of another value", TOp::WriteOne, Sealed({Dev, 6, 0, 0, 0, 2}), K::WrongEcho},
        {"echo of another register", TOp::WriteOne, Sealed({Dev, 6, 0, 1, 0, 1}), K::WrongEcho},
        {"echo of another count", TOp::WriteMany, Sealed({Dev, 0x10, 0, 0, 0, 3}), K::WrongEcho},
    };
    for (const uint8_t Code : {1, 2, 3, 4, 5, 6, 8, 10, 11, 7, 0x0C, 0xFF})
        Rows.push_back({"exception", TOp::ReadRegs, Sealed({Dev, 0x83, Code}), K::Exception, Code});
    Rows.push_back(
        {"exception to a write", TOp::WriteOne, Sealed({Dev, 0x86, 4}), K::Exception, 4});
    Rows.push_back(
        {"exception to a bit read", TOp::ReadBits, Sealed({Dev, 0x82, 2}), K::Exception, 2});
    Rows.push_back(
        {"exception to write many", TOp::WriteMany, Sealed({Dev, 0x90, 3}), K::Exception, 3});
    return Rows;
}

void Expect(const TRow &Row, Fixture &F) {
    const uint64_t Start = F.Port->Clock;
    EXPECT_FALSE(Perform(*F.Master, Row.Op));
    EXPECT_EQ(F.Master->LastFailure().Kind, Row.Kind);
    EXPECT_EQ(F.Master->LastFailure().ExceptionCode, Row.Code);
    const uint64_t Took = F.Port->Clock - Start;
    if (Row.Early)
        EXPECT_LT(Took, TimeoutMs) << "waited for the time-out";
    else
        EXPECT_GE(Took, TimeoutMs);
}

}  // namespace

TEST(MasterFailure, RtuAnswersSayWhy) {
    for (const TRow &Row : RtuRows()) {
        SCOPED_TRACE(testing::Message() << Row.Name << " " << int(Row.Code));
        Fixture F;
        F.AnswerWith(Row.Answer);
        Expect(Row, F);
        // A success afterwards clears the reason.
        F.AnswerWith(Sealed({Dev, 6, 0, 0, 0, 1}));
        EXPECT_TRUE(F.Master->WriteHoldingReg(Dev, 0, 1));
        EXPECT_EQ(F.Master->LastFailure(), TModbusFailureInfo{});
    }
}

// An exception answer is read whole: the code comes from its third byte,
// even when the bytes trickle in.
TEST(MasterFailure, ExceptionReadByteByByte) {
    Fixture F;
    const TFrame Answer = Sealed({Dev, 0x83, 6});
    F.Port->Responder = [Answer](const std::vector<uint8_t> &) {
        std::vector<TChunk> Chunks;
        for (size_t I = 0; I < Answer.size(); ++I) Chunks.push_back({2 + 3 * I, {Answer[I]}});
        return Chunks;
    };
    TModbusRegisters Regs = {7};
    EXPECT_FALSE(F.Master->ReadHoldingRegs(Dev, 0, Regs));
    EXPECT_EQ(Regs, TModbusRegisters{7});
    EXPECT_EQ(F.Master->LastFailure(), (TModbusFailureInfo{TModbusFailure::Exception, 6}));
    EXPECT_EQ(F.Port->Pending(), 0u);
}

TEST(MasterFailure, RequestsThatAreNotSentAndProbes) {
    Fixture F;
    EXPECT_FALSE(F.Master->WriteHoldingRegs(Dev, 0, TModbusRegisters(128, 0)));
    EXPECT_EQ(F.Master->LastFailure().Kind, TModbusFailure::TooLong);
    EXPECT_TRUE(F.Port->Sent.empty());
    TModbusRegisters None;
    EXPECT_TRUE(F.Master->ReadHoldingRegs(Dev, 0, None));
    EXPECT_EQ(F.Master->LastFailure().Kind, TModbusFailure::None);

    // The presence probe: silence, or fewer bytes than an answer.
    EXPECT_FALSE(F.Master->Scan(Dev, 0));
    EXPECT_EQ(F.Master->LastFailure().Kind, TModbusFailure::NoAnswer);
    F.AnswerWith({Dev, 3});
    EXPECT_FALSE(F.Master->Scan(Dev, 0));
    EXPECT_EQ(F.Master->LastFailure().Kind, TModbusFailure::WrongLength);
    F.AnswerWith({1, 2, 3, 4, 5, 6, 7});
    EXPECT_TRUE(F.Master->Scan(Dev, 0));
    EXPECT_EQ(F.Master->LastFailure().Kind, TModbusFailure::None);
}

// The same reasons through a gateway: the MBAP header replaces address and
// CRC (no damaged answers there; the unit identifier is the address).
TEST(MasterFailure, ModbusTcpAnswersSayWhy) {
    using K = TModbusFailure;
    // Transaction 1 (each row has a fresh master), protocol 0.
    auto Adu = [](uint8_t Unit, std::vector<uint8_t> Pdu) {
        std::vector<uint8_t> A = {0, 1, 0, 0, 0, static_cast<uint8_t>(Pdu.size() + 1), Unit};
        A.insert(A.end(), Pdu.begin(), Pdu.end());
        return A;
    };
    const std::vector<uint8_t> Partial = {0, 1, 0, 0, 0, 5, Dev, 3};
    const struct {
        const char *Name;
        TOp Op;
        std::vector<uint8_t> Answer;
        TModbusFailure Kind;
        uint8_t Code;
    } Rows[] = {
        {"silence", TOp::ReadRegs, {}, K::NoAnswer, 0},
        {"another unit", TOp::ReadRegs, Adu(6, {3, 2, 0x12, 0x34}), K::WrongAddress, 0},
        {"another function", TOp::ReadRegs, Adu(Dev, {4, 2, 0x12, 0x34}), K::WrongFunction, 0},
        {"one register too many", TOp::ReadRegs, Adu(Dev, {3, 4, 0, 1, 0, 2}), K::WrongLength, 0},
        {"cut short", TOp::ReadRegs, Partial, K::WrongLength, 0},
        {"echo of another value", TOp::WriteOne, Adu(Dev, {6, 0, 0, 0, 2}), K::WrongEcho, 0},
        {"gateway path unavailable", TOp::ReadRegs, Adu(Dev, {0x83, 10}), K::Exception, 10},
        {"gateway target silent", TOp::WriteOne, Adu(Dev, {0x86, 11}), K::Exception, 11},
    };
    for (const auto &Row : Rows) {
        SCOPED_TRACE(Row.Name);
        Fixture F(TModbusFramingKind::Tcp);
        F.AnswerWith(Row.Answer);
        EXPECT_FALSE(Perform(*F.Master, Row.Op));
        EXPECT_EQ(F.Master->LastFailure(), (TModbusFailureInfo{Row.Kind, Row.Code}));
    }
}
