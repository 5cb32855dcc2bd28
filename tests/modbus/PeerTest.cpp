// Proof against peers written elsewhere: our master against a third-party
// RTU server (pymodbus) and a libmodbus-based master (mbpoll) against our
// simulated line. Skipped with a message when a peer program is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "PeerProcess.h"
#include "PortMaster.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "modbus/ModbusRTU.h"
#include "modbus/RegisterCodecs.h"

namespace {

constexpr const char *Python = "/usr/bin/python3";
constexpr const char *Socat = "/usr/bin/socat";
constexpr const char *Mbpoll = "/usr/bin/mbpoll";

bool Executable(const char *Path) {
    return access(Path, X_OK) == 0;
}

TPortParams LineParams(int TimeoutMs) {
    TPortParams P;
    P.BaudRate = br19200;
    P.ParityBits = prNone;
    P.StopBits = sbOneStopBit;
    P.Timeout = TimeoutMs;
    return P;
}

TEST(Peers, MasterAgainstPymodbusServer) {
    if (!Executable(Python) || !Executable(Socat) ||
        RunProgram({Python, "-c", "import pymodbus.server.async_io, serial_asyncio"}).ExitCode != 0)
        GTEST_SKIP() << "needs /usr/bin/python3 with pymodbus and pyserial-asyncio, and socat";
    TTempDir Dir;
    const std::string Ours = Dir.File("master"), Theirs = Dir.File("server");
    TPeerProcess Link(
        {Socat, "-d", "-d", "pty,raw,echo=0,link=" + Ours, "pty,raw,echo=0,link=" + Theirs});
    ASSERT_TRUE(Link.Start());
    ASSERT_TRUE(Link.WaitFor("starting data transfer loop")) << Link.Output();
    // Holding our end open keeps socat running when the master closes it.
    const int Hold = open(Ours.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(Hold, 0);

    TPeerProcess Server({Python,
                         std::string(VELDRA_SOURCE_DIR) + "/tests/modbus/pymodbus_rtu_server.py",
                         Theirs, "17", "19200"});
    ASSERT_TRUE(Server.Start());
    ASSERT_TRUE(Server.WaitFor("READY")) << Server.Output();

    TPortMaster M(17);
    ASSERT_TRUE(M.Open(Ours, LineParams(2000)));
    EXPECT_TRUE(M.Scan(10));

    TModbusRegisters Regs(10);
    ASSERT_TRUE(M.ReadHoldingRegs(0, Regs));
    for (uint16_t n = 0; n < 10; ++n) EXPECT_EQ(Regs[n], 0x0100 + n);

    TModbusBits Bits(10);
    ASSERT_TRUE(M.ReadDiscreteInputs(0, Bits));
    EXPECT_EQ(FormatBits(Bits), "0000001101");

    EXPECT_TRUE(M.WriteHoldingReg(5, 0x1234));
    EXPECT_TRUE(M.WriteHoldingRegs(20, {0x000A, 0x0102, 0xFFFF}));
    TModbusRegisters Back(2);
    ASSERT_TRUE(M.ReadHoldingRegs(4, Back));
    EXPECT_EQ(Back, (TModbusRegisters{0x0104, 0x1234}));
    TModbusRegisters Block(3);
    ASSERT_TRUE(M.ReadHoldingRegs(20, Block));
    EXPECT_EQ(Block, (TModbusRegisters{0x000A, 0x0102, 0xFFFF}));

    // Register 500 does not exist: the exception answer ends the read at
    // once (the bound only has to be well below the 2 s time-out).
    TModbusRegisters Kept = {1, 2};
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_FALSE(M.ReadHoldingRegs(500, Kept));
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(1500));
    EXPECT_EQ(Kept, (TModbusRegisters{1, 2}));
    // The line is still usable after it.
    EXPECT_TRUE(M.ReadHoldingRegs(0, Regs));

    M.Close();
    close(Hold);
}

// Values that mbpoll printed: lines "[N]: <value>".
std::vector<std::string> PolledValues(const std::string &Out) {
    std::vector<std::string> Values;
    size_t Pos = 0;
    while ((Pos = Out.find("]: ", Pos)) != std::string::npos) {
        Pos += 3;
        size_t End = Out.find('\n', Pos);
        std::string V = Out.substr(Pos, End - Pos);
        while (!V.empty() && (V.front() == '\t' || V.front() == ' ')) V.erase(0, 1);
        Values.push_back(V);
    }
    return Values;
}

TEST(Peers, MbpollAgainstSimulatedLine) {
    if (!Executable(Mbpoll)) GTEST_SKIP() << "needs mbpoll (" << Mbpoll << ")";
    TSimProcess Sim({"modbus", "--profiles", "--log"});
    ASSERT_TRUE(Sim.Start());
    const std::vector<std::string> Base = {Mbpoll, "-m", "rtu", "-b", "19200", "-P", "none", "-d",
                                           "8",    "-s", "1",   "-0", "-1",    "-o", "2"};
    auto Run = [&](std::vector<std::string> Args) {
        std::vector<std::string> Argv = Base;
        Argv.insert(Argv.end(), Args.begin(), Args.end());
        return RunProgram(Argv, "", {}, 30000);
    };

    // Vendor text of the device at address 1 (first 3 registers).
    TRunResult R = Run({"-a", "1", "-t", "4:hex", "-r", "18", "-c", "3", Sim.PtyPath()});
    ASSERT_EQ(R.ExitCode, 0) << R.Out << R.Err;
    EXPECT_EQ(PolledValues(R.Out), (std::vector<std::string>{"0x7777", "0x772E", "0x7665"}));

    R = Run({"-a", "3", "-t", "4", "-r", "832", "-c", "2", Sim.PtyPath()});
    ASSERT_EQ(R.ExitCode, 0) << R.Out << R.Err;
    EXPECT_EQ(PolledValues(R.Out), (std::vector<std::string>{"3100", "770"}));

    R = Run({"-a", "1", "-t", "1", "-r", "0", "-c", "4", Sim.PtyPath()});
    ASSERT_EQ(R.ExitCode, 0) << R.Out << R.Err;
    EXPECT_EQ(PolledValues(R.Out), (std::vector<std::string>{"1", "0", "1", "1"}));

    // One value writes a single register, several write a block.
    R = Run({"-a", "2", "-t", "4", "-r", "40", Sim.PtyPath(), "4660"});
    ASSERT_EQ(R.ExitCode, 0) << R.Out << R.Err;
    R = Run({"-a", "2", "-t", "4", "-r", "50", Sim.PtyPath(), "1", "2", "3"});
    ASSERT_EQ(R.ExitCode, 0) << R.Out << R.Err;
    R = Run({"-a", "2", "-t", "4", "-r", "40", "-c", "1", Sim.PtyPath()});
    EXPECT_EQ(PolledValues(R.Out), (std::vector<std::string>{"4660"}));
    R = Run({"-a", "2", "-t", "4", "-r", "50", "-c", "3", Sim.PtyPath()});
    EXPECT_EQ(PolledValues(R.Out), (std::vector<std::string>{"1", "2", "3"}));

    // An unknown register gives an exception that mbpoll decodes as such.
    R = Run({"-a", "1", "-t", "4", "-r", "5000", "-c", "1", Sim.PtyPath()});
    EXPECT_NE(R.Out.find("Illegal data address") + R.Err.find("Illegal data address"),
              2 * std::string::npos)
        << R.Out << R.Err;

    // What mbpoll sent was parsed as the frames it meant: the logged
    // requests include the block write with its byte count.
    std::string Line;
    bool SawBlockWrite = false;
    while (!SawBlockWrite && Sim.ReadLine(Line, 2000))
        SawBlockWrite = Line.rfind("REQ 02 10 00 32 00 03 06 00 01 00 02 00 03", 0) == 0;
    EXPECT_TRUE(SawBlockWrite);
}

}  // namespace
