// Network links on their own: URLs and port numbers, and a server that
// floods (input kept within CMaxInput, the rest dropped and counted).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "FakeServer.h"
#include "modbus/ModbusLine.h"
#include "serial/LinkFactory.h"
#include "serial/NetLink.h"

namespace {

// A port name is parsed once, into what it names; a network address that
// cannot be connected to still parses, and says why.
TEST(NetLink, UrlsSchemesAndPortNumbers) {
    using K = TLineKind;
    struct Row {
        std::string Url;
        TLineKind Kind;
        std::string Host, Service;  // of a network URL
        std::string Problem;        // part of AddressError's text, "" when none
    } Rows[] = {
        {"tcp://10.0.0.5:4001", K::SerialServer, "10.0.0.5", "4001", ""},
        {"TCP://10.0.0.5:4001", K::SerialServer, "10.0.0.5", "4001", ""},
        {"Rfc2217://[::1]:2001/x", K::SerialServer, "::1", "2001", ""},
        {"tcp://h:1", K::SerialServer, "h", "1", ""},
        {"tcp://h:65535", K::SerialServer, "h", "65535", ""},
        {"tcp://h:0", K::SerialServer, "h", "0", "bad port number 0"},
        {"tcp://h:65536", K::SerialServer, "h", "65536", "bad port number 65536"},
        {"rfc2217://h:112636", K::SerialServer, "h", "112636", "bad port number 112636"},
        {"tcp://h:0000080", K::SerialServer, "h", "0000080", "bad port number 0000080"},
        {"tcp://h:+80", K::SerialServer, "h", "+80", "bad port number +80"},
        {"tcp://h:telnet", K::SerialServer, "h", "telnet", "bad port number telnet"},
        {"tcp://h", K::SerialServer, "h", "", "no server address"},
        {"tcp://:80", K::SerialServer, "", "80", "no server address"},
        {"tcpx://h:80", K::Device, "", "", ""},
        {"/dev/ttyUSB0", K::Device, "", "", ""},
        {"modbus-tcp://h", K::ModbusGateway, "h", "502", ""},
        {"MODBUS-TCP://h:1502", K::ModbusGateway, "h", "1502", ""},
        {"Modbus-Tcp://[::1]", K::ModbusGateway, "::1", "502", ""},
        {"modbus-tcp://127.0.0.1:112636", K::ModbusGateway, "127.0.0.1", "112636",
         "bad port number 112636"},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Url);
        const TLineAddress A = ParsePortName(R.Url);
        EXPECT_EQ(A.Kind, R.Kind);
        EXPECT_EQ(A.Port, R.Url);
        EXPECT_EQ(TNetLink::ParseUrl(R.Url).has_value(), R.Kind == K::SerialServer);
        if (!A.IsNetwork()) continue;
        EXPECT_EQ(A.Server.Host, R.Host);
        EXPECT_EQ(A.Server.Service, R.Service);
        const auto E = TNetLink::AddressError(A.Server, R.Url);
        EXPECT_EQ(E.has_value(), !R.Problem.empty());
        if (E) {
            EXPECT_EQ(E->Code(), CError_OpenFailed);
            EXPECT_NE(std::string(E->what()).find(R.Problem), std::string::npos) << E->what();
        }
        // The link made for it says the same when it is opened.
        TLine Line = MakeLine(R.Url);
        ASSERT_NE(dynamic_cast<TNetLink *>(Line.Link.get()), nullptr);
        if (E) {
            TLinkSettings S;
            S.Port = R.Url;
            const auto OpenError = Line.Link->Open(S);
            ASSERT_TRUE(OpenError.has_value());
            EXPECT_STREQ(OpenError->what(), E->what());
        }
    }
}

// However long the server floods, what waits unread stays within
// CMaxInput, every wait and read returns, and the surplus is counted.
TEST(NetLink, FloodIsCappedAndCounted) {
    TFakeServer Server(TFakeServer::TBehaviour::Flood);
    Server.FloodBytes = 64ULL << 20;
    ASSERT_TRUE(Server.Start());
    TLinkSettings S;
    S.Port = "tcp://" + Server.Address();
    TNetLink Link(*TNetLink::ParseUrl(S.Port));
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
        TModbusLine Line(MakeLine("modbus-tcp://" + Server.Address()), 1);
        TModbusRTU &Master = Line.Master();
        TPortParams Params;
        Params.Timeout = 200;
        ASSERT_TRUE(Line.Open(Params));
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
