// Link and upload logic over a fake port and a fake clock: runs instantly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>

#include "CodFixtures.h"
#include "ScriptedLink.h"
#include "TempDir.h"
#include "bootloader/CRC8.h"
#include "bootloader/XComm.h"

namespace {

const TByteArray KIdentRequest{0xF5, 0x05, 0x0C, 0x00, 0x00, 0x3A};
const TByteArray KIdent16Request{0xF5, 0x05, 0x0B, 0x00, 0x00, 0x40};
const TByteArray KIdentReply{0xF5, 0x06, 0x8C, 0x02, 0x05, 0x11, 0x24};  // 2.05, sensor 17

// A reply packet as a bootloader sends it.
TByteArray MakeReply(uint8_t Command, const TByteArray &Payload) {
    TByteArray R;
    R.reserve(Payload.size() + 4);
    R.push_back(0xF5);
    R.push_back(static_cast<uint8_t>(Payload.size() + 3));
    R.push_back(static_cast<uint8_t>(Command | 0x80));
    for (uint8_t B : Payload) R.push_back(B);
    R.push_back(CalcCRC8(R, 1, R.size() - 1));
    return R;
}

// A link on a scripted line whose clock also drives the link's deadlines
// and pauses.
struct TFakeLink {
    std::unique_ptr<TScriptedLink> Own = std::make_unique<TScriptedLink>();
    TScriptedLink *Port = Own.get();
    TXComm Link;
    std::vector<uint32_t> &Pauses;

