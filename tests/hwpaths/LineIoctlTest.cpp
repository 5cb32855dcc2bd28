// The serial driver's requests that Open makes on an adapter: RS-485 mode
// with RTS on send for rtsToggle and low latency, answered by an emulated
// driver on a mocked node and handed back as found at close; and drivers
// that know neither request.

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ostream>
#include <thread>

#include "MockBed.h"
#include "PortMaster.h"
#include "modbus/ModbusRTU.h"
#include "serial/ComPort.h"
#include "serial/Interrupt.h"

namespace {

constexpr uint32_t kOurFlags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;

class LineIoctlTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Bed.Add(Ftdi)); }

    TLinkSettings Toggling() const {
        TLinkSettings S;
        S.Port = Ftdi.DevNode;
        S.Parity = prEven;
        S.ParityCheck = true;
        S.ControlDTR = dtrEnable;
        S.ControlRTS = rtsToggle;
        return S;
    }

    // Opens Port with Settings, or switches the open port to them.
    static void Open(TComPort &Port, const TLinkSettings &Settings) {
        const std::optional<EComPort> Error = Port.Open(Settings);
        ASSERT_FALSE(Error) << Error->what();
        ASSERT_TRUE(Port.Connected());
    }

    void OpenToggling(TComPort &Port) { Open(Port, Toggling()); }

    // Bytes go both ways through the node.
    void ExpectDataFlows(TComPort &Port) {
        const int Far = Bed.FarEnd(Ftdi.DevNode);
        ASSERT_EQ(::write(Far, "\x01\x03", 2), 2);
        ASSERT_TRUE(Port.WaitForInput(5000));
        uint8_t In[2] = {};
        int Got = 0;
        ASSERT_TRUE(WaitFor([&] { return (Got += Port.Read(In + Got, 2 - Got)) == 2; }));
        EXPECT_EQ(In[0], 1);
        EXPECT_EQ(In[1], 3);
        EXPECT_EQ(Port.Write("\x7e", 1), 1);
        char Out = 0;
        ASSERT_TRUE(WaitFor([&] { return ::read(Far, &Out, 1) == 1; }));
        EXPECT_EQ(Out, '\x7e');
    }

    static int Count(const std::vector<TSerialDriver::TRequest> &R, unsigned long Code) {
        int N = 0;
        for (const auto &Q : R) N += Q.Code == Code;
        return N;
    }

    TMockBed Bed;
    TMockDevice Ftdi = FtdiAdapter(0, "1-1", "A50285BI");
};

struct TFoundModes {
    const char *Name;
    uint32_t Rs485Flags;
    int SerialFlags;
};
void PrintTo(const TFoundModes &P, std::ostream *Os) {
    *Os << P.Name;
}

class LineIoctlFoundTest : public LineIoctlTest,
                           public ::testing::WithParamInterface<TFoundModes> {};

TEST_P(LineIoctlFoundTest, RtsToggleAsksForRs485AndLowLatencyAndCloseHandsThemBack) {
    TSerialDriver Driver(Bed, Ftdi.DevNode, TSerialDriver::Supported, TSerialDriver::Supported,
                         TSerialDriver::Supported);
    serial_rs485 Found{};
    Found.flags = GetParam().Rs485Flags;
    Found.delay_rts_before_send = 3;
    Found.delay_rts_after_send = 7;
    Driver.SetRs485(Found);
    Driver.SetSerialFlags(GetParam().SerialFlags);

    TComPort Port;
    OpenToggling(Port);
    EXPECT_TRUE(Port.Rs485Mode());
    EXPECT_TRUE(Port.LowLatency());
    EXPECT_FALSE(Port.PseudoTerminal());  // an adapter, whatever the node really is
    serial_rs485 Now = Driver.Rs485();
    EXPECT_EQ(Now.flags & (kOurFlags | SER_RS485_RTS_AFTER_SEND), kOurFlags);
    EXPECT_EQ(Now.delay_rts_before_send, 3u);  // the driver's delays stay
    EXPECT_EQ(Now.delay_rts_after_send, 7u);
    EXPECT_TRUE(Driver.SerialFlags() & ASYNC_LOW_LATENCY);
    ExpectDataFlows(Port);

    // A new line setting while open applies the line again; what Open found
    // is still what goes back.
    TLinkSettings Faster = Toggling();
    Faster.BaudRate = br57600;
    Open(Port, Faster);
    EXPECT_TRUE(Port.Rs485Mode());
    Port.Close();
    Now = Driver.Rs485();
    EXPECT_EQ(Now.flags, GetParam().Rs485Flags);
    EXPECT_EQ(Now.delay_rts_before_send, 3u);
    EXPECT_EQ(Now.delay_rts_after_send, 7u);
    EXPECT_EQ(Driver.SerialFlags(), GetParam().SerialFlags);

    // The next open finds the driver as it was at first.
    OpenToggling(Port);
    EXPECT_TRUE(Port.Rs485Mode());
    Port.Close();
    EXPECT_EQ(Driver.Rs485().flags, GetParam().Rs485Flags);
    EXPECT_EQ(Driver.SerialFlags(), GetParam().SerialFlags);
}

