// The RTU master against the simulated Modbus line.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "PortMaster.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "modbus/ModbusRTU.h"
#include "modbus/RegisterCodecs.h"
#include "serial/FrameTrace.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point Start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Start).count();
}

TPortParams Params(int TimeoutMs, TBaudRate Baud = br19200, TStopBits Stop = sbOneStopBit,
                   TParityBits Parity = prNone) {
    TPortParams P;
    P.BaudRate = Baud;
    P.ParityBits = Parity;
    P.StopBits = Stop;
    P.Timeout = TimeoutMs;
    return P;
}

// A simulated line started for one test.
class SimLine : public ::testing::Test {
protected:
    void StartSim(std::vector<std::string> Args) {
        Args.insert(Args.begin(), "modbus");
        FSim = std::make_unique<TSimProcess>(Args);
        ASSERT_TRUE(FSim->Start()) << "simulator did not start";
    }
    const std::string &Port() const { return FSim->PtyPath(); }
    // Next request line of a simulator started with --log.
    std::string NextRequest() {
        std::string Line;
        EXPECT_TRUE(FSim->WaitForLine("REQ ", Line, 5000));
        return Line;
    }
    std::unique_ptr<TSimProcess> FSim;
};

TEST_F(SimLine, ReadsAndWritesTheDemoDevices) {
    StartSim({"--profiles"});
    TPortMaster M(1);
    ASSERT_TRUE(M.Open(Port(), Params(1000)));

    TModbusRegisters Regs(10);
    ASSERT_TRUE(M.ReadHoldingRegs(0, Regs));
    for (uint16_t i = 0; i < 10; ++i) EXPECT_EQ(Regs[i], 0x0100 + i);

    TModbusRegisters Vendor(32);
    ASSERT_TRUE(M.ReadHoldingRegs(18, Vendor));
    EXPECT_EQ(DecodeText(Vendor), "www.veldrasens.com");

    TModbusBits Bits(10);
    ASSERT_TRUE(M.ReadDiscreteInputs(0, Bits));
    EXPECT_EQ(FormatBits(TModbusBits(Bits.begin(), Bits.begin() + 4)), "1101");
    // Inputs 8 and 9 come from the second status byte (0x2C: bits 0, 1 clear).
    EXPECT_EQ(FormatBits(Bits), "0000001101");

    ASSERT_TRUE(M.WriteHoldingReg(20, 0xBEEF));
    ASSERT_TRUE(M.WriteHoldingRegs(30, {0x000A, 0x0102, 0xFFFF}));
    TModbusRegisters Back(13);
    ASSERT_TRUE(M.ReadHoldingRegs(20, Back));
    EXPECT_EQ(Back[0], 0xBEEF);
    EXPECT_EQ((TModbusRegisters(Back.begin() + 10, Back.end())),
              (TModbusRegisters{0x000A, 0x0102, 0xFFFF}));

    // The other demo maps answer through their own masters (the port is
    // opened exclusively, so the first master lets go of it).
    M.Close();
    TPortMaster M3(3);
    ASSERT_TRUE(M3.Open(Port(), Params(1000)));
    TModbusRegisters Id(2);
    ASSERT_TRUE(M3.ReadHoldingRegs(832, Id));
    EXPECT_EQ(Id, (TModbusRegisters{3100, 0x0302}));
}

// The time-out bounds silence, not the whole answer: an answer dribbling in
// byte by byte takes far longer than the time-out and still passes, while
// the same silence before the first byte fails.
TEST_F(SimLine, TimeoutLimitsSilenceNotTheAnswer) {
    StartSim({"--profiles", "--byte-gap-ms", "60"});
    TPortMaster M(1);
    ASSERT_TRUE(M.Open(Port(), Params(600)));
    TModbusRegisters Regs(10);
    const auto Start = Clock::now();
    ASSERT_TRUE(M.ReadHoldingRegs(0, Regs));
    EXPECT_GT(MsSince(Start), 600);  // 24 gaps of 60 ms
    EXPECT_EQ(Regs[9], 0x0109);
}

TEST_F(SimLine, SilenceBeyondTheTimeoutFails) {
    StartSim({"--profiles", "--delay-ms", "1500"});
    TPortMaster M(1);
    ASSERT_TRUE(M.Open(Port(), Params(300)));
    TModbusRegisters Regs = {7};
    EXPECT_FALSE(M.ReadHoldingRegs(0, Regs));
    EXPECT_EQ(Regs, TModbusRegisters{7});
}

