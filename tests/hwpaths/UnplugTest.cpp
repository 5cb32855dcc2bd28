// An adapter pulled out while a protocol holds its port: the node hangs up
// (the test closes its far end) and both protocols end the exchange with
// error 25, "Port Disconnected", and a closed port; between requests and
// while a reply is awaited.

#include <gtest/gtest.h>
#include <poll.h>

#include <memory>
#include <ostream>
#include <thread>

#include "MockBed.h"
#include "PortMaster.h"
#include "PortXComm.h"
#include "SimProcess.h"
#include "bootloader/XComm.h"
#include "modbus/ModbusRTU.h"

namespace {

enum class TWhen { BetweenRequests, AwaitingReply };

struct TCase {
    const char *Name;
    bool Bootloader;  // else Modbus
    TWhen When;
};
void PrintTo(const TCase &P, std::ostream *Os) {
    *Os << P.Name;
}

class UnplugTest : public ::testing::TestWithParam<TCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(Bed.Add(Ftdi));
        // The adapter's driver, as on a real machine (not needed for the
        // hang-up, but the port then takes the adapter's own path).
        Driver = std::make_unique<TSerialDriver>(Bed, Ftdi.DevNode, TSerialDriver::NotTty,
                                                 TSerialDriver::NotTty, TSerialDriver::Supported);
        Sim = std::make_unique<TSimProcess>(
            GetParam().Bootloader
                ? std::vector<std::string>{"bootloader", "--sensor-id", "17", "--quiet"}
                : std::vector<std::string>{"modbus", "--device", "1"});
        ASSERT_TRUE(Sim->Start());
        Bridge = std::make_unique<TLineBridge>(Bed.FarEnd(Ftdi.DevNode), Sim->PtyPath());
    }
    void TearDown() override {
        if (Puller.joinable()) Puller.join();
        Bridge.reset();
        Sim.reset();
    }

    // The adapter goes: its far end closes, then the kernel's events.
    void Unplug() {
        Bed.HangUp(Ftdi.DevNode);
        Bed.Unplug(Ftdi);
    }

    void UnplugAt(TWhen When) {
        Bridge->Stop();  // the sensor says nothing more
        if (When == TWhen::BetweenRequests)
            Unplug();
        else
            Puller = std::thread([this] {
                ::poll(nullptr, 0, 300);
                Unplug();
            });
    }

    TMockBed Bed;
    TMockDevice Ftdi = FtdiAdapter(0, "1-1", "A50285BI");
    std::unique_ptr<TSerialDriver> Driver;
    std::unique_ptr<TSimProcess> Sim;
    std::unique_ptr<TLineBridge> Bridge;
    std::thread Puller;
};

// The error a call raised: its number and text, 0 when none.
template <typename F>
std::pair<int, std::string> ErrorOf(F &&Call) {
    try {
        Call();
    } catch (const EComPort &E) {
        return {E.Code(), E.what()};
    }
    return {0, ""};
}

TEST_P(UnplugTest, HangUpIsPortDisconnectedAndThePortIsClosed) {
    if (GetParam().Bootloader) {
        TPortXComm Link;
        ASSERT_TRUE(Link.Open(Ftdi.DevNode));
        ASSERT_EQ(Link.COMPort(), Ftdi.DevNode);
        uint16_t Id = 0;
        uint8_t Hi = 0, Lo = 0;
        ASSERT_TRUE(Link.GetDeviceInfo(Id, Hi, Lo));
        EXPECT_EQ(Id, 17);
        UnplugAt(GetParam().When);
        const auto [Code, Text] = ErrorOf([&] {
            TByteArray Reply;
            Link.Transact(BuildRequest(CCmdIdent, 0), Reply, 10000);
        });
        EXPECT_EQ(Code, CError_Disconnected);
        EXPECT_EQ(Text, "Port Disconnected");
        EXPECT_FALSE(Link.Connected());
        EXPECT_EQ(Link.COMPort(), "");
        EXPECT_FALSE(Link.Link().Connected());
    } else {
        TPortMaster Master(1);
        TPortParams Params;
        Params.BaudRate = br19200;
        Params.Timeout = 10000;
        ASSERT_TRUE(Master.Open(Ftdi.DevNode, Params));
        TModbusRegisters Regs(2);
        ASSERT_TRUE(Master.ReadHoldingRegs(0, Regs));
        UnplugAt(GetParam().When);
        const auto [Code, Text] = ErrorOf([&] { Master.ReadHoldingRegs(0, Regs); });
        EXPECT_EQ(Code, CError_Disconnected);
        EXPECT_EQ(Text, "Port Disconnected");
        EXPECT_FALSE(Master.Link().Connected());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, UnplugTest,
    ::testing::Values(TCase{"BootloaderBetweenRequests", true, TWhen::BetweenRequests},
                      TCase{"BootloaderAwaitingReply", true, TWhen::AwaitingReply},
                      TCase{"ModbusBetweenRequests", false, TWhen::BetweenRequests},
                      TCase{"ModbusAwaitingReply", false, TWhen::AwaitingReply}),
    [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
