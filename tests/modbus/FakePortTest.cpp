// The master's use of its port where a pseudo-terminal cannot show it: a
// short write, the number of bytes asked of Read, and errors while opening.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "ScriptedLink.h"
#include "modbus/ModbusFrame.h"
#include "modbus/ModbusRTU.h"
#include "modbus/ModbusTcp.h"

namespace {

// A master on a scripted line whose answer bytes are all waiting as soon
// as the request is written.
struct Fixture {
    std::unique_ptr<TScriptedLink> Own;
    TScriptedLink *Port;
    std::unique_ptr<TModbusRTU> Master;
    std::vector<uint8_t> Answer;
};

Fixture Make() {
    auto Port = std::make_unique<TScriptedLink>();
    TScriptedLink *Raw = Port.get();
    Fixture F{std::move(Port), Raw, std::make_unique<TModbusRTU>(*Raw, 5), {}};
    F.Master->SetClock(*Raw);
    TPortParams P;
    P.Timeout = 5000;
    EXPECT_TRUE(F.Master->Open("fake", P));
    return F;
}

void AnswerWith(Fixture &F, const std::vector<uint8_t> &Answer) {
    F.Port->Responder = [Answer](const std::vector<uint8_t> &) {
        return std::vector<TChunk>{{0, Answer}};
    };
}

TEST(MasterOnFakePort, ShortWriteFailsWithoutWaiting) {
    Fixture F = Make();
    F.Port->ShortWrite = 1;
    TModbusRegisters Regs = {9};
    EXPECT_FALSE(F.Master->ReadHoldingRegs(0, Regs));
    EXPECT_FALSE(F.Master->WriteHoldingReg(0, 1));
    EXPECT_FALSE(F.Master->Scan(10));
    EXPECT_EQ(F.Port->Waits, 0);
    EXPECT_EQ(Regs, TModbusRegisters{9});
}

TEST(MasterOnFakePort, ReadsNoMoreThanTheAnswer) {
    Fixture F = Make();
    TFrame Answer = {5, 0x03, 0x02, 0x12, 0x34};
    ModbusFrame::Seal(Answer);
    TFrame Sent = Answer;
    Sent.insert(Sent.end(), {0xEE, 0xEE, 0xEE});  // trailing noise
    AnswerWith(F, Sent);
    TModbusRegisters Regs(1);
    EXPECT_TRUE(F.Master->ReadHoldingRegs(0, Regs));
    EXPECT_EQ(Regs, TModbusRegisters{0x1234});
    EXPECT_EQ(F.Port->MaxReadAsked, 7);
    EXPECT_EQ(F.Port->Pending(), 3u);  // left for the next purge
}

// Back to back, a purge is left out only where it could find nothing: the
// last answer was whole with nothing behind it, and the next request
// follows at once. Whatever the case, every read gets its own answer.
TEST(MasterOnFakePort, BackToBackLeavesOutOnlyPurgesThatFindNothing) {
    auto Seal = [](TFrame Frame) {
        ModbusFrame::Seal(Frame);
        return Frame;
    };
    const TFrame Answer = Seal({5, 0x03, 0x02, 0x12, 0x34});
    const TFrame Stale = Seal({5, 0x03, 0x02, 0x66, 0x66});
    TFrame WithJunk = Answer;
    WithJunk.insert(WithJunk.end(), {0xEE, 0xEE, 0xEE});
    const TFrame Refusal = Seal({5, 0x83, 0x02});
    struct TCase {
        const char *Name;
        bool BackToBack;
        std::vector<TFrame> Answers;  // per request; empty: silence
        bool StaleAfterFirst;         // a stale answer waits before the second request
        uint64_t PauseMs;             // between the requests
        std::vector<bool> Ok;
        std::vector<size_t> ClearedAt;  // requests written before each purge
    };
    const TCase Cases[] = {
        {"off: every exchange purges",
         false,
         {Answer, Answer, Answer},
         false,
         0,
         {true, true, true},
         {0, 1, 2}},
        {"quiet answers back to back",
         true,
         {Answer, Answer, Answer},
         false,
         0,
         {true, true, true},
         {0}},
        {"bytes behind an answer",
         true,
         {WithJunk, Answer, Answer},
         false,
         0,
         {true, true, true},
         {0, 1}},
        {"a pause longer than a frame's silence",
         true,
         {Answer, Answer},
         false,
         2,
         {true, true},
         {0, 1}},
        {"after silence, a stale answer waiting",
         true,
         {{}, Answer, Answer},
         true,
         0,
         {false, true, true},
         {0, 1}},
        {"after a refusal", true, {Refusal, Answer, Answer}, false, 0, {false, true, true}, {0, 1}},
    };
    for (const TCase &C : Cases) {
        SCOPED_TRACE(C.Name);
        Fixture F = Make();
        F.Master->SetBackToBack(C.BackToBack);
        size_t Next = 0;
        F.Port->Responder = [&](const std::vector<uint8_t> &) {
            const TFrame &A = C.Answers[Next++];
            return A.empty() ? std::vector<TChunk>{} : std::vector<TChunk>{{0, A}};
        };
        for (size_t I = 0; I < C.Answers.size(); ++I) {
            if (I == 1 && C.StaleAfterFirst) F.Port->Schedule(0, Stale);
            if (I > 0) F.Port->Advance(C.PauseMs);
            TModbusRegisters Regs(1);
            EXPECT_EQ(F.Master->ReadHoldingRegs(0, Regs), C.Ok[I]) << "read " << I;
            if (C.Ok[I]) {
                EXPECT_EQ(Regs, TModbusRegisters{0x1234}) << "read " << I;
            }
        }
        EXPECT_EQ(F.Port->ClearedAt, C.ClearedAt);
    }
}

// The hook runs once per exchange, after the request went out and before
// the wait for its answer.
TEST(MasterOnFakePort, OnRequestSentComesBetweenRequestAndWait) {
    Fixture F = Make();
    TFrame Answer = {5, 0x03, 0x02, 0x12, 0x34};
    ModbusFrame::Seal(Answer);
    AnswerWith(F, Answer);
    std::vector<std::pair<size_t, int>> Seen;  // requests written, waits so far
    F.Master->SetOnRequestSent([&] { Seen.emplace_back(F.Port->Sent.size(), F.Port->Waits); });
    TModbusRegisters Regs(1);
    EXPECT_TRUE(F.Master->ReadHoldingRegs(0, Regs));
    EXPECT_FALSE(F.Master->WriteHoldingReg(0, 1));  // the read's answer is no echo
    EXPECT_TRUE(F.Master->ReadHoldingRegs(0, Regs));
    EXPECT_EQ(Seen, (std::vector<std::pair<size_t, int>>{{1, 0}, {2, 1}, {3, 2}}));
    F.Master->SetOnRequestSent({});
    EXPECT_TRUE(F.Master->ReadHoldingRegs(0, Regs));
    EXPECT_EQ(Seen.size(), 3u);
}

TEST(MasterOnFakePort, OpenSwallowsPortErrors) {
    auto Port = std::make_unique<TScriptedLink>();
    TScriptedLink *Raw = Port.get();
    TModbusRTU M(*Port, 1);
    Raw->FailOpen = true;
    TPortParams P;
    EXPECT_FALSE(M.Open("fake", P));
    EXPECT_FALSE(Raw->Connected());
    // A negative time-out does not turn into an endless wait.
    Raw->FailOpen = false;
    P.Timeout = -1;
    EXPECT_TRUE(M.Open("fake", P));
    EXPECT_EQ(M.Timeout(), 0u);
    // Empty arrays need no traffic at all.
    TModbusRegisters None;
    TModbusBits NoBits;
    EXPECT_TRUE(M.ReadHoldingRegs(1, None));
    EXPECT_TRUE(M.ReadDiscreteInputs(1, NoBits));
    EXPECT_TRUE(M.WriteHoldingRegs(1, None));
    EXPECT_EQ(Raw->Sent.size(), 0u);
}

// One master serves every address: each request carries its own device,
// and only an answer from that device is taken.
TEST(MasterOnFakePort, DeviceAddressComesWithEachRequest) {
    struct TRow {
        const char *Name;
        uint8_t Asked;      // device the request goes to
        uint8_t Answering;  // device in the answer
        bool Ok;
    };
    const TRow Rows[] = {
        {"the device asked", 17, 17, true},
        {"the default address answers instead", 17, 5, false},
        {"another device answers", 17, 18, false},
        {"the default address asked", 5, 5, true},
        {"the highest address", 247, 247, true},
    };
    Fixture F = Make();
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Name);
        TFrame Answer = {R.Answering, 0x03, 0x02, 0x12, 0x34};
        ModbusFrame::Seal(Answer);
        AnswerWith(F, Answer);
        TModbusRegisters Regs = {9};
        EXPECT_EQ(F.Master->ReadHoldingRegs(R.Asked, 7, Regs), R.Ok);
        EXPECT_EQ(Regs, R.Ok ? TModbusRegisters{0x1234} : TModbusRegisters{9});
        EXPECT_EQ(F.Port->Sent.back(), ModbusFrame::BuildRequest(R.Asked, 0x03, 7, 1));