TEST_F(SimLine, DiscreteInputPacking) {
    // Inputs 0..19 with a pattern whose every status byte differs, read from
    // a start inside the first byte so that bits cross byte boundaries.
    const std::vector<int> Pattern = {1, 0, 0, 1, 1, 1, 0, 1, 1, 0, 1, 0, 0, 0, 1, 1, 0, 1, 1, 0};
    std::string Json;
    for (int v : Pattern) Json += (Json.empty() ? "" : ",") + std::to_string(v);
    TTempDir Dir;
    const std::string File = Dir.Write(
        "inputs.json", "{\"devices\": [{\"address\": 9, \"inputs\": {\"0\": [" + Json + "]}}]}");
    StartSim({"--registers", File});
    TPortMaster M(9);
    ASSERT_TRUE(M.Open(Port(), Params(1000)));
    for (size_t Start : {size_t{0}, size_t{3}, size_t{7}}) {
        for (size_t Count : {size_t{1}, size_t{8}, size_t{9}, size_t{10}, 20 - Start}) {
            if (Start + Count > Pattern.size()) continue;
            SCOPED_TRACE("start " + std::to_string(Start) + " count " + std::to_string(Count));
            TModbusBits Bits(Count);
            ASSERT_TRUE(M.ReadDiscreteInputs(static_cast<uint16_t>(Start), Bits));
            for (size_t k = 0; k < Count; ++k) EXPECT_EQ(Bits[k], Pattern[Start + k] != 0) << k;
        }
    }
    // An input past the last one is refused by the device.
    TModbusBits Past(2, true);
    EXPECT_FALSE(M.ReadDiscreteInputs(19, Past));
    EXPECT_EQ(Past, TModbusBits(2, true));
}

// Each validation step, one faulty device per step on one line. The array
// must keep its contents whenever the answer is refused.
TEST_F(SimLine, RefusesFaultyAnswersAndKeepsArrays) {
    StartSim({"--device",    "1", "--device", "2", "--wrong-addr", "2", "--device", "3",
              "--bad-crc",   "3", "--device", "4", "--wrong-func", "4", "--device", "5",
              "--bad-count", "5", "--device", "6", "--bad-echo",   "6", "--device", "7",
              "--short",     "7"});
    // Refusals that can be told from the first bytes must not wait for the
    // time-out; the bound is generous so that a loaded machine still passes.
    constexpr int Timeout = 4000;
    constexpr long long Early = 2000;
    struct Row {
        const char *Name;
        uint8_t Device;
        uint16_t Register;
        bool EndsEarly;
    };
    const Row Rows[] = {
        {"wrong address", 2, 0, true},  {"exception answer", 1, 5000, true},
        {"wrong function", 4, 0, true}, {"crc", 3, 0, false},
        {"byte count", 5, 0, false},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        TPortMaster M(R.Device);
        ASSERT_TRUE(M.Open(Port(), Params(R.EndsEarly ? Timeout : 300)));
        TModbusRegisters Regs = {0xAAAA, 0xBBBB};
        auto Start = Clock::now();
        EXPECT_FALSE(M.ReadHoldingRegs(R.Register, Regs));
        if (R.EndsEarly) {
            EXPECT_LT(MsSince(Start), Early);
        }
        EXPECT_EQ(Regs, (TModbusRegisters{0xAAAA, 0xBBBB}));
        TModbusBits Bits = {true, false, true};
        EXPECT_FALSE(M.ReadDiscreteInputs(R.Register, Bits));
        EXPECT_EQ(Bits, (TModbusBits{true, false, true}));
    }

    {
        TPortMaster Echo(6);
        ASSERT_TRUE(Echo.Open(Port(), Params(300)));
        EXPECT_FALSE(Echo.WriteHoldingReg(10, 5));
        EXPECT_FALSE(Echo.WriteHoldingRegs(11, {6, 7}));
        TModbusRegisters Stored(3);
        ASSERT_TRUE(Echo.ReadHoldingRegs(10, Stored));  // the device did take the writes
        EXPECT_EQ(Stored, (TModbusRegisters{5, 6, 7}));
    }
    TModbusRegisters Regs = {1};
    {
        TPortMaster Short(7);
        ASSERT_TRUE(Short.Open(Port(), Params(200)));
        EXPECT_FALSE(Short.ReadHoldingRegs(0, Regs));
        EXPECT_EQ(Regs, TModbusRegisters{1});
        EXPECT_FALSE(Short.WriteHoldingReg(10, 5));
    }
    {
        TPortMaster Absent(9);
        ASSERT_TRUE(Absent.Open(Port(), Params(200)));
        EXPECT_FALSE(Absent.ReadHoldingRegs(0, Regs));
        EXPECT_FALSE(Absent.WriteHoldingReg(10, 5));
    }

    // After every refusal a good device still answers on the same line.
    TPortMaster Good(1);
    ASSERT_TRUE(Good.Open(Port(), Params(1000)));
    EXPECT_TRUE(Good.ReadHoldingRegs(0, Regs));
}