    TFakeLink() : Link(*Port), Pauses(Port->Pauses) { Link.SetClock(*Port); }
    // Opens the line directly, at a given rate, without identification.
    void OpenAt(TBaudRate Rate) { ASSERT_FALSE(Port->Open(LinkAt(Rate)).has_value()); }
    size_t Sent() const { return Port->Sent.size(); }
};

// ---------------------------------------------------------------------------
// Transaction

TByteArray Cat(TByteArray A, const TByteArray &B) {
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

TEST(Transact, ReplyTimingAndValidation) {
    const TByteArray Noise{0x00, 0x13, 0xFF};
    struct Row {
        const char *Name;
        std::vector<TChunk> Answer;
        bool Ok;
        uint64_t MinElapsed, MaxElapsed;  // fake milliseconds from write to return
    };
    TByteArray NoBit7 = KIdentReply;
    NoBit7[2] = 0x0C;
    NoBit7.back() = CalcCRC8(NoBit7, 1, NoBit7.size() - 2);
    TByteArray BadCrc = KIdentReply;
    BadCrc.back() ^= 0x01;
    const TByteArray Head(KIdentReply.begin(), KIdentReply.begin() + 3);
    const TByteArray Tail(KIdentReply.begin() + 3, KIdentReply.end());
    const Row Rows[] = {
        {"immediate reply", {{0, KIdentReply}}, true, 0, 0},
        {"reply after 999 ms", {{999, KIdentReply}}, true, 999, 999},
        {"no reply", {}, false, 1000, 1002},
        {"reply after the time-out", {{1200, KIdentReply}}, false, 1000, 1002},
        {"noise before the reply", {{0, Noise}, {0, KIdentReply}}, true, 0, 0},
        {"noise keeps restarting the time-out",
         {{300, {0x11}}, {600, {0x22}}, {900, {0x33}}, {1200, KIdentReply}},
         true,
         1200,
         1200},
        {"gaps inside the reply below the time-out", {{0, Head}, {900, Tail}}, true, 900, 900},
        {"gap inside the reply above the time-out", {{0, Head}, {1100, Tail}}, false, 1000, 1002},
        {"ends as soon as the length is in", {{0, KIdentReply}, {5000, {0x55, 0x66}}}, true, 0, 0},
        // Read in one go with the reply, and not part of it.
        {"bytes right after the reply", {{0, Cat(KIdentReply, {0xF5, 0x05, 0x00})}}, true, 0, 0},
        // A length below 3 cannot be a reply: the exchange ends at once.
        {"length byte 0", {{0, {0xF5, 0x00, 0x8C, 0x01}}}, false, 0, 0},
        {"length byte 0 after a while",
         {{300, {0xF5}}, {400, {0x00}}, {400, TByteArray(5000, 0)}},
         false,
         400,
         400},
        {"length byte 2", {{0, {0xF5, 0x02, 0x8C, 0x01}}}, false, 0, 0},
        {"command without bit 7", {{0, NoBit7}}, false, 0, 0},
        {"wrong CRC", {{0, BadCrc}}, false, 0, 0},
        {"truncated reply",
         {{0, TByteArray(KIdentReply.begin(), KIdentReply.end() - 1)}},
         false,
         1000,
         1002},
    };
    for (const auto &R : Rows) {
        TFakeLink L;
        L.OpenAt(br19200);
        L.Port->Responder = [&](const TByteArray &) { return R.Answer; };
        const uint64_t T0 = L.Port->Clock;
        TByteArray Reply{0x99};
        EXPECT_EQ(L.Link.Transact(KIdentRequest, Reply, 1000), R.Ok) << R.Name;
        const uint64_t Elapsed = L.Port->Clock - T0;
        EXPECT_GE(Elapsed, R.MinElapsed) << R.Name;
        EXPECT_LE(Elapsed, R.MaxElapsed) << R.Name;
        if (R.Ok) {
            EXPECT_EQ(Reply, (TByteArray{2, 5, 17})) << R.Name;
        }
        EXPECT_EQ(L.Port->Sent, std::vector<TByteArray>{KIdentRequest}) << R.Name;
    }
}

// A line that never falls silent: bytes every Step ms for 20 s, none of
// which completes a reply.
std::vector<TChunk> Trickle(uint64_t Step, const TByteArray &First, const TByteArray &Each) {
    std::vector<TChunk> Out{{0, First}};
    for (uint64_t T = Step; T <= 20000; T += Step) Out.push_back({T, Each});
    return Out;
}

TEST(Transact, EveryExchangeEndsOnALineThatNeverFallsSilent) {
    TByteArray Stream(40, 0x00);
    const struct Row {
        const char *Name;
        TBaudRate Rate;
        std::vector<TChunk> Answer;
    } Rows[] = {
        {"noise every 50 ms", br19200, Trickle(50, {0x11}, {0x11})},
        {"noise every 450 ms", br19200, Trickle(450, {0x22}, {0x22})},
        {"start bytes alone every 300 ms", br19200, Trickle(300, {0xF5}, {0xF5})},
        {"a stream of noise", br57600, Trickle(1, {0x00}, Stream)},
        {"a long reply that never ends", br57600, Trickle(200, {0xF5, 0xFF, 0x8C}, {0x01})},
    };
    for (const Row &R : Rows) {
        TFakeLink L;
        L.OpenAt(R.Rate);
        L.Port->Responder = [&](const TByteArray &) { return R.Answer; };
        const uint64_t T0 = L.Port->Clock;
        TByteArray Reply;
        EXPECT_FALSE(L.Link.Transact(KIdentRequest, Reply, 1000)) << R.Name;
        const uint64_t Elapsed = L.Port->Clock - T0;
        // The time-out plus twice the longest reply's line time and a margin.
        const uint64_t Bound = 1000 + L.Link.ReplyAllowance();
        EXPECT_LE(Elapsed, Bound + 2) << R.Name;
        EXPECT_GE(Elapsed, 1000u) << R.Name;
        EXPECT_LE(Reply.size(), CMaxReplyBytes) << R.Name;
    }
    // The allowance follows the rate: the longest reply at 11 bits a byte.
    TFakeLink L;
    L.OpenAt(br19200);
    EXPECT_EQ(L.Link.ReplyAllowance(), 2 * (257 * 11 * 1000 / 19200) + CReplyMarginMs);
    L.Port->Close();
    L.OpenAt(br57600);
    EXPECT_EQ(L.Link.ReplyAllowance(), 2 * (257 * 11 * 1000 / 57600) + CReplyMarginMs);
}

TEST(Transact, ShortWriteFailsWithoutWaiting) {
    TFakeLink L;
    L.OpenAt(br19200);
    L.Port->ShortWrite = 1;
    const uint64_t T0 = L.Port->Clock;
    TByteArray Reply;
    EXPECT_FALSE(L.Link.Transact(KIdentRequest, Reply, 1000));
    EXPECT_EQ(L.Port->Clock, T0);
    EXPECT_EQ(L.Port->FirstWait, std::vector<int>{-1});
}

TEST(Transact, PortErrorsReachTheCaller) {
    TFakeLink L;
    L.OpenAt(br19200);
    L.Port->DisconnectAtWrite = 1;
    TByteArray Reply;
    try {
        L.Link.Transact(KIdentRequest, Reply, 1000);
        FAIL() << "no error";
    } catch (const EComPort &E) {
        EXPECT_EQ(E.Code(), CError_Disconnected);
        EXPECT_STREQ(E.what(), "Port Disconnected");
    }
    EXPECT_FALSE(L.Port->Connected());
    // Identification does not swallow them either.
    TFakeLink L2;
    L2.OpenAt(br19200);
    L2.Port->DisconnectAtWrite = 1;
    uint16_t Id = 0;
    uint8_t Hi = 0, Lo = 0;
    EXPECT_THROW(L2.Link.GetDeviceInfo(Id, Hi, Lo), EComPort);
}

// ---------------------------------------------------------------------------
// Identification and opening

TEST(GetDeviceInfo, RequestsAndPayloadSizes) {
    const TByteArray Id8 = MakeReply(0x0C, {3, 7, 200});
    const TByteArray Id8Long = MakeReply(0x0C, {3, 7, 200, 1});
    const TByteArray Id16 = MakeReply(0x0B, {2, 5, 0x2C, 0x01});
    const TByteArray Id16Short = MakeReply(0x0B, {2, 5, 0x2C});
    struct Row {
        const char *Name;
        TBaudRate Rate;
        TByteArray Answer0C, Answer0B;
        std::vector<TByteArray> WantSent;
        bool Ok;
        uint16_t Id;
        uint8_t Hi, Lo;
    };
    const Row Rows[] = {
        {"8-bit ID at 19200", br19200, Id8, {}, {KIdentRequest}, true, 200, 3, 7},
        {"8-bit ID at 57600", br57600, Id8, {}, {KIdentRequest}, true, 200, 3, 7},
        {"no 0x0B at 19200", br19200, {}, Id16, {KIdentRequest}, false, 0, 0, 0},
        {"0x0B at 57600", br57600, {}, Id16, {KIdentRequest, KIdent16Request}, true, 300, 2, 5},
        {"0x0C with four bytes", br19200, Id8Long, {}, {KIdentRequest}, false, 0, 0, 0},
        {"0x0C with four bytes, then 0x0B",
         br57600,
         Id8Long,
         Id16,
         {KIdentRequest, KIdent16Request},
         true,
         300,
         2,
         5},
        {"0x0B with three bytes",
         br57600,
         {},
         Id16Short,
         {KIdentRequest, KIdent16Request},
         false,
         0,
         0,
         0},
    };
    for (const auto &R : Rows) {
        TFakeLink L;
        L.OpenAt(R.Rate);
        L.Port->Responder = [&](const TByteArray &Req) {
            const TByteArray &A = Req[2] == 0x0C ? R.Answer0C : R.Answer0B;
            return A.empty() ? std::vector<TChunk>{} : std::vector<TChunk>{{1, A}};
        };
        uint16_t Id = 0xEEEE;
        uint8_t Hi = 0xEE, Lo = 0xEE;
        EXPECT_EQ(L.Link.GetDeviceInfo(Id, Hi, Lo), R.Ok) << R.Name;
        EXPECT_EQ(L.Port->Sent, R.WantSent) << R.Name;
        if (R.Ok) {
            EXPECT_EQ(Id, R.Id) << R.Name;
            EXPECT_EQ(Hi, R.Hi) << R.Name;
            EXPECT_EQ(Lo, R.Lo) << R.Name;
        } else {
            EXPECT_EQ(Id, 0xEEEE) << R.Name << ": outputs written on failure";
            EXPECT_EQ(Hi, 0xEE) << R.Name;
        }
    }
}

TEST(GetDeviceInfo, ClosedPortSendsNothing) {
    TFakeLink L;
    uint16_t Id = 0;
    uint8_t Hi = 0, Lo = 0;
    EXPECT_FALSE(L.Link.GetDeviceInfo(Id, Hi, Lo));
    EXPECT_EQ(L.Sent(), 0u);
}

TEST(Open, TriesBothRatesInOrder) {
    struct Row {
        const char *Name;
        int AnswerAt;  // bit rate the sensor answers at, 0 none
        uint8_t SensorID;
        bool Ok, Connected;
        std::vector<TBaudRate> WantSentAt;
        uint64_t WaitedMs;  // fake time spent
    };
    const Row Rows[] = {
        {"sensor at 19200", 19200, 17, true, true, {br19200}, 1},
        {"sensor at 57600", 57600, 17, true, true, {br19200, br57600}, 1001},
        {"no sensor: three time-outs", 0, 17, false, false, {br19200, br57600, br57600}, 3000},
        {"sensor ID 0", 19200, 0, true, false, {br19200}, 1},
    };
    for (const auto &R : Rows) {
        TFakeLink L;
        L.Port->Responder = [&](const TByteArray &Req) {
            if (Req[2] != 0x0C || BaudRateToInt(L.Port->Settings().BaudRate) != R.AnswerAt)
                return std::vector<TChunk>{};
            return std::vector<TChunk>{{1, MakeReply(0x0C, {2, 5, R.SensorID})}};
        };
        const uint64_t T0 = L.Port->Clock;
        EXPECT_EQ(L.Link.Open("/dev/ttyFAKE0"), R.Ok) << R.Name;
        EXPECT_EQ(L.Link.Connected(), R.Connected) << R.Name;
        EXPECT_EQ(L.Port->SentAt, R.WantSentAt) << R.Name;
        EXPECT_GE(L.Port->Clock - T0, R.WaitedMs) << R.Name;
        EXPECT_LE(L.Port->Clock - T0, R.WaitedMs + 5) << R.Name;
        // Line settings of the bootloader link.
        EXPECT_EQ(L.Port->Settings().DataBits, dbEight);
        EXPECT_EQ(L.Port->Settings().Parity, prEven);
        EXPECT_EQ(L.Port->Settings().ParityCheck, true);
        EXPECT_EQ(L.Port->Settings().StopBits, sbOneStopBit);
        EXPECT_EQ(L.Port->Settings().ControlRTS, rtsToggle);
        EXPECT_EQ(L.Port->Settings().ControlDTR, dtrEnable);
        if (R.Ok) {
            EXPECT_EQ(L.Link.COMPort(), "/dev/ttyFAKE0") << R.Name;
            EXPECT_EQ(L.Link.SensorID(), R.SensorID) << R.Name;
            EXPECT_EQ(L.Link.Version(), (TSensorVersion{2, 5})) << R.Name;
            EXPECT_EQ(L.Link.BaudRate(), R.AnswerAt) << R.Name;
        } else {
            EXPECT_EQ(L.Link.COMPort(), "") << R.Name;
            EXPECT_EQ(L.Link.SensorID(), 0) << R.Name;
            EXPECT_EQ(L.Link.BaudRate(), 0) << R.Name;
        }
    }
}

// Sensors with 8-bit and 16-bit IDs at either rate, found in the usual
// order or with the rate a port's last sensor had tried first. The rule of
// what is asked stays: 0x0C at 19200, 0x0C and then 0x0B at 57600, each
// with the full time-out.
TEST(Open, FirstRateAndSixteenBitSensors) {
    struct Row {
        const char *Name;
        int FirstBaud;  // as set; the object keeps 0, 19200 or 57600
        int AnswerAt;   // bit rate the sensor answers at, 0 none
        bool Id16;      // answers 0x0B only
        std::vector<TBaudRate> WantSentAt;
        std::vector<uint8_t> WantCommands;
        uint64_t WaitedMs;
    };
    const Row Rows[] = {
        {"16-bit at 57600", 0, 57600, true, {br19200, br57600, br57600}, {0x0C, 0x0C, 0x0B}, 2001},
        {"16-bit answers nothing at 19200",
         0,
         19200,
         true,
         {br19200, br57600, br57600},
         {0x0C, 0x0C, 0x0B},
         3000},
        {"19200 first is the usual order",
         19200,
         57600,
         false,
         {br19200, br57600},
         {0x0C, 0x0C},
         1001},
        {"57600 first, 8-bit there", 57600, 57600, false, {br57600}, {0x0C}, 1},
        {"57600 first, 16-bit there", 57600, 57600, true, {br57600, br57600}, {0x0C, 0x0B}, 1001},
        {"57600 first, sensor at 19200",
         57600,
         19200,
         false,
         {br57600, br57600, br19200},
         {0x0C, 0x0B, 0x0C},
         2001},
        {"57600 first, no sensor",
         57600,
         0,
         false,
         {br57600, br57600, br19200},
         {0x0C, 0x0B, 0x0C},
         3000},
        {"an unknown rate keeps the usual order",
         9600,
         57600,
         false,
         {br19200, br57600},
         {0x0C, 0x0C},
         1001},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        TFakeLink L;
        L.Link.SetFirstBaud(R.FirstBaud);
        L.Port->Responder = [&](const TByteArray &Req) {
            if (BaudRateToInt(L.Port->Settings().BaudRate) != R.AnswerAt)
                return std::vector<TChunk>{};
            if (R.Id16 && Req[2] == 0x0B)
                return std::vector<TChunk>{{1, MakeReply(0x0B, {2, 5, 0x2C, 0x01})}};
            if (!R.Id16 && Req[2] == 0x0C)
                return std::vector<TChunk>{{1, MakeReply(0x0C, {2, 5, 17})}};
            return std::vector<TChunk>{};
        };
        const uint64_t T0 = L.Port->Clock;
        const bool Found = R.AnswerAt == 57600 || (R.AnswerAt == 19200 && !R.Id16);
        EXPECT_EQ(L.Link.Open("/dev/ttyFAKE0"), Found);
        EXPECT_EQ(L.Port->SentAt, R.WantSentAt);
        std::vector<uint8_t> Commands;
        for (const TByteArray &Req : L.Port->Sent) Commands.push_back(Req[2]);
        EXPECT_EQ(Commands, R.WantCommands);
        EXPECT_GE(L.Port->Clock - T0, R.WaitedMs);
        EXPECT_LE(L.Port->Clock - T0, R.WaitedMs + 5);
        if (Found) {
            EXPECT_EQ(L.Link.BaudRate(), R.AnswerAt);
            EXPECT_EQ(L.Link.SensorID(), R.Id16 ? 300 : 17);
            EXPECT_EQ(L.Link.IdentCommand(), R.Id16 ? 0x0B : 0x0C);
        } else {
            EXPECT_EQ(L.Link.IdentCommand(), 0);
        }
        // The first rate outlives Open and Close, as the limits do.
        L.Link.Close();
        EXPECT_EQ(L.Link.FirstBaud(), R.FirstBaud == 9600 ? 0 : R.FirstBaud);
        EXPECT_EQ(L.Link.IdentCommand(), 0);
    }
}

TEST(Open, PortThatCannotOpenGivesFalse) {
    TFakeLink L;
    L.Port->FailOpen = true;
    EXPECT_NO_THROW(EXPECT_FALSE(L.Link.Open("/dev/ttyNONE")));
    EXPECT_EQ(L.Link.COMPort(), "");
    EXPECT_EQ(L.Sent(), 0u);
}

// Only a refused line setting may be the rate's fault: a port that cannot
// be opened or reached, a server that does not answer and a line that goes
// during identification end the search at once, with their error kept.
TEST(Open, WhichFailuresEndTheSearch) {
    struct Row {
        const char *Name;
        std::optional<EComPort> OpenError;  // of every Open
        int DisconnectAtWrite;
        int WantOpenCalls;
        size_t WantSent;
        int WantCode;
    };
    const Row Rows[] = {
        {"connect refused", EComPort(CError_OpenFailed, ECONNREFUSED, "server h:1"), -1, 1, 0,
         CError_OpenFailed},
        {"connect timed out", EComPort(CError_OpenFailed, ETIMEDOUT, "server h:1"), -1, 1, 0,
         CError_OpenFailed},
        {"server does not answer the settings", EComPort(CError_CommState, ETIMEDOUT, "server h:1"),
         -1, 1, 0, CError_CommState},
        {"rate refused: the next rate is tried", EComPort(CError_CommState, EINVAL), -1, 2, 0,
         CError_CommState},
        {"line gone during identification", std::nullopt, 1, 1, 1, CError_Disconnected},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        TFakeLink L;
        int Calls = 0;
        L.Port->OnOpen = [&](const TLinkSettings &) {
            ++Calls;
            return R.OpenError;
        };
        L.Port->DisconnectAtWrite = R.DisconnectAtWrite;
        EXPECT_NO_THROW(EXPECT_FALSE(L.Link.Open("tcp://h:1")));
        EXPECT_EQ(Calls, R.WantOpenCalls);
        EXPECT_EQ(L.Sent(), R.WantSent);
        ASSERT_TRUE(L.Link.OpenError().has_value());
        EXPECT_EQ(L.Link.OpenError()->Code(), R.WantCode);
        EXPECT_FALSE(L.Port->Connected());
    }
}

TEST(Open, ReopeningForgetsTheOldSensorAndCloseResets) {
    TFakeLink L;
    uint8_t Id = 17;
    L.Port->Responder = [&](const TByteArray &Req) {
        return Req[2] == 0x0C && Id ? std::vector<TChunk>{{1, MakeReply(0x0C, {2, 5, Id})}}
                                    : std::vector<TChunk>{};
    };
    L.Link.SetMaxRetry(7);
    ASSERT_TRUE(L.Link.Open("/dev/ttyFAKE0"));
    Id = 0;
    EXPECT_FALSE(L.Link.Open("/dev/ttyFAKE0"));
    EXPECT_EQ(L.Link.SensorID(), 0);
    EXPECT_EQ(L.Link.Version(), (TSensorVersion{0, 0}));
    Id = 17;
    ASSERT_TRUE(L.Link.Open("/dev/ttyFAKE0"));
    L.Link.Close();
    EXPECT_FALSE(L.Port->Connected());
    EXPECT_FALSE(L.Link.Connected());
    EXPECT_EQ(L.Link.SensorID(), 0);
    EXPECT_EQ(L.Link.COMPort(), "");
    EXPECT_EQ(L.Link.MaxRetry(), 7);  // limits survive
    L.Link.Close();                   // twice is harmless
}

TEST(Limits, SettersClampToTheirRange) {
    TScriptedLink Line;
    TXComm L(Line);
    EXPECT_EQ(L.MaxRetry(), 5);
    EXPECT_EQ(L.MaxFails(), 15);
    EXPECT_EQ(L.DefTimeout(), 1000u);
    const struct {
        int In, Retry, Fails;
    } Counts[] = {{1, 3, 5}, {-4, 3, 5}, {3, 3, 5}, {5, 5, 5}, {20, 20, 20}};
    for (const auto &R : Counts) {
        L.SetMaxRetry(R.In);
        L.SetMaxFails(R.In);
        EXPECT_EQ(L.MaxRetry(), R.Retry) << R.In;
        EXPECT_EQ(L.MaxFails(), R.Fails) << R.In;
    }
    const struct {
        uint32_t In, Out;
    } Timeouts[] = {{0, 500},       {499, 500},      {500, 500},
                    {20, 500},      {3000, 3000},    {60000, 60000},
                    {60001, 60000}, {600000, 60000}, {0xFFFFFFFFu, 60000}};
    for (const auto &R : Timeouts) {
        L.SetDefTimeout(R.In);
        EXPECT_EQ(L.DefTimeout(), R.Out) << R.In;
    }
}

// ---------------------------------------------------------------------------
// Upload

enum class TAnswer { Ack, Silent, Garbled, Wrong };

// Bootloader model for uploads: acknowledges data packets, completes the
// image at CompleteAt, and answers identification afterwards only if Stays.
struct TModelBootloader {
    uint16_t CompleteAt = 0;  // packet number answered with 0xFFFE (0: never)
    bool Stays = false;
    int LostIdents = 0;  // identification answers lost after completion
    bool Completed = false;
    std::map<std::pair<uint16_t, int>, TAnswer> Faults;  // (packet, attempt) -> answer
    std::map<uint16_t, int> Attempts;
    std::vector<TByteArray> Data;  // data packets, every attempt

    std::vector<TChunk> operator()(const TByteArray &Req) {
        if (Req[2] == 0x0C) {
            if (Completed && (!Stays || LostIdents-- > 0)) return {};
            return {{1, MakeReply(0x0C, {1, 0, 17})}};
        }
        if (Req[2] != 0x0D) return {};
        const uint16_t No = static_cast<uint16_t>(Req[3] | (Req[4] << 8));
        if (No != 0) Data.push_back(Req);
        const int Attempt = ++Attempts[No];
        TAnswer A = TAnswer::Ack;
        if (auto It = Faults.find({No, Attempt}); It != Faults.end()) A = It->second;
        uint16_t Ack = No != 0 && No == CompleteAt ? 0xFFFE : No;
        if (Ack == 0xFFFE) Completed = true;
        switch (A) {
            case TAnswer::Silent:
                return {};
            case TAnswer::Garbled: {
                TByteArray R =
                    MakeReply(0x0D, {static_cast<uint8_t>(Ack), static_cast<uint8_t>(Ack >> 8)});
                R.back() ^= 0xFF;
                return {{1, R}};
            }
            case TAnswer::Wrong:
                Ack = static_cast<uint16_t>(No + 1);
                break;
            case TAnswer::Ack:
                break;
        }
        return {{1, MakeReply(0x0D, {static_cast<uint8_t>(Ack), static_cast<uint8_t>(Ack >> 8)})}};
    }
};

struct TReport {
    int Sent, Fails, Progress;
    bool operator==(const TReport &) const = default;
};
std::ostream &operator<<(std::ostream &O, const TReport &R) {
    return O << "(" << R.Sent << "," << R.Fails << "," << R.Progress << "%)";
}

struct TUploadFixture {
    TTempDir Dir;
    TFakeLink L;
    TModelBootloader Model;
    std::vector<TReport> Reports;
    std::string Path;
    TCODFileData Hdr;

    TUploadFixture(const std::string &FileBytes) {
        Path = Dir.Write("fw.cod", FileBytes);
        if (!ValidateFile(Path, Hdr)) throw std::runtime_error("fixture file invalid");
        L.OpenAt(br19200);
        L.Port->Responder = [this](const TByteArray &Req) { return Model(Req); };
    }
    bool Upload() {
        return L.Link.UploadFile(Path, Hdr, [this](int S, int F, int P) {
            Reports.push_back({S, F, P});
        });
    }
    std::vector<size_t> DataSizes() const {
        std::vector<size_t> V;
        for (const auto &P : Model.Data) V.push_back(P.size() - 6);
        return V;
    }
};

TEST(UploadFile, PacketCountsSizesAndTimeouts) {
    struct Row {
        const char *Name;
        std::string File;
        std::vector<size_t> Sizes;
        int SlowPackets;  // ESP32 packets sent with the 3000 ms time-out
    };
    const Row Rows[] = {
        // 1000-byte ESP32 file: 240 x 4 + 40, all five with 3000 ms.
        {"ESP32, 1000 bytes", MakeCod32(17, 1, 1, MakeImage(968)), {240, 240, 240, 240, 40}, 5},
        // 100-byte file, 8-byte packets: 12 x 8 + 4.
        {"8-byte packets, 100 bytes",
         MakeCod16(17, 1, 1, "PIC", MakeImage(84)),
         {8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 4},
         0},
        {"exact multiple ends with a full packet",
         MakeCod16(17, 1, 1, "PIC", MakeImage(16)),
         {8, 8, 8, 8},
         0},
        // 2400 bytes: the time-out drops once more than 2048 bytes are read
        // (after packet 9, 2160 bytes).
        {"ESP32, 2400 bytes", MakeCod32(17, 1, 1, MakeImage(2368)), std::vector<size_t>(10, 240),
         8},
        {"16-byte header naming ESP32",
         MakeCod16(17, 1, 1, "ESP32", MakeImage(464)),
         {240, 240},
         2},
    };
    for (const auto &R : Rows) {
        TUploadFixture F(R.File);
        F.Model.CompleteAt = static_cast<uint16_t>(R.Sizes.size());
        EXPECT_TRUE(F.Upload()) << R.Name;
        EXPECT_EQ(F.DataSizes(), R.Sizes) << R.Name;
        // Packet numbers 1..n, data in file order, the start packet first.
        ASSERT_GE(F.L.Port->Sent.size(), 1u);
        EXPECT_EQ(F.L.Port->Sent[0], (TByteArray{0xF5, 0x05, 0x0D, 0x00, 0x00, 0x91})) << R.Name;
        std::string Joined;
        for (size_t i = 0; i < F.Model.Data.size(); ++i) {
            const auto &P = F.Model.Data[i];
            EXPECT_EQ(P[3] | (P[4] << 8), static_cast<int>(i + 1)) << R.Name;
            EXPECT_EQ(P[1], P.size() - 1) << R.Name;
            Joined.append(P.begin() + 5, P.end() - 1);
        }
        EXPECT_EQ(Joined, R.File) << R.Name;
        // Time-outs: the first wait after a write is the time-out + 1.
        const auto &W = F.L.Port->FirstWait;
        EXPECT_EQ(W[0], 1001) << R.Name << ": start packet";
        for (size_t i = 1; i <= R.Sizes.size(); ++i)
            EXPECT_EQ(W[i], static_cast<int>(i) <= R.SlowPackets ? 3001 : 1001)
                << R.Name << " packet " << i;
        EXPECT_EQ(F.L.Pauses, std::vector<uint32_t>{2500}) << R.Name;
        // The last request is the final identification.
        EXPECT_EQ(F.L.Port->Sent.back(), KIdentRequest) << R.Name;
        EXPECT_EQ(F.Reports.back(), (TReport{static_cast<int>(R.Sizes.size()) - 1, 0, 100}))
            << R.Name;
        EXPECT_TRUE(F.L.Port->Connected()) << R.Name << ": the link stays open";
    }
}

TEST(UploadFile, ReportsForEveryAttempt) {
    // 40 bytes in 8-byte packets: 5 packets, progress 20, 40, 60, 80, 100.
    TUploadFixture F(MakeCod16(17, 1, 1, "PIC", MakeImage(24)));
    F.Model.CompleteAt = 5;
    F.Model.Faults[{2, 1}] = TAnswer::Silent;
    F.Model.Faults[{2, 2}] = TAnswer::Garbled;
    EXPECT_TRUE(F.Upload());
    const std::vector<TReport> Want{{1, 0, 20}, {1, 1, 40}, {1, 2, 40}, {2, 2, 40},
                                    {3, 2, 60}, {4, 2, 80}, {4, 2, 100}};
    EXPECT_EQ(F.Reports, Want);
    EXPECT_EQ(F.Model.Attempts[2], 3);
}

TEST(UploadFile, RetryLimits) {
    struct Row {
        const char *Name;
        int MaxRetry, MaxFails;
        std::vector<std::pair<uint16_t, int>> Failing;  // (packet, attempt)
        bool Ok;
        size_t DataRequests;
    };
    const Row Rows[] = {
        {"two failures then success", 3, 5, {{3, 1}, {3, 2}}, true, 10 + 2},
        {"three failures of one packet end it below MaxFails",
         3,
         5,
         {{3, 1}, {3, 2}, {3, 3}},
         false,
         2 + 3},
        {"five failures spread over packets",
         3,
         5,
         {{1, 1}, {2, 1}, {2, 2}, {4, 1}, {5, 1}},
         false,
         2 + 3 + 1 + 2 + 1},
        {"four failures spread over packets", 3, 5, {{1, 1}, {2, 1}, {2, 2}, {4, 1}}, true, 10 + 4},
        {"defaults: fourth failure of a packet retried",
         5,
         15,
         {{1, 1}, {1, 2}, {1, 3}, {1, 4}},
         true,
         10 + 4},
        {"defaults: fifth failure of a packet ends it",
         5,
         15,
         {{1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}},
         false,
         5},
    };
    for (const auto &R : Rows) {
        TUploadFixture F(MakeCod16(17, 1, 1, "PIC", MakeImage(64)));  // 80 bytes: 10 packets
        F.Model.CompleteAt = 10;
        F.L.Link.SetMaxRetry(R.MaxRetry);
        F.L.Link.SetMaxFails(R.MaxFails);
        for (const auto &K : R.Failing) F.Model.Faults[K] = TAnswer::Silent;
        EXPECT_EQ(F.Upload(), R.Ok) << R.Name;
        EXPECT_EQ(F.Model.Data.size(), R.DataRequests) << R.Name;
        int Failed = 0;
        for (const auto &Rep : F.Reports) Failed = Rep.Fails;
        EXPECT_EQ(Failed, static_cast<int>(R.Failing.size())) << R.Name;
    }
}

TEST(UploadFile, EndingsOtherThanSuccess) {
    struct Row {
        const char *Name;
        std::function<void(TUploadFixture &)> Setup;
        size_t DataRequests;
        bool FinalIdent;
    };
    const Row Rows[] = {
        {"wrong acknowledged number ends at once",
         [](TUploadFixture &F) {
             F.Model.Faults[{3, 1}] = TAnswer::Wrong;
         },
         3, false},
        {"still in bootloader after completion", [](TUploadFixture &F) { F.Model.Stays = true; },
         10, true},
        {"end of file without completion", [](TUploadFixture &F) { F.Model.CompleteAt = 0; }, 10,
         false},
        {"start packet not acknowledged",
         [](TUploadFixture &F) {
             F.Model.Faults[{0, 1}] = TAnswer::Silent;
         },
         0, false},
        {"start packet acknowledged with another number",
         [](TUploadFixture &F) {
             F.Model.Faults[{0, 1}] = TAnswer::Wrong;
         },
         0, false},
    };
    for (const auto &R : Rows) {
        TUploadFixture F(MakeCod16(17, 1, 1, "PIC", MakeImage(64)));
        F.Model.CompleteAt = 10;
        R.Setup(F);
        EXPECT_FALSE(F.Upload()) << R.Name;
        EXPECT_EQ(F.Model.Data.size(), R.DataRequests) << R.Name;
        EXPECT_EQ(F.L.Port->Sent.back() == KIdentRequest, R.FinalIdent) << R.Name;
    }
}

TEST(UploadFile, FinalIdentificationOutlastsLostAnswers) {
    const struct {
        const char *Name;
        bool Stays;
        int Lost;
        bool Ok;
        size_t Idents;
    } Rows[] = {
        {"sensor left", false, 0, true, 3},
        {"sensor stayed", true, 0, false, 1},
        {"sensor stayed, one answer lost", true, 1, false, 2},
        {"sensor stayed, two answers lost", true, 2, false, 3},
    };
    for (const auto &R : Rows) {
        TUploadFixture F(MakeCod16(17, 1, 1, "PIC", MakeImage(64)));
        F.Model.CompleteAt = 10;
        F.Model.Stays = R.Stays;
        F.Model.LostIdents = R.Lost;
        EXPECT_EQ(F.Upload(), R.Ok) << R.Name;
        size_t Idents = 0;
        for (const auto &Req : F.L.Port->Sent) Idents += Req == KIdentRequest;
        EXPECT_EQ(Idents, R.Idents) << R.Name;
        EXPECT_EQ(F.L.Pauses, std::vector<uint32_t>{2500}) << R.Name;
    }
}

// The final check asks only the request the sensor answered when it was
// found, each time with the quiet time-out: the longest reply on the line
// at that rate, the sensor's turnaround and the adapters' latency, with a
// margin; at least twice what finding the sensor took.
TEST(UploadFile, FinalCheckAsksTheFoundRequestWithTheQuietTimeout) {
    struct Row {
        const char *Name;
        int Rate;
        bool Id16;
        uint64_t IdentDelay;  // the sensor's answer to identification, ms
        bool Stays;
        int Lost;  // answers lost after the completion
        bool Ok;
        uint32_t Quiet;
        int Checks;  // final identification requests
    };
    const Row Rows[] = {
        {"8-bit at 19200, left", 19200, false, 1, false, 0, true, 291, 3},
        {"8-bit at 57600, left", 57600, false, 1, false, 0, true, 191, 3},
        {"16-bit at 57600, left", 57600, true, 1, false, 0, true, 191, 3},
        {"16-bit at 57600, stayed", 57600, true, 1, true, 0, false, 191, 1},
        {"16-bit at 57600, stayed, one answer lost", 57600, true, 1, true, 1, false, 191, 2},
        {"16-bit at 57600, stayed, two answers lost", 57600, true, 1, true, 2, false, 191, 3},
        {"8-bit at 19200, stayed, one answer lost", 19200, false, 1, true, 1, false, 291, 2},
        // A slow sensor is still heard: 2 x 200 + 50.
        {"slow 16-bit sensor, stayed", 57600, true, 200, true, 0, false, 450, 1},
        {"slow 8-bit sensor, stayed", 19200, false, 280, true, 0, false, 610, 1},
        // Never longer than the settings' time-out (1000 ms here).
        {"very slow sensor, stayed", 57600, false, 900, true, 0, false, 1000, 1},
        {"very slow sensor, left", 57600, false, 900, false, 0, true, 1000, 3},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        TTempDir Dir;
        const std::string Path = Dir.Write("fw.cod", MakeCod16(17, 1, 1, "PIC", MakeImage(64)));
        TCODFileData Hdr;
        ASSERT_TRUE(ValidateFile(Path, Hdr));
        TFakeLink L;
        TModelBootloader Model;
        Model.CompleteAt = 10;
        Model.Stays = R.Stays;
        Model.LostIdents = R.Lost;
        const uint8_t Ident = R.Id16 ? 0x0B : 0x0C;
        L.Port->Responder = [&](const TByteArray &Req) -> std::vector<TChunk> {
            if (BaudRateToInt(L.Port->Settings().BaudRate) != R.Rate) return {};
            if (Req[2] == 0x0D) return Model(Req);
            if (Req[2] != Ident) return {};
            if (Model.Completed && (!Model.Stays || Model.LostIdents-- > 0)) return {};
            return {{R.IdentDelay,
                     R.Id16 ? MakeReply(0x0B, {1, 0, 17, 0}) : MakeReply(0x0C, {1, 0, 17})}};
        };
        ASSERT_TRUE(L.Link.Open("/dev/ttyFAKE0"));
        EXPECT_EQ(L.Link.QuietTimeout(), R.Quiet);
        const size_t Before = L.Sent();
        const uint64_t T0 = L.Port->Clock;
        EXPECT_EQ(L.Link.UploadFile(Path, Hdr, {}), R.Ok);
        // After the last data packet: only the found request, each waiting
        // the quiet time-out (the first wait after a write is it + 1).
        const auto &Sent = L.Port->Sent;
        size_t Last = Before;
        for (size_t i = Before; i < Sent.size(); ++i)
            if (Sent[i][2] == 0x0D) Last = i;
        ASSERT_EQ(Sent.size() - Last - 1, static_cast<size_t>(R.Checks));
        for (size_t i = Last + 1; i < Sent.size(); ++i) {
            EXPECT_EQ(Sent[i][2], Ident) << "request " << i;
            EXPECT_EQ(L.Port->FirstWait[i], static_cast<int>(R.Quiet) + 1) << "request " << i;
        }
        EXPECT_EQ(L.Pauses, std::vector<uint32_t>{2500});
        if (R.Ok) {
            // The data packets answer after 1 ms each; then the pause and
            // three quiet time-outs.
            const uint64_t Elapsed = L.Port->Clock - T0;
            EXPECT_GE(Elapsed, 2500 + 3 * R.Quiet);
            EXPECT_LE(Elapsed, 2500 + 3 * (R.Quiet + 2) + 11 * 2);
        }
    }
}

// A link opened by its caller, without identification: the final check
// asks what GetDeviceInfo would at that rate, with the quiet time-out.
TEST(UploadFile, FinalCheckWithoutIdentificationAsksEveryRequestOfTheRate) {
    const struct {
        TBaudRate Rate;
        std::vector<uint8_t> Want;
        uint32_t Quiet;
    } Rows[] = {
        {br19200, {0x0C, 0x0C, 0x0C}, 291},
        {br57600, {0x0C, 0x0B, 0x0C, 0x0B, 0x0C, 0x0B}, 191},
    };
    for (const auto &R : Rows) {
        TUploadFixture F(MakeCod16(17, 1, 1, "PIC", MakeImage(64)));
        F.L.Port->Close();
        F.L.OpenAt(R.Rate);
        F.Model.CompleteAt = 10;
        EXPECT_EQ(F.L.Link.IdentCommand(), 0);
        EXPECT_TRUE(F.Upload());
        const auto &Sent = F.L.Port->Sent;
        ASSERT_GE(Sent.size(), R.Want.size());
        std::vector<uint8_t> Final;
        for (size_t i = Sent.size() - R.Want.size(); i < Sent.size(); ++i) {
            Final.push_back(Sent[i][2]);
            EXPECT_EQ(F.L.Port->FirstWait[i], static_cast<int>(R.Quiet) + 1);
        }
        EXPECT_EQ(Final, R.Want);
        EXPECT_EQ(Sent[Sent.size() - R.Want.size() - 1][2], 0x0D);
    }
}

// The file ends where its header says, so a bootloader that has the whole
// image can report it complete only on the last data packet. Earlier, it
// holds part of the image: a failed upload that names the packet and the
// count, without the pause and the final identification.
TEST(UploadFile, CompletionBeforeTheLastPacketFails) {
    // 216 bytes in 8-byte packets: 27 packets; 1000 bytes in 240-byte ones: 5.
    const std::string Avr = MakeCod16(17, 1, 1, "PIC", MakeImage(200));
    const std::string Esp = MakeCod32(17, 1, 1, MakeImage(968));
    struct Row {
        const char *Name;
        std::string File;
        uint16_t CompleteAt;
        bool SilentFirst;  // the completing packet's first attempt goes unanswered
        bool Ok;
        int Packets;   // of the image, when it failed early
        TReport Last;  // the last report
    };
    const Row Rows[] = {
        {"packet 3 of 27", Avr, 3, false, false, 27, {2, 0, 11}},
        {"the first packet", Avr, 1, false, false, 27, {0, 0, 4}},
        {"the last but one", Avr, 26, false, false, 27, {25, 0, 96}},
        {"after a retry", Avr, 3, true, false, 27, {2, 1, 11}},
        {"ESP32, packet 4 of 5", Esp, 4, false, false, 5, {3, 0, 96}},
        {"the last packet completes", Avr, 27, false, true, 0, {26, 0, 100}},
        {"ESP32, the last packet", Esp, 5, false, true, 0, {4, 0, 100}},
    };
    for (const Row &R : Rows) {
        TUploadFixture F(R.File);
        F.Model.CompleteAt = R.CompleteAt;
        if (R.SilentFirst) F.Model.Faults[{R.CompleteAt, 1}] = TAnswer::Silent;
        EXPECT_EQ(F.Upload(), R.Ok) << R.Name;
        // Nothing is sent after the completion.
        EXPECT_EQ(F.Model.Data.size(), R.CompleteAt + (R.SilentFirst ? 1u : 0u)) << R.Name;
        ASSERT_FALSE(F.Reports.empty()) << R.Name;
        EXPECT_EQ(F.Reports.back(), R.Last) << R.Name;
        const auto &Early = F.L.Link.EarlyCompletion();
        if (R.Ok) {
            EXPECT_FALSE(Early.has_value()) << R.Name;
            EXPECT_EQ(F.L.Pauses, std::vector<uint32_t>{2500}) << R.Name;
            continue;
        }
        ASSERT_TRUE(Early.has_value()) << R.Name;
        EXPECT_EQ(Early->Packet, R.CompleteAt) << R.Name;
        EXPECT_EQ(Early->Packets, R.Packets) << R.Name;
        EXPECT_TRUE(F.L.Pauses.empty()) << R.Name;
        EXPECT_NE(F.L.Port->Sent.back(), KIdentRequest) << R.Name << ": no final identification";
        // The next upload on the same link starts with a clean slate.
        F.Model = TModelBootloader{};
        F.Model.CompleteAt = static_cast<uint16_t>(R.Packets);
        EXPECT_TRUE(F.Upload()) << R.Name;
        EXPECT_FALSE(F.L.Link.EarlyCompletion().has_value()) << R.Name;
    }
}

TEST(UploadFile, RefusedBeforeAnythingIsSent) {
    TTempDir Dir;
    const std::string Good = Dir.Write("good.cod", MakeCod16(17, 1, 1, "PIC", MakeImage(64)));
    const std::string Bad = Dir.Write("bad.cod", MakeCod16(17, 1, 1, "PIC", MakeImage(64)) + "x");
    // 65534 packets of 8 bytes would push the packet number onto 0xFFFE.
    const std::string TooBig =
        Dir.Write("big.cod", MakeCod16(17, 1, 1, "PIC", MakeImage(65534 * 8 - 16)));
    const std::string TooBigEsp =
        Dir.Write("bigesp.cod", MakeCod32(17, 1, 1, MakeImage(65533 * 240 + 1 - 32)));
    TCODFileData Hdr;
    ASSERT_TRUE(ValidateFile(Good, Hdr));
    TCODFileData OtherId = Hdr;
    OtherId.DeviceID = 18;
    TCODFileData BigHdr, BigEspHdr;
    ASSERT_TRUE(ValidateFile(TooBig, BigHdr));
    ASSERT_TRUE(ValidateFile(TooBigEsp, BigEspHdr));
    struct Row {
        const char *Name;
        std::string Path;
        TCODFileData Hdr;
        bool OpenPort;
    };
    const Row Rows[] = {
        {"port closed", Good, Hdr, false},
        {"missing file", Dir.File("none.cod"), Hdr, true},
        {"invalid file", Bad, Hdr, true},
        {"file for another sensor", Good, OtherId, true},
        {"more than 65533 data packets", TooBig, BigHdr, true},
        {"more than 65533 ESP32 packets", TooBigEsp, BigEspHdr, true},
    };
    for (const auto &R : Rows) {
        TFakeLink L;
        if (R.OpenPort) L.OpenAt(br19200);
        int Reports = 0;
        EXPECT_FALSE(L.Link.UploadFile(R.Path, R.Hdr, [&](int, int, int) { ++Reports; })) << R.Name;
        EXPECT_EQ(L.Sent(), 0u) << R.Name;
        EXPECT_EQ(Reports, 0) << R.Name;
    }
}

// The file changes on disk while the upload runs (overwritten in place,
// same size; or cut short): the sensor gets exactly the bytes that were
// checked, from one read of the file.
TEST(UploadFile, SendsTheBytesThatWereChecked) {
    const std::string Original = MakeCod16(17, 1, 1, "PIC", MakeImage(400, 1));
    std::string Flipped = Original;
    for (size_t i = 16; i < Flipped.size(); ++i) Flipped[i] = static_cast<char>(~Flipped[i]);
    const struct {
        const char *Name;
        std::string Replacement;
    } Rows[] = {{"overwritten in place", Flipped}, {"cut short", Original.substr(0, 100)}};
    for (const auto &R : Rows) {
        TUploadFixture F(Original);
        F.Model.CompleteAt = 52;  // 416 bytes in 8-byte packets
        auto Inner = F.L.Port->Responder;
        F.L.Port->Responder = [&](const TByteArray &Req) {
            if (Req[2] == 0x0D && Req[3] == 3 && Req[4] == 0) {
                std::FILE *File = std::fopen(F.Path.c_str(), "r+b");
                if (File) {
                    std::fwrite(R.Replacement.data(), 1, R.Replacement.size(), File);
                    std::fclose(File);
                }
                if (R.Replacement.size() < Original.size())
                    truncate(F.Path.c_str(), static_cast<off_t>(R.Replacement.size()));
            }
            return Inner(Req);
        };
        EXPECT_TRUE(F.Upload()) << R.Name;
        std::string Sent;
        for (const TByteArray &P : F.Model.Data) Sent.append(P.begin() + 5, P.end() - 1);
        EXPECT_EQ(Sent, Original) << R.Name;
    }
}

TEST(UploadFile, UploadImageSendsTheBufferAndChecksIt) {
    const std::string File = MakeCod32(17, 1, 1, MakeImage(700));
    TUploadFixture F(File);
    F.Model.CompleteAt = 4;  // 732 bytes in 240-byte packets
    TByteArray Image(File.begin(), File.end());
    TByteArray Broken = Image;
    Broken.back() ^= 1;
    EXPECT_FALSE(F.L.Link.UploadImage(Broken, F.Hdr, {}));
    EXPECT_TRUE(F.L.Port->Sent.empty());
    EXPECT_TRUE(F.L.Link.UploadImage(Image, F.Hdr, {}));
    std::string Sent;
    for (const TByteArray &P : F.Model.Data) Sent.append(P.begin() + 5, P.end() - 1);
    EXPECT_EQ(Sent, File);
}

TEST(UploadFile, LargestUploadStillFits) {
    // 65533 packets: the last carries number 65533 and is answered 0xFFFE.
    TUploadFixture F(MakeCod16(17, 1, 1, "PIC", MakeImage(65533 * 8 - 16)));
    F.Model.CompleteAt = 65533;
    EXPECT_TRUE(F.L.Link.UploadFile(F.Path, F.Hdr, {}));  // an empty callback is fine
    EXPECT_EQ(F.Model.Data.size(), 65533u);
}

TEST(UploadFile, PacketSizeFollowsTheCallersHeader) {
    // The file on disk is a 16-byte "PIC" file, but the caller loaded it as ESP32.
    TUploadFixture F(MakeCod16(17, 1, 1, "PIC", MakeImage(464)));
    F.Hdr.ProcessorType = "ESP32";
    F.Model.CompleteAt = 2;
    EXPECT_TRUE(F.Upload());
    EXPECT_EQ(F.DataSizes(), (std::vector<size_t>{240, 240}));
}

TEST(UploadFile, UnplugRaisesAndLeavesThePortClosed) {
    TUploadFixture F(MakeCod16(17, 1, 1, "PIC", MakeImage(64)));
    F.Model.CompleteAt = 10;
    F.L.Port->DisconnectAtWrite = 4;  // start + 2 data packets, then gone
    try {
        F.Upload();
        FAIL() << "no error";
    } catch (const EComPort &E) {
        EXPECT_EQ(E.Code(), CError_Disconnected);
        EXPECT_STREQ(E.what(), "Port Disconnected");
    }
    EXPECT_FALSE(F.L.Port->Connected());
    EXPECT_FALSE(F.L.Link.Connected());
    EXPECT_EQ(F.L.Link.COMPort(), "");
}

}  // namespace
