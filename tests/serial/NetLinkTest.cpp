// Network links on their own: URLs and port numbers, and a server that
// floods (input kept within CMaxInput, the rest dropped and counted).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "FakeServer.h"
#include "modbus/ModbusRTU.h"
#include "modbus/ModbusTcp.h"
#include "serial/LinkFactory.h"
#include "serial/NetLink.h"

namespace {

TEST(NetLink, UrlsSchemesAndPortNumbers) {
    struct Row {
        std::string Url;
        bool Network;         // tcp:// or rfc2217:// in any case
        std::string Host;     // of a network URL
        std::string Problem;  // part of AddressError's text, "" when none
    } Rows[] = {
        {"tcp://10.0.0.5:4001", true, "10.0.0.5", ""},
        {"TCP://10.0.0.5:4001", true, "10.0.0.5", ""},
        {"Rfc2217://[::1]:2001/x", true, "::1", ""},
        {"tcp://h:1", true, "h", ""},
        {"tcp://h:65535", true, "h", ""},
        {"tcp://h:0", true, "h", "bad port number 0"},
        {"tcp://h:65536", true, "h", "bad port number 65536"},
        {"rfc2217://h:112636", true, "h", "bad port number 112636"},
        {"tcp://h:0000080", true, "h", "bad port number 0000080"},
        {"tcp://h:+80", true, "h", "bad port number +80"},
        {"tcp://h:telnet", true, "h", "bad port number telnet"},
        {"tcp://h", true, "h", "no server address"},
        {"tcp://:80", true, "", "no server address"},
        {"tcpx://h:80", false, "", ""},
        {"/dev/ttyUSB0", false, "", ""},
        {"modbus-tcp://h", false, "", ""},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Url);
        const auto A = TNetLink::ParseUrl(R.Url);
        EXPECT_EQ(A.has_value(), R.Network);
        EXPECT_EQ(IsNetworkPort(R.Url), R.Network);
        if (!A) continue;
        EXPECT_EQ(A->Host, R.Host);
        const auto E = TNetLink::AddressError(*A, R.Url);
        EXPECT_EQ(E.has_value(), !R.Problem.empty());
        if (E) {
            EXPECT_EQ(E->Code(), CError_OpenFailed);
            EXPECT_NE(std::string(E->what()).find(R.Problem), std::string::npos) << E->what();
        }
    }
    for (const std::string Url : {"modbus-tcp://h", "MODBUS-TCP://h:502", "Modbus-Tcp://[::1]"}) {
        SCOPED_TRACE(Url);
        const auto A = TModbusTcpFraming::ParseUrl(Url);
        ASSERT_TRUE(A.has_value());
        EXPECT_FALSE(TNetLink::AddressError(*A, Url).has_value());
    }
    const auto Wrapped = TModbusTcpFraming::ParseUrl("modbus-tcp://127.0.0.1:112636");
    ASSERT_TRUE(Wrapped.has_value());
    EXPECT_TRUE(TNetLink::AddressError(*Wrapped, "modbus-tcp://127.0.0.1:112636").has_value());
}

// However long the server floods, what waits unread stays within
// CMaxInput, every wait and read returns, and the surplus is counted.
TEST(NetLink, FloodIsCappedAndCounted) {
    TFakeServer Server(TFakeServer::TBehaviour::Flood);
    Server.FloodBytes = 64ULL << 20;
    ASSERT_TRUE(Server.Start());
    TNetLink Link;
    TLinkSettings S;
    S.Port = "tcp://" + Server.Address();
    ASSERT_FALSE(Link.Open(S).has_value());
    std::vector<uint8_t> Buf(1 << 20);
    size_t MostRead = 0;
    const auto End = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Link.Dropped() < (8u << 20) && std::chrono::steady_clock::now() < End) {
        ASSERT_TRUE(Link.WaitForInput(1000));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int N = Link.Read(Buf.data(), static_cast<int>(Buf.size()));
        MostRead = std::max(MostRead, static_cast<size_t>(N));
    }
    EXPECT_LE(MostRead, TNetLink::CMaxInput);
    EXPECT_GE(Link.Dropped(), 8u << 20);
    Link.Close();
}

// A flooding Modbus TCP gateway: the master on a raw socket with the TCP
// framing takes no answer of ours, and its reads end by their time-outs.
TEST(NetLink, ModbusTcpFloodDeliversNothing) {
    const std::vector<std::vector<uint8_t>> Patterns = {
        {0x00},  // no Modbus TCP at all
        {0x00, 0x07, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x02, 0x00, 0x00,
         0x00},  // answers to another request
    };
    for (const std::vector<uint8_t> &Pattern : Patterns) {
        SCOPED_TRACE(Pattern.size());
        TFakeServer Server(TFakeServer::TBehaviour::Flood);
        Server.Pattern = Pattern;
        Server.FloodBytes = 64ULL << 20;
        ASSERT_TRUE(Server.Start());
        TModbusRTU Master(1);
        TPortParams Params;
        Params.Timeout = 200;
        ASSERT_TRUE(Master.Open("modbus-tcp://" + Server.Address(), Params));
        EXPECT_EQ(Master.Framing(), TModbusFramingKind::Tcp);
        EXPECT_NE(dynamic_cast<TNetLink *>(&Master.Link()), nullptr);
        const auto Start = std::chrono::steady_clock::now();
        for (int I = 0; I < 3; ++I) {
            TModbusRegisters Regs(1, 0x5A5A);
            EXPECT_FALSE(Master.ReadHoldingRegs(0, Regs));
            EXPECT_EQ(Regs[0], 0x5A5A);
            EXPECT_FALSE(Master.Scan(0));
        }
        EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(30));
    }
}

}  // namespace