TEST_F(SimLine, ScanAcceptsAnySevenBytes) {
    StartSim({"--device", "1", "--device", "2", "--wrong-addr", "2", "--device", "3", "--bad-crc",
              "3", "--device", "7", "--short", "7"});
    struct Row {
        const char *Name;
        uint8_t Device;
        uint16_t Register;
        bool Found;
    };
    const Row Rows[] = {
        {"good device", 1, 10, true},
        {"other address in the answer", 2, 10, true},
        {"wrong crc", 3, 10, true},
        {"six bytes only", 7, 10, false},
        {"exception answer (5 bytes)", 1, 5000, false},
        {"nobody there", 9, 10, false},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        TPortMaster M(R.Device);
        ASSERT_TRUE(M.Open(Port(), Params(200)));
        EXPECT_EQ(M.Scan(R.Register), R.Found);
    }
}

TEST_F(SimLine, QuantityLimits) {
    TTempDir Dir;
    std::string Values;
    for (int i = 0; i < 200; ++i) Values += (i ? "," : "") + std::to_string(i);
    const std::string File = Dir.Write(
        "regs.json", "{\"devices\": [{\"address\": 1, \"holding\": {\"0\": [" + Values + "]}}]}");
    StartSim({"--registers", File, "--no-limits", "--log"});
    TPortMaster M(1);
    ASSERT_TRUE(M.Open(Port(), Params(500)));

    TModbusRegisters Regs127(127);
    EXPECT_TRUE(M.ReadHoldingRegs(0, Regs127));
    EXPECT_EQ(Regs127[126], 126);
    NextRequest();
    // 128 registers: the device sends 261 bytes but the one-byte count can
    // never equal 256.
    TModbusRegisters Regs128(128, 0x5555);
    EXPECT_FALSE(M.ReadHoldingRegs(0, Regs128));
    EXPECT_EQ(Regs128, TModbusRegisters(128, 0x5555));
    EXPECT_NE(NextRequest().find("ANS 01 03 00 00 00"), std::string::npos);

    // More than 127 registers cannot be framed: refused without traffic.
    EXPECT_FALSE(M.WriteHoldingRegs(0, TModbusRegisters(128, 1)));
    // Empty arrays succeed without traffic.
    TModbusRegisters None;
    TModbusBits NoBits;
    EXPECT_TRUE(M.ReadHoldingRegs(0, None));
    EXPECT_TRUE(M.ReadDiscreteInputs(0, NoBits));
    EXPECT_TRUE(M.WriteHoldingRegs(0, None));
    // So the next request the line sees is this one.
    EXPECT_TRUE(M.WriteHoldingReg(3, 0x0033));
    EXPECT_EQ(NextRequest().rfind("REQ 01 06 00 03 00 33", 0), 0u);

    // 127 registers is the largest write.
    EXPECT_TRUE(M.WriteHoldingRegs(0, TModbusRegisters(127, 7)));
    EXPECT_EQ(NextRequest().rfind("REQ 01 10 00 00 00 7F FE 00 07", 0), 0u);
}

