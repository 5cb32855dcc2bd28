// The port list as a technician's machine shows it: USB adapters with and
// without udevd's properties, two identical adapters, a CDC-ACM device and
// the legacy 8250 ports of which only one has a UART behind it.

#include <gtest/gtest.h>

#include <ostream>
#include <regex>

#include "MockBed.h"
#include "serial/PortDiscovery.h"

namespace {

struct TLayout {
    const char *Name;
    bool SerialBase;  // kernels from 6.5 on put the serial core's devices between
};
void PrintTo(const TLayout &P, std::ostream *Os) {
    *Os << P.Name;
}

class EnumerationTest : public ::testing::TestWithParam<TLayout> {};

TEST_P(EnumerationTest, ListsWhatTheMachineHasInNaturalOrderWithoutPhantoms) {
    TMockBed Bed;
    // Reported in an order unlike the list's: the list sorts itself.
    const TMockDevice Cp2 = Cp210xAdapter(10, "1-4", "0002");
    const TMockDevice Ftdi = FtdiAdapter(0, "1-1", "A50285BI");
    const TMockDevice Cp1 = Cp210xAdapter(2, "1-3", "0001");
    const TMockDevice Acm = AcmDevice(0, "1-2");
    for (const TMockDevice *D : {&Cp2, &Ftdi, &Cp1, &Acm}) ASSERT_TRUE(Bed.Add(*D));
    for (int I = 31; I >= 0; --I) ASSERT_TRUE(Bed.Add(Uart8250(I, I == 0, GetParam().SerialBase)));
    // A virtual console: a tty with a node but no device behind it.
    ASSERT_TRUE(Bed.Add(
        {"P: /devices/virtual/tty/tty1\nN: tty1\nE: SUBSYSTEM=tty\n\n", "/dev/tty1", {}, ""}));

    std::vector<TComListData> Ports;
    EnumComPorts(Ports);
    const std::vector<std::pair<std::string, std::string>> Expected = {
        {"/dev/ttyACM0", "Pico S/N E6614C311B7E2A37 (/dev/ttyACM0)"},
        {"/dev/ttyS0", "serial8250 (/dev/ttyS0)"},
        {"/dev/ttyUSB0", "FT232R USB UART S/N A50285BI (/dev/ttyUSB0)"},
        {"/dev/ttyUSB2", "CP2102 USB to UART Bridge Controller S/N 0001 (/dev/ttyUSB2)"},
        {"/dev/ttyUSB10", "CP2102 USB to UART Bridge Controller S/N 0002 (/dev/ttyUSB10)"},
    };
    ASSERT_EQ(Ports.size(), Expected.size());
    for (size_t I = 0; I < Expected.size(); ++I) {
        EXPECT_EQ(Ports[I].DeviceID, Expected[I].first) << I;
        EXPECT_EQ(Ports[I].Description, Expected[I].second) << I;
    }
    // The fixtures describe the entries as the list should read them.
    EXPECT_EQ(Ports[2].Description, Ftdi.Description);
    EXPECT_EQ(Ports[3].Description, Cp1.Description);
    EXPECT_EQ(Ports[0].Description, Acm.Description);
}

INSTANTIATE_TEST_SUITE_P(KernelLayouts, EnumerationTest,
                         ::testing::Values(TLayout{"PlatformTty", false},
                                           TLayout{"SerialBase", true}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(EnumerationNoPortTypeTest, OlderKernelsAreAskedThroughTheDriver) {
    // Without the sysfs "type" attribute, each 8250 node is opened and the
    // driver asked for its UART: a 16550A is listed; an unknown port, a
    // driver that refuses the request, and a node nobody answers are not.
    TMockBed Bed;
    const std::regex Type("A: type=[0-9]+\n");
    std::vector<TMockDevice> Uarts;
    for (int I = 0; I < 4; ++I) {
        TMockDevice D = Uart8250(I, true, false);
        D.Records = std::regex_replace(D.Records, Type, "");
        ASSERT_TRUE(Bed.Add(D));
        Uarts.push_back(D);
    }
    TSerialDriver Real(Bed, "/dev/ttyS0", TSerialDriver::Supported, TSerialDriver::Supported,
                       TSerialDriver::Supported);
    TSerialDriver Unknown(Bed, "/dev/ttyS1", TSerialDriver::Supported, TSerialDriver::Supported,
                          TSerialDriver::Supported);
    Unknown.SetPortType(PORT_UNKNOWN);
    TSerialDriver Refuses(Bed, "/dev/ttyS2", TSerialDriver::Supported, TSerialDriver::Supported,
                          TSerialDriver::Invalid);

    std::vector<TComListData> Ports;
    EnumComPorts(Ports);
    ASSERT_EQ(Ports.size(), 1u);
    EXPECT_EQ(Ports[0].DeviceID, "/dev/ttyS0");
    EXPECT_EQ(Ports[0].Description, "serial8250 (/dev/ttyS0)");
}

TEST(EnumerationIdenticalTest, AnotherAdapterOnTheSameNodeReadsDifferently) {
    // Two identical adapters read apart by serial number, also when the
    // second one is given the node the first one had: a window that keeps
    // its choice by the entry's text then sees its adapter gone.
    std::vector<TComListData> Before, After;
    {
        TMockBed Bed;
        ASSERT_TRUE(Bed.Add(Cp210xAdapter(1, "1-2", "0001")));
        EnumComPorts(Before);
    }
    {
        TMockBed Bed;
        ASSERT_TRUE(Bed.Add(Cp210xAdapter(1, "1-3", "0002")));
        EnumComPorts(After);
    }
    ASSERT_EQ(Before.size(), 1u);
    ASSERT_EQ(After.size(), 1u);
    EXPECT_EQ(Before[0].DeviceID, After[0].DeviceID);
    EXPECT_NE(Before[0].Description, After[0].Description);
    EXPECT_EQ(After[0].Description, "CP2102 USB to UART Bridge Controller S/N 0002 (/dev/ttyUSB1)");
}

TEST(EnumerationEmptyTest, NoPortsGiveAnEmptyList) {
    TMockBed Bed;
    ASSERT_TRUE(Bed.Add(Uart8250(0, false, false)));
    std::vector<TComListData> Ports{{"/dev/stale", "left from before (/dev/stale)"}};
    EnumComPorts(Ports);
    EXPECT_TRUE(Ports.empty());
}

}  // namespace
