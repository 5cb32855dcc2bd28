// Network ports: veldra-cli and the firmware job through a real ser2net in
// front of simulated sensors, in RFC 2217 (telnet) and raw TCP mode.
#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "CliTestUtil.h"
#include "FakeServer.h"
#include "Ser2Net.h"
#include "jobs/FirmwareJob.h"

namespace {

using TMode = TSer2Net::TMode;

// A firmware file with the 16-byte header (as in the local tests).
std::string Cod16(uint8_t DeviceID, uint8_t Hi, uint8_t Lo, size_t ImageSize) {
    std::string f(16, '\0');
    const uint32_t size = static_cast<uint32_t>(ImageSize);
    for (int i = 0; i < 4; ++i) f[3 + i] = static_cast<char>(size >> (8 * i));
    f[7] = static_cast<char>(Hi);
    f[8] = static_cast<char>(Lo);
    f[9] = static_cast<char>(DeviceID);
    f[10] = 'A', f[11] = 'V', f[12] = 'R';
    unsigned sum = 2;
    for (int i = 0; i < 15; ++i) sum += static_cast<uint8_t>(f[i]);
    f[15] = static_cast<char>(sum & 0xFF);
    // Every byte value, 0xFF (the Telnet escape) among them.
    for (size_t i = 0; i < ImageSize; ++i) f += static_cast<char>(i * 7 + 3);
    return f;
}

// pymodbus's TCP server (tests/cli/modbus_tcp_server.py) on 127.0.0.1 with a
// free port, stopped by its pid.
class TModbusGateway {
public:
    TModbusGateway() : FPort(TSer2Net::FreePort()) {}
    ~TModbusGateway() {
        if (FPid > 0) {
            ::kill(FPid, SIGTERM);
            ::waitpid(FPid, nullptr, 0);
        }
    }
    bool Start() {
        const std::string script = VELDRA_SOURCE_DIR "/tests/cli/modbus_tcp_server.py";
        const std::string port = std::to_string(FPort);
        FPid = ::fork();
        if (FPid == 0) {
            ::execl("/usr/bin/python3", "python3", script.c_str(), port.c_str(), nullptr);
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int wait = 5; !TSer2Net::Accepts(FPort); wait = std::min(wait * 2, 100)) {
            if (::waitpid(FPid, nullptr, WNOHANG) == FPid) {
                FPid = -1;
                return false;
            }
            if (std::chrono::steady_clock::now() > deadline) return false;
            ::poll(nullptr, 0, wait);
        }
        return true;
    }
    std::string Url() const { return "modbus-tcp://127.0.0.1:" + std::to_string(FPort); }

private:
    int FPort;
    int FPid = -1;
};

class CliNetwork : public ::testing::Test {
protected:
    void SetUp() override { FSettings = WriteTestSettings(FDir); }
    TRunResult Cli(const std::vector<std::string> &Args) { return RunCliWith(FSettings, Args); }
    static std::unique_ptr<TSimProcess> Sim(std::vector<std::string> Args) {
        auto sim = std::make_unique<TSimProcess>(Args);
        EXPECT_TRUE(sim->Start());
        return sim;
    }
    static std::unique_ptr<TSer2Net> Server(std::vector<TSer2Net::TLine> Lines) {
        auto s = std::make_unique<TSer2Net>(std::move(Lines));
        EXPECT_TRUE(s->Start());
        return s;
    }
    static bool SimSaid(TSimProcess &S, const std::string &Prefix) {
        std::string line;
        return S.WaitForLine(Prefix, line, 5000);
    }
    TTempDir FDir;
    std::string FSettings;
};

TEST_F(CliNetwork, IdentifyThroughTheServer) {
    struct TCase {
        const char *Name;
        TMode Mode;
        std::string RawLine;
        std::vector<std::string> SimArgs;
        std::string Out;
    } cases[] = {
        {"rfc2217, sensor at 19200",
         TMode::Rfc2217,
         "",
         {"--sensor-id", "17", "--version", "2.5"},
         "Baud rate: 19200\nSensor ID: 17 (0x00000011) Probe Q\nVersion: 2.05\n"},
        // Answers only at 57600: the rate switch has to reach the server.
        {"rfc2217, 16-bit ID at 57600",
         TMode::Rfc2217,
         "",
         {"--baud", "57600", "--id16", "--sensor-id", "300", "--version", "2.5"},
         "Baud rate: 57600\nSensor ID: 300 (0x0000012C) Probe W\nVersion: 2.05\n"},
        {"raw tcp, line fixed at 19200 8E1",
         TMode::RawTcp,
         "19200e81",
         {"--sensor-id", "17", "--version", "2.5"},
         "Baud rate: 19200\nSensor ID: 17 (0x00000011) Probe Q\nVersion: 2.05\n"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::string> args{"bootloader"};
        args.insert(args.end(), c.SimArgs.begin(), c.SimArgs.end());
        auto sim = Sim(args);
        auto server =
            Server({{c.Mode, sim->PtyPath(), c.RawLine.empty() ? "19200e81" : c.RawLine}});
        const TRunResult r = Cli({"identify", "--port", server->Url(0)});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(r.Out, "Port: " + server->Url(0) + "\n" + c.Out) << r.Err;
    }
}

TEST_F(CliNetwork, FlashThroughTheServerAlsoInParallel) {
    const std::string file = FDir.Write("fw.cod", Cod16(17, 2, 5, 600));
    auto a = Sim({"bootloader", "--sensor-id", "17", "--version", "2.0", "--baud", "57600",
                  "--expect", file});
    auto b = Sim({"bootloader", "--sensor-id", "17", "--version", "2.0", "--expect", file});
    auto server =
        Server({{TMode::Rfc2217, a->PtyPath()}, {TMode::RawTcp, b->PtyPath(), "19200e81"}});
    const std::string ua = server->Url(0), ub = server->Url(1);
    const TRunResult r = Cli({"--json", "flash", "--port", ua, "--port", ub, file});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    const auto o = nlohmann::json::parse(r.Out);
    ASSERT_EQ(o["ports"].size(), 2u) << r.Out;
    EXPECT_EQ(o["ports"][0]["port"], ua);
    EXPECT_EQ(o["ports"][0]["baud_rate"], 57600);
    EXPECT_EQ(o["ports"][0]["message"], "Firmware update successful");
    EXPECT_EQ(o["ports"][1]["port"], ub);
    EXPECT_EQ(o["ports"][1]["message"], "Firmware update successful");
    // The images arrived byte for byte, 0xFF included.
    EXPECT_TRUE(SimSaid(*a, "RESULT MATCH"));
    EXPECT_TRUE(SimSaid(*b, "RESULT MATCH"));
}

TEST_F(CliNetwork, NoServerIsAPortErrorNamingIt) {
    const int port = TSer2Net::FreePort();
    const std::string address = "127.0.0.1:" + std::to_string(port);
    const std::string file = FDir.Write("fw.cod", Cod16(17, 2, 5, 60));
    struct TCase {
        const char *Name;
        std::vector<std::string> Args;
    } cases[] = {
        {"identify, rfc2217", {"identify", "--port", "rfc2217://" + address}},
        {"flash, tcp", {"flash", "--port", "tcp://" + address, file}},
        {"read, rfc2217", {"read", "--port", "rfc2217://" + address, "--addr", "1", "--reg", "0"}},
        {"scan, tcp", {"scan", "--port", "tcp://" + address, "--first", "1", "--last", "2"}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const TRunResult r = Cli(c.Args);
        EXPECT_EQ(r.ExitCode, 3) << r.Out << r.Err;
        EXPECT_TRUE(Contains(r.Out + r.Err, "server " + address)) << r.Out << r.Err;
    }
}

TEST_F(CliNetwork, ModbusJobsThroughTheServer) {
    for (TMode mode : {TMode::Rfc2217, TMode::RawTcp}) {
        SCOPED_TRACE(mode == TMode::Rfc2217 ? "rfc2217" : "raw tcp");
        auto sim = Sim({"modbus", "--profiles"});
        auto server = Server({{mode, sim->PtyPath(), "19200e81"}});
        const std::string url = server->Url(0);

        const TRunResult scan = Cli({"scan", "--port", url, "--first", "1", "--last", "3"});
        EXPECT_EQ(scan.ExitCode, 0) << scan.Err;
        EXPECT_EQ(scan.Out,
                  "1\t7 (0x00000007) Probe A\t1.05\n2\t1042 (0x00000412) Probe "
                  "B\t2.10\n3\tUnknown\t3.02\n");

        const TRunResult read =
            Cli({"read", "--port", url, "--addr", "4", "--reg", "1", "--type", "uint32"});
        EXPECT_EQ(read.ExitCode, 0) << read.Err;
        EXPECT_EQ(read.Out, "16843010\n");

        // 0xFF in the data: escaped on the way out, unescaped on the way back.
        const TRunResult write = Cli(
            {"write", "--port", url, "--addr", "4", "--reg", "40", "--type", "uint16", "65535"});
        EXPECT_EQ(write.ExitCode, 0) << write.Err;
        const TRunResult back =
            Cli({"read", "--port", url, "--addr", "4", "--reg", "40", "--type", "uint16"});
        EXPECT_EQ(back.Out, "65535\n") << back.Err;

        const TRunResult comm = Cli({"comm", "read", "--port", url, "--addr", "2", "--baud-reg",
                                     "120", "--framing-reg", "121", "--addr-reg", "122"});
        EXPECT_EQ(comm.ExitCode, 0) << comm.Err;
        EXPECT_EQ(comm.Out, "Baud rate: 4\nParity, data, stop bits: 0\nAddress: 2\n");
    }
}

// The line search through a serial server sets the server's rate for each
// setting, as on a local port; the probe waits the wire time there too.
TEST_F(CliNetwork, LineSearchThroughTheServer) {
    auto sim = Sim({"modbus", "--device", "2", "--baud", "38400"});
    auto server = Server({{TMode::Rfc2217, sim->PtyPath(), "9600n81"}});
    const TRunResult R =
        Cli({"find", "--port", server->Url(0), "--bauds", "9600,38400", "--parities", "even",
             "--first", "1", "--last", "3", "--probe-timeout", "200"});
    EXPECT_EQ(R.ExitCode, 0) << R.Err;
    const std::vector<std::string> Lines = SplitLines(R.Out);
    ASSERT_EQ(Lines.size(), 2u) << R.Out;
    EXPECT_EQ(Lines[0], "2\t38400\tEven\t1\tN/A\tN/A");
    EXPECT_TRUE(Lines[1].starts_with("Found 1 device; 2 of 2 line settings searched, 6 probes"))
        << Lines[1];
}

TEST_F(CliNetwork, ModbusTcpGatewayForTheSetupJobsOnly) {
    TModbusGateway gateway;
    ASSERT_TRUE(gateway.Start());
    const std::string url = gateway.Url();
    struct TCase {
        const char *Name;
        std::vector<std::string> Args;
        int Exit;
        std::string Out;
        std::string Err;
    } cases[] = {
        {"scan: units 1 and 2 answer",
         {"scan", "--first", "1", "--last", "3"},
         0,
         "1\tN/A\tN/A\n2\tN/A\tN/A\n",
         "Scanned: 3, found: 2"},
        {"read", {"read", "--addr", "2", "--reg", "1", "--type", "uint32"}, 0, "16843010\n", ""},
        {"write",
         {"write", "--addr", "1", "--reg", "40", "--type", "uint16", "65535"},
         0,
         "Changes have been saved successfully\n",
         ""},
        {"read it back",
         {"read", "--addr", "1", "--reg", "40", "--type", "uint16"},
         0,
         "65535\n",
         ""},
        {"exception answer", {"read", "--addr", "1", "--reg", "500"}, 1, "", "Error reading data."},
        {"absent unit", {"read", "--addr", "3", "--reg", "0"}, 1, "", "Error reading data."},
        {"comm read",
         {"comm", "read", "--addr", "2", "--baud-reg", "120", "--framing-reg", "121", "--addr-reg",
          "122"},
         0,
         "Baud rate: 4\nParity, data, stop bits: 0\nAddress: 2\n",
         ""},
        {"identify is refused",
         {"identify"},
         3,
         "",
         "a Modbus TCP gateway does not carry firmware updates"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::string> args = c.Args;
        args.insert(args.begin() + (args[0] == "comm" ? 2 : 1), {"--port", url});
        const TRunResult r = Cli(args);
        EXPECT_EQ(r.ExitCode, c.Exit) << r.Err;
        EXPECT_EQ(r.Out, c.Out) << r.Err;
        EXPECT_TRUE(Contains(r.Err, c.Err)) << r.Err;
    }
    const std::string file = FDir.Write("fw.cod", Cod16(17, 2, 5, 60));
    const TRunResult flash = Cli({"flash", "--port", url, file});
    EXPECT_EQ(flash.ExitCode, 3) << flash.Err;
    EXPECT_TRUE(Contains(flash.Out + flash.Err, "does not carry firmware updates"))
        << flash.Out << flash.Err;
}

// [PORTS] of the settings file: listed after the local ports, in file
// order, as "name (URL)"; lines without a URL are no ports.
TEST_F(CliNetwork, PortsSectionListsNetworkPortsLast) {
    auto sim = Sim({"bootloader"});
    const std::string settings = FDir.Write("ports.ini",
                                            "[PORTS]\n"
                                            "Zeta cabinet=rfc2217://127.0.0.1:2001\n"
                                            "Alpha gateway = modbus-tcp://127.0.0.1\n"
                                            "no url=/dev/ttyS0\n"
                                            "bare\n"
                                            "Raw=tcp://[::1]:4001\n");
    const TRunResult r =
        RunCliWith(settings, {"ports"}, "", {"VELDRA_EXTRA_PORTS=" + sim->PtyPath()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const std::vector<std::string> lines = SplitLines(r.Out);
    ASSERT_GE(lines.size(), 4u) << r.Out;
    const std::vector<std::string> last(lines.end() - 3, lines.end());
    EXPECT_EQ(last, (std::vector<std::string>{
                        "rfc2217://127.0.0.1:2001\tZeta cabinet (rfc2217://127.0.0.1:2001)",
                        "modbus-tcp://127.0.0.1\tAlpha gateway (modbus-tcp://127.0.0.1)",
                        "tcp://[::1]:4001\tRaw (tcp://[::1]:4001)"}));
    // The local port is among those before them.
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end() - 3, [&](const std::string &l) {
        return l.rfind(sim->PtyPath() + "\t", 0) == 0;
    })) << r.Out;
}

// [PORTS] entries that cannot be opened are not listed; each is named once
// on stderr, and a name is listed once.
TEST_F(CliNetwork, PortsSectionLeavesOutWhatCannotBeOpened) {
    const std::string settings = FDir.Write("bad-ports.ini",
                                            "[PORTS]\n"
                                            "Good=tcp://127.0.0.1:4001\n"
                                            "Ftp=ftp://x\n"
                                            "Empty=tcp://\n"
                                            "Wraps=modbus-tcp://127.0.0.1:112636\n"
                                            "Good=tcp://127.0.0.1:4002\n");
    for (const bool json : {false, true}) {
        std::vector<std::string> args{"ports"};
        if (json) args.insert(args.begin(), "--json");
        const TRunResult r = RunCliWith(settings, args, "", {"VELDRA_EXTRA_PORTS="});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_TRUE(Contains(r.Out, "tcp://127.0.0.1:4001")) << r.Out;
        for (const char *bad : {"ftp://x", "tcp://\"", "112636", "4002"}) {
            EXPECT_FALSE(Contains(r.Out, bad)) << bad << "\n" << r.Out;
            const size_t at = r.Err.find(bad);
            EXPECT_NE(at, std::string::npos) << bad << "\n" << r.Err;
            EXPECT_EQ(r.Err.find(bad, at + 1), std::string::npos) << "warned twice: " << bad << "\n"
                                                                  << r.Err;
        }
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 4) << r.Err;
    }
}

// The server goes away in the middle of an upload: the update has failed
// because the port was disconnected, and the link is closed.
TEST_F(CliNetwork, ServerGoneMidUpload) {
    const std::string file = FDir.Write("fw.cod", Cod16(17, 2, 5, 4000));
    auto sim = Sim({"bootloader", "--sensor-id", "17", "--version", "2.0", "--baud", "57600"});
    auto server = Server({{TMode::Rfc2217, sim->PtyPath()}});
    TBootLine line(server->Url(0), TFWUpdSettings{5, 15, 1000});
    TXComm &link = line.XComm();
    const TBootSensor sensor = IdentifyBootSensor(line);
    ASSERT_TRUE(sensor.Found);
    EXPECT_EQ(sensor.BaudRate, 57600);
    const TFirmwareImage image = LoadFirmwareImage(file);
    ASSERT_TRUE(image.Ok());
    const TUploadResult r = UploadFirmware(link, image, [&](int Sent, int, int) {
        if (Sent == 5) server->Kill();
    });
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Text(), TJobText::UpdateFailed);
    const std::string error = JobText(r.Error);
    EXPECT_EQ(r.Error.Text, TJobText::UploadStopped);
    EXPECT_TRUE(Contains(error, "Port Disconnected")) << error;
    EXPECT_TRUE(Contains(error, "server 127.0.0.1:" + std::to_string(server->Port(0)))) << error;
    EXPECT_GE(r.Sent, 5);
    EXPECT_FALSE(link.Link().Connected());
}

// A server that sends without pause: every command ends by its own
// deadlines with its usual failure and JSON object, its memory stays small
// (the flood is far larger), and the trace counts what was dropped.
TEST_F(CliNetwork, FloodingServerEndsInBoundedTimeAndMemory) {
    const std::string file = FDir.Write("fw.cod", Cod16(17, 2, 5, 600));
    struct TCase {
        const char *Name;
        std::string Scheme;
        std::vector<std::string> Args;  // the port follows the command
        int Exit;
        std::string Error;
    } cases[] = {
        {"identify over tcp", "tcp://", {"identify"}, 1, "Unable to find sensor"},
        {"flash over tcp", "tcp://", {"flash", file}, 1, "Unable to find sensor"},
        {"read over modbus-tcp",
         "modbus-tcp://",
         {"read", "--addr", "1", "--reg", "0"},
         1,
         "Error reading data."},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeServer server(TFakeServer::TBehaviour::Flood);
        server.FloodBytes = 768ULL << 20;
        ASSERT_TRUE(server.Start());
        std::vector<std::string> args{"--json", "--trace", c.Args[0], "--port",
                                      c.Scheme + server.Address()};
        args.insert(args.end(), c.Args.begin() + 1, c.Args.end());
        const auto start = std::chrono::steady_clock::now();
        const TRunResult r = Cli(args);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        EXPECT_EQ(r.ExitCode, c.Exit) << r.Out << r.Err.substr(0, 2000);
        const auto o = nlohmann::json::parse(r.Out, nullptr, false);
        ASSERT_FALSE(o.is_discarded()) << r.Out;
        EXPECT_EQ(o.value("ok", true), false);
        EXPECT_TRUE(Contains(r.Out, c.Error)) << r.Out;
        EXPECT_TRUE(Contains(r.Err, "RX dropped ")) << r.Err.substr(0, 2000);
        EXPECT_LT(r.MaxRssKb, 200L * 1024) << "flooded " << server.Flooded() << " bytes";
        EXPECT_LT(seconds, 60);
        EXPECT_LE(server.Connections(), 2);  // one for each rate at most
    }
}

// A server that drops the connection while the sensor is looked for: a
// port error naming it (exit 3), over every kind of network port.
TEST_F(CliNetwork, ServerDroppingTheConnectionIsAPortError) {
    for (const std::string scheme : {"tcp://", "rfc2217://", "modbus-tcp://"}) {
        SCOPED_TRACE(scheme);
        TFakeServer server(TFakeServer::TBehaviour::DropOnRequest);
        ASSERT_TRUE(server.Start());
        const bool modbus = scheme == "modbus-tcp://";
        std::vector<std::string> args{"identify", "--port", scheme + server.Address()};
        if (modbus)
            args = {"read", "--port", scheme + server.Address(), "--addr", "1", "--reg", "0"};
        const TRunResult r = Cli(args);
        EXPECT_EQ(r.ExitCode, 3) << r.Out << r.Err;
        EXPECT_TRUE(Contains(r.Err, "server " + server.Address())) << r.Err;
        EXPECT_FALSE(Contains(r.Out + r.Err, "Unable to find sensor")) << r.Out << r.Err;
        if (scheme == "tcp://") {
            EXPECT_TRUE(Contains(r.Err, "Port Disconnected")) << r.Err;
            EXPECT_EQ(server.Connections(), 1);
        }
    }
}

// Every line setting an RFC 2217 server answers is compared with the one
// asked for; a server without the option is told apart.
TEST_F(CliNetwork, Rfc2217AnswersAreChecked) {
    struct TCase {
        const char *Name;
        TFakeServer::TBehaviour Behaviour;
        std::map<uint8_t, uint32_t> Answers;
        std::vector<std::string> Args;  // after --port
        int Exit;
        std::string Error;
    } cases[] = {
        {"answers as asked",
         TFakeServer::TBehaviour::Rfc2217,
         {},
         {"identify"},
         1,
         "Unable to find sensor"},
        {"another rate",
         TFakeServer::TBehaviour::Rfc2217,
         {{1, 9600}},
         {"identify"},
         3,
         "set baud rate 9600 instead of 57600"},
        {"another data size",
         TFakeServer::TBehaviour::Rfc2217,
         {{2, 7}},
         {"identify"},
         3,
         "set data bits 7 instead of 8"},
        {"another parity",
         TFakeServer::TBehaviour::Rfc2217,
         {{3, 2}},
         {"identify"},
         3,
         "set parity odd instead of even"},
        {"another stop size",
         TFakeServer::TBehaviour::Rfc2217,
         {{4, 2}},
         {"identify"},
         3,
         "set stop bits 2 instead of 1"},
        {"parity of a Modbus read",
         TFakeServer::TBehaviour::Rfc2217,
         {{3, 3}},
         {"read", "--baud", "9600", "--parity", "none", "--addr", "1", "--reg", "0"},
         3,
         "set parity even instead of none"},
        {"no RFC 2217",
         TFakeServer::TBehaviour::RefuseComPort,
         {},
         {"identify"},
         3,
         "does not accept line settings (RFC 2217); if its line is preset, use tcp://127.0.0.1:"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeServer server(c.Behaviour);
        server.Answers = c.Answers;
        ASSERT_TRUE(server.Start());
        std::vector<std::string> args{c.Args[0], "--port", "rfc2217://" + server.Address()};
        args.insert(args.end(), c.Args.begin() + 1, c.Args.end());
        const TRunResult r = Cli(args);
        EXPECT_EQ(r.ExitCode, c.Exit) << r.Out << r.Err;
        EXPECT_TRUE(Contains(r.Out + r.Err, c.Error)) << r.Out << r.Err;
        if (c.Exit == 3) {
            EXPECT_TRUE(Contains(r.Err, "server " + server.Address())) << r.Err;
        }
    }
}

// Port names that cannot be connected to: refused before any connection,
// as bad port names (exit 3); a host that cannot be resolved is reported
// with the resolver's own reason.
TEST_F(CliNetwork, BadServerAddresses) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    const int rc = ::getaddrinfo("nohost.invalid", "2001", &hints, &list);
    if (list) ::freeaddrinfo(list);
    ASSERT_NE(rc, 0);
    const std::string reason = std::string("cannot resolve nohost.invalid: ") + ::gai_strerror(rc);
    struct TCase {
        std::string Port;
        std::string Error;
    } cases[] = {
        {"modbus-tcp://127.0.0.1:112636", "bad port number 112636"},
        {"tcp://127.0.0.1:65536", "bad port number 65536"},
        {"rfc2217://127.0.0.1:0", "bad port number 0"},
        {"tcp://127.0.0.1:-1", "bad port number -1"},
        {"tcp://127.0.0.1:telnet", "bad port number telnet"},
        {"tcp://nohost.invalid:2001", reason},
        {"modbus-tcp://nohost.invalid", reason},
    };
    for (const TCase &c : cases) {
        for (const std::string command : {"identify", "read"}) {
            SCOPED_TRACE(c.Port + " " + command);
            std::vector<std::string> args{command, "--port", c.Port};
            if (command == "read") args.insert(args.end(), {"--addr", "1", "--reg", "0"});
            const TRunResult r = Cli(args);
            EXPECT_EQ(r.ExitCode, 3) << r.Out << r.Err;
            if (command == "identify" && c.Port.rfind("modbus-tcp", 0) == 0)
                continue;  // refused before
            EXPECT_TRUE(Contains(r.Err, c.Error)) << r.Err;
        }
    }
}

// Schemes are taken in any case.
TEST_F(CliNetwork, SchemesInAnyCase) {
    auto boot = Sim({"bootloader", "--sensor-id", "17", "--version", "2.5"});
    auto raw = Sim({"bootloader", "--sensor-id", "17", "--version", "2.5"});
    auto server =
        Server({{TMode::Rfc2217, boot->PtyPath()}, {TMode::RawTcp, raw->PtyPath(), "19200e81"}});
    const std::string rfc = "Rfc2217://127.0.0.1:" + std::to_string(server->Port(0));
    const std::string tcp = "TCP://127.0.0.1:" + std::to_string(server->Port(1));
    for (const std::string &url : {rfc, tcp}) {
        SCOPED_TRACE(url);
        const TRunResult r = Cli({"identify", "--port", url});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_TRUE(Contains(r.Out, "Sensor ID: 17")) << r.Out;
    }
    TModbusGateway gateway;
    ASSERT_TRUE(gateway.Start());
    std::string url = gateway.Url();
    url.replace(0, 10, "MODBUS-TCP");
    const TRunResult read =
        Cli({"read", "--port", url, "--addr", "2", "--reg", "1", "--type", "uint32"});
    EXPECT_EQ(read.ExitCode, 0) << read.Err;
    EXPECT_EQ(read.Out, "16843010\n");
    const TRunResult identify = Cli({"identify", "--port", url});
    EXPECT_EQ(identify.ExitCode, 3) << identify.Err;
    EXPECT_TRUE(Contains(identify.Err, "does not carry firmware updates")) << identify.Err;
}

}  // namespace