TEST_F(SimLine, OpenAppliesLineSettings) {
    StartSim({"--profiles"});
    TPortMaster M(1);
    ASSERT_TRUE(M.Open(Port(), Params(300, br19200, sbOneStopBit, prEven)));
    const TLinkSettings P = M.Link().Settings();
    EXPECT_EQ(P.ParityCheck, true);
    EXPECT_EQ(P.Parity, prEven);
    EXPECT_EQ(P.DataBits, dbEight);
    EXPECT_EQ(P.ControlRTS, rtsToggle);
    EXPECT_EQ(P.ControlDTR, dtrEnable);
    EXPECT_EQ(M.Timeout(), 300u);
    TModbusRegisters Regs(1);
    EXPECT_TRUE(M.ReadHoldingRegs(0, Regs));

    M.Close();
    {
        TPortMaster Plain(1);
        ASSERT_TRUE(Plain.Open(Port(), Params(300)));
        EXPECT_NE(Plain.Link().Settings().ParityCheck, true);
    }

    // Reopening applies the new settings: the simulated devices run at
    // 19200 baud and one stop bit and ignore a host set otherwise.
    ASSERT_TRUE(M.Open(Port(), Params(200, br9600)));
    EXPECT_EQ(M.Link().Settings().BaudRate, br9600);
    EXPECT_FALSE(M.ReadHoldingRegs(0, Regs));
    ASSERT_TRUE(M.Open(Port(), Params(200, br19200, sbTwoStopBits)));
    EXPECT_FALSE(M.ReadHoldingRegs(0, Regs));
    ASSERT_TRUE(M.Open(Port(), Params(200)));
    EXPECT_TRUE(M.ReadHoldingRegs(0, Regs));

    M.Close();
    EXPECT_FALSE(M.Link().Connected());
    TPortMaster Missing(1);
    EXPECT_FALSE(Missing.Open("/nonexistent/ttyVeldra", Params(100)));
    EXPECT_FALSE(Missing.Link().Connected());
}

TEST_F(SimLine, TracesRequestAndAnswer) {
    StartSim({"--profiles"});
    struct Seen {
        TTraceDir Dir;
        std::vector<uint8_t> Bytes;
    };
    std::vector<Seen> Trace;
    SetFrameTraceHook([&](const std::string &, TTraceDir Dir, const uint8_t *Data, size_t Count) {
        Trace.push_back({Dir, std::vector<uint8_t>(Data, Data + Count)});
    });
    TPortMaster M(5);
    ASSERT_TRUE(M.Open(Port(), Params(300)));
    TModbusRegisters Regs(1);
    EXPECT_FALSE(M.ReadHoldingRegs(10, Regs));  // device 5 answers with a bad CRC
    SetFrameTraceHook(nullptr);
    ASSERT_EQ(Trace.size(), 2u);
    EXPECT_EQ(Trace[0].Dir, TTraceDir::Tx);
    const std::vector<uint8_t> Head = {0x05, 0x03, 0x00, 0x0A, 0x00, 0x01};
    ASSERT_EQ(Trace[0].Bytes.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(Trace[0].Bytes.begin(), Trace[0].Bytes.begin() + 6), Head);
    EXPECT_EQ(Trace[1].Dir, TTraceDir::Rx);
    EXPECT_EQ(Trace[1].Bytes.size(), 7u);  // the refused answer is traced too
}

TEST_F(SimLine, PortErrorsReachTheCaller) {
    StartSim({"--profiles", "--hangup-after", "1"});
    TPortMaster M(1);
    ASSERT_TRUE(M.Open(Port(), Params(500)));
    TModbusRegisters Regs(1);
    EXPECT_TRUE(M.ReadHoldingRegs(0, Regs));
    // The line hangs up when the next request arrives.
    try {
        M.ReadHoldingRegs(0, Regs);
        ADD_FAILURE() << "no error after the hang-up";
    } catch (const EComPort &E) {
        EXPECT_EQ(E.Code(), CError_Disconnected);
    }
    EXPECT_FALSE(M.Link().Connected());
}

// Random faults must never turn into accepted wrong values.
TEST_F(SimLine, RandomFaultsNeverPassWrongValues) {
    StartSim({"--profiles", "--fault-rate", "0.3", "--noise", "0.05", "--seed", "7"});
    TPortMaster M(1);
    ASSERT_TRUE(M.Open(Port(), Params(100)));
    int Passed = 0;
    for (int i = 0; i < 150; ++i) {
        TModbusRegisters Regs(8, 0);
        if (!M.ReadHoldingRegs(0, Regs)) continue;
        ++Passed;
        for (uint16_t k = 0; k < 8; ++k) ASSERT_EQ(Regs[k], 0x0100 + k) << "round " << i;
    }
    EXPECT_GT(Passed, 50);
    EXPECT_LT(Passed, 150);
}

}  // namespace