        TFrame Echo = {R.Answering, 0x06, 0x00, 0x07, 0x00, 0x2A};
        ModbusFrame::Seal(Echo);
        AnswerWith(F, Echo);
        EXPECT_EQ(F.Master->WriteHoldingReg(R.Asked, 7, 42), R.Ok);
        EXPECT_EQ(F.Port->Sent.back(), ModbusFrame::BuildRequest(R.Asked, 0x06, 7, 42));
        // The presence probe takes any seven bytes, but asks the right device.
        AnswerWith(F, TFrame(7, 0));
        EXPECT_TRUE(F.Master->Scan(R.Asked, 10));
        EXPECT_EQ(F.Port->Sent.back(), ModbusFrame::BuildRequest(R.Asked, 0x03, 10, 1));
    }
    EXPECT_EQ(F.Master->DeviceAddr(), 5);
}

// The same master with the TCP framing: MBAP header out, and only the
// answer with the request's transaction id, protocol 0 and the unit asked
// is taken; whatever else comes is dropped without ending the wait.
TEST(MasterOnFakePort, ModbusTcpFraming) {
    using TBytes = std::vector<uint8_t>;
    // An answer ADU: transaction id, protocol, length, then unit and PDU.
    auto Adu = [](uint16_t Id, uint16_t Protocol, uint8_t Unit, const TBytes &Pdu) {
        const size_t Len = Pdu.size() + 1;
        TBytes A = {static_cast<uint8_t>(Id >> 8),
                    static_cast<uint8_t>(Id),
                    static_cast<uint8_t>(Protocol >> 8),
                    static_cast<uint8_t>(Protocol),
                    static_cast<uint8_t>(Len >> 8),
                    static_cast<uint8_t>(Len),
                    Unit};
        A.insert(A.end(), Pdu.begin(), Pdu.end());
        return A;
    };
    const TBytes Regs = {0x03, 0x02, 0x12, 0x34};
    const TBytes Whole = Adu(1, 0, 17, Regs);
    struct TRow {
        const char *Name;
        std::vector<TChunk> Answer;  // the request is transaction 1
        bool Ok;
    };
    const TRow Rows[] = {
        {"the answer", {{0, Adu(1, 0, 17, Regs)}}, true},
        {"in pieces, header split",
         {{0, TBytes(Whole.begin(), Whole.begin() + 3)},
          {100, TBytes(Whole.begin() + 3, Whole.end())}},
         true},
        {"an old answer first",
         {{0, Adu(0, 0, 17, {0x03, 0x02, 0, 0})}, {10, Adu(1, 0, 17, Regs)}},
         true},
        // A header with an impossible length is given up on its own.
        {"garbage length first",
         {{0, {0x00, 0x01, 0x00, 0x00, 0x7F, 0xFF}}, {10, Adu(1, 0, 17, Regs)}},
         true},
        {"another protocol", {{0, Adu(1, 1, 17, Regs)}}, false},
        {"another unit", {{0, Adu(1, 0, 18, Regs)}}, false},
        {"exception answer", {{0, Adu(1, 0, 17, {0x83, 0x02})}}, false},
        {"one byte short", {{0, Adu(1, 0, 17, {0x03, 0x02, 0x12})}}, false},
        {"silence", {}, false},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Name);
        auto Port = std::make_unique<TScriptedLink>();
        TScriptedLink *Raw = Port.get();
        TModbusRTU M(*Port, 1);
        M.SetClock(*Raw);
        M.SetFraming(TModbusFramingKind::Tcp);
        TPortParams P;
        P.Timeout = 1000;
        ASSERT_TRUE(M.Open("fake", P));
        const std::vector<TChunk> Answer = R.Answer;
        Raw->Responder = [Answer](const std::vector<uint8_t> &) { return Answer; };
        TModbusRegisters Out = {9};
        const uint64_t Start = Raw->Now();
        EXPECT_EQ(M.ReadHoldingRegs(17, 7, Out), R.Ok);
        EXPECT_EQ(Out, R.Ok ? TModbusRegisters{0x1234} : TModbusRegisters{9});
        ASSERT_EQ(Raw->Sent.size(), 1u);
        EXPECT_EQ(Raw->Sent[0],
                  (TBytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 17, 0x03, 0x00, 0x07, 0x00, 0x01}));
        EXPECT_LE(Raw->Now() - Start, 2000u) << "ends by its deadline";
    }
    // Each request has the next transaction id, and the probe takes any
    // answer of its length from it.
    auto Port = std::make_unique<TScriptedLink>();
    TScriptedLink *Raw = Port.get();
    TModbusRTU M(*Port, 1);
    M.SetClock(*Raw);
    M.SetFraming(TModbusFramingKind::Tcp);
    ASSERT_TRUE(M.Open("fake", TPortParams{}));
    uint16_t Id = 0;
    Raw->Responder = [&Id, Adu](const std::vector<uint8_t> &Request) {
        Id = static_cast<uint16_t>(Request[0] << 8 | Request[1]);
        return std::vector<TChunk>{{0, Adu(Id, 0, 99, {0, 0, 0, 0})}};
    };
    for (uint16_t I = 1; I <= 3; ++I) {
        EXPECT_TRUE(M.Scan(5, 10));
        EXPECT_EQ(Id, I);
    }
}

}  // namespace