INSTANTIATE_TEST_SUITE_P(
    DriverModes, LineIoctlFoundTest,
    ::testing::Values(TFoundModes{"Off", 0, 0},
                      TFoundModes{"OtherProgramsRs485",
                                  SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND, ASYNC_SPD_HI},
                      TFoundModes{"AlreadyOurs", kOurFlags, ASYNC_LOW_LATENCY}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(LineIoctlTest, FreeingAnOpenPortHandsTheModesBackToo) {
    TSerialDriver Driver(Bed, Ftdi.DevNode, TSerialDriver::Supported, TSerialDriver::Supported,
                         TSerialDriver::Supported);
    {
        TComPort Port;
        OpenToggling(Port);
        EXPECT_EQ(Driver.Rs485().flags, kOurFlags);
    }
    EXPECT_EQ(Driver.Rs485().flags, 0u);
    EXPECT_EQ(Driver.SerialFlags(), 0);
}

// A stop request (Ctrl+C, SIGTERM) in the middle of a Modbus exchange ends
// the wait at once; the master closes its port on the way out, handing the
// driver modes back and giving exclusive use up.
TEST_F(LineIoctlTest, AStopRequestMidExchangeHandsTheModesBack) {
    TSerialDriver Driver(Bed, Ftdi.DevNode, TSerialDriver::Supported, TSerialDriver::Supported,
                         TSerialDriver::Supported);
    serial_rs485 Found{};
    Found.flags = SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND;
    Driver.SetRs485(Found);
    Driver.SetSerialFlags(ASYNC_SPD_HI);
    const int Far = Bed.FarEnd(Ftdi.DevNode);
    // The request reaches the far end, which never answers; then the stop.
    std::thread Stopper([Far] {
        char B = 0;
        while (::read(Far, &B, 1) != 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        RequestInterrupt(SIGTERM);
    });
    const auto Start = std::chrono::steady_clock::now();
    bool Stopped = false;
    {
        TPortMaster Master;
        TPortParams P;
        P.Timeout = 60000;
        ASSERT_TRUE(Master.Open(Ftdi.DevNode, P));
        EXPECT_EQ(Driver.Rs485().flags & kOurFlags, kOurFlags);
        TModbusRegisters Regs(1);
        try {
            Master.ReadHoldingRegs(1, 0, Regs);
        } catch (const EInterrupted &E) {
            Stopped = E.Signal() == SIGTERM;
        }
    }
    Stopper.join();
    ClearInterrupt();
    EXPECT_TRUE(Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - Start,
              std::chrono::seconds(30));  // not the 60 s time-out
    EXPECT_EQ(Driver.Rs485().flags, Found.flags);
    EXPECT_EQ(Driver.SerialFlags(), ASYNC_SPD_HI);
    EXPECT_EQ(Count(Driver.Requests(), TIOCNXCL), 1);
}

TEST_F(LineIoctlTest, LeavingRtsToggleWhileOpenEndsRs485Mode) {
    TSerialDriver Driver(Bed, Ftdi.DevNode, TSerialDriver::Supported, TSerialDriver::Supported,
                         TSerialDriver::Supported);
    TComPort Port;
    OpenToggling(Port);
    ASSERT_EQ(Driver.Rs485().flags, kOurFlags);
    TLinkSettings S = Toggling();
    S.ControlRTS = rtsEnable;
    Open(Port, S);
    EXPECT_FALSE(Port.Rs485Mode());
    EXPECT_EQ(Driver.Rs485().flags, 0u);
    OpenToggling(Port);
    EXPECT_TRUE(Port.Rs485Mode());
    EXPECT_EQ(Driver.Rs485().flags, kOurFlags);
    Port.Close();
    EXPECT_EQ(Driver.Rs485().flags, 0u);
}

// An Open with the settings in force leaves the open line as it is (no
// driver request); a parity check left unset keeps the one in force.
TEST_F(LineIoctlTest, OpeningAgainWithTheSettingsInForceAsksTheDriverNothing) {
    TSerialDriver Driver(Bed, Ftdi.DevNode, TSerialDriver::Supported, TSerialDriver::Supported,
                         TSerialDriver::Supported);
    TComPort Port;
    OpenToggling(Port);
    const size_t Before = Driver.Requests().size();
    TLinkSettings Same = Toggling();
    Same.ParityCheck.reset();
    Open(Port, Same);
    EXPECT_EQ(Driver.Requests().size(), Before);
    EXPECT_EQ(Port.Settings().ParityCheck, true);
    EXPECT_TRUE(Port.Rs485Mode());
}

TEST_F(LineIoctlTest, OtherRtsSettingsLeaveRs485Alone) {
    TSerialDriver Driver(Bed, Ftdi.DevNode, TSerialDriver::Supported, TSerialDriver::Supported,
                         TSerialDriver::Supported);
    TComPort Port;
    TLinkSettings S;
    S.Port = Ftdi.DevNode;
    S.ControlRTS = rtsEnable;
    Open(Port, S);
    EXPECT_FALSE(Port.Rs485Mode());
    EXPECT_TRUE(Port.LowLatency());
    Port.Close();
    const auto R = Driver.Requests();
    EXPECT_EQ(Count(R, TIOCSRS485), 0);
    EXPECT_EQ(Count(R, TIOCGRS485), 0);
    EXPECT_EQ(Driver.SerialFlags(), 0);
}

struct TRefusal {
    const char *Name;
    TSerialDriver::TAnswer Rs485Get, Rs485Set, Serial;
    bool LowLatency;
};
void PrintTo(const TRefusal &P, std::ostream *Os) {
    *Os << P.Name;
}

class LineIoctlRefusalTest : public LineIoctlTest,
                             public ::testing::WithParamInterface<TRefusal> {};

TEST_P(LineIoctlRefusalTest, ADriverWithoutTheModeSwitchesDirectionItself) {
    const TRefusal &P = GetParam();
    TSerialDriver Driver(Bed, Ftdi.DevNode, P.Rs485Get, P.Rs485Set, P.Serial);
    TComPort Port;
    ASSERT_NO_THROW(OpenToggling(Port));
    EXPECT_FALSE(Port.Rs485Mode());
    EXPECT_EQ(Port.LowLatency(), P.LowLatency);
    ExpectDataFlows(Port);
    const size_t BeforeClose = Driver.Requests().size();
    Port.Close();
    // Nothing was changed, so nothing is handed back, except the low latency
    // that was granted.
    const auto R = Driver.Requests();
    std::vector<TSerialDriver::TRequest> AtClose(R.begin() + static_cast<long>(BeforeClose),
                                                 R.end());
    EXPECT_EQ(Count(AtClose, TIOCSRS485), 0);
    EXPECT_EQ(Count(AtClose, TIOCSSERIAL), P.LowLatency ? 1 : 0);
    EXPECT_EQ(Driver.Rs485().flags, 0u);
    EXPECT_EQ(Driver.SerialFlags(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, LineIoctlRefusalTest,
    ::testing::Values(TRefusal{"NoRs485NotTty", TSerialDriver::NotTty, TSerialDriver::NotTty,
                               TSerialDriver::Supported, true},
                      TRefusal{"NoRs485Invalid", TSerialDriver::Invalid, TSerialDriver::Invalid,
                               TSerialDriver::Supported, true},
                      TRefusal{"Rs485ReadOnly", TSerialDriver::Supported, TSerialDriver::Invalid,
                               TSerialDriver::Supported, true},
                      TRefusal{"NothingNotTty", TSerialDriver::NotTty, TSerialDriver::NotTty,
                               TSerialDriver::NotTty, false},
                      TRefusal{"NothingInvalid", TSerialDriver::Invalid, TSerialDriver::Invalid,
                               TSerialDriver::Invalid, false}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(LineIoctlTest, PseudoTerminalsAreKnownByTheirNameNotTheirDeviceNumber) {
    // The mocked node is a pseudo-terminal underneath, yet it is an adapter
    // to the port; a real pseudo-terminal and a link to one are not.
    TSerialDriver Driver(Bed, Ftdi.DevNode, TSerialDriver::Supported, TSerialDriver::Supported,
                         TSerialDriver::Supported);
    TComPort Adapter;
    TLinkSettings S;
    S.Port = Ftdi.DevNode;
    Open(Adapter, S);
    EXPECT_FALSE(Adapter.PseudoTerminal());
    Adapter.Close();

    int Master = -1, Slave = -1;
    char Name[256] = {};
    ASSERT_EQ(::openpty(&Master, &Slave, Name, nullptr, nullptr), 0);
    ::close(Slave);
    const std::string Link =
        std::string(::testing::TempDir()) + "/ttyV" + std::to_string(::getpid());
    ::unlink(Link.c_str());
    ASSERT_EQ(::symlink(Name, Link.c_str()), 0);
    for (const std::string &Path : {std::string(Name), Link}) {
        TComPort Pty;
        S.Port = Path;
        Open(Pty, S);
        EXPECT_TRUE(Pty.PseudoTerminal()) << Path;
    }
    ::unlink(Link.c_str());
    ::close(Master);
}

}  // namespace
