// Hot-plug through the program's own udev monitor: the testbed sends the
// kernel's add and remove events, the monitor's descriptor wakes up and the
// drained events say what changed; the list and the command line's "ports"
// then show the new state.

#include <gtest/gtest.h>
#include <poll.h>

#include "MockBed.h"
#include "SimProcess.h"
#include "serial/HotPlug.h"
#include "serial/PortDiscovery.h"

namespace {

// Waits (generously) until the monitor has something to read.
bool Readable(int Fd, int TimeoutMs = 10000) {
    pollfd P{Fd, POLLIN, 0};
    return ::poll(&P, 1, TimeoutMs) == 1 && (P.revents & POLLIN);
}

std::vector<std::string> DeviceIDs() {
    std::vector<TComListData> Ports;
    EnumComPorts(Ports);
    std::vector<std::string> Ids;
    for (const TComListData &P : Ports) Ids.push_back(P.DeviceID);
    return Ids;
}

class HotPlugMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Bed.Add(Ftdi));
        // Registered before the first enumeration, as the windows do.
        ASSERT_TRUE(RegisterPortNotification());
        Fd = PortNotificationFd();
        ASSERT_GE(Fd, 0);
    }
    void TearDown() override {
        EXPECT_TRUE(UnregisterPortNotification());
        EXPECT_EQ(PortNotificationFd(), -1);
    }

    TMockBed Bed;
    TMockDevice Ftdi = FtdiAdapter(0, "1-1", "A50285BI");
    TMockDevice Cp = Cp210xAdapter(1, "1-2", "0001");
    int Fd = -1;
};

TEST_F(HotPlugMonitorTest, ArrivalAndRemovalReachTheMonitor) {
    EXPECT_EQ(DeviceIDs(), std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_EQ(DrainPortNotifications(), TPortChange::None);

    ASSERT_TRUE(Bed.Plug(Cp));
    ASSERT_TRUE(Readable(Fd));
    EXPECT_EQ(DrainPortNotifications(), TPortChange::Arrived);
    EXPECT_EQ(DrainPortNotifications(), TPortChange::None);  // drained
    EXPECT_EQ(DeviceIDs(), (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1"}));

    Bed.Unplug(Cp);
    ASSERT_TRUE(Readable(Fd));
    EXPECT_EQ(DrainPortNotifications(), TPortChange::Removed);
    // Listed again once the removal is done, not from inside the event.
    EXPECT_EQ(DeviceIDs(), std::vector<std::string>{"/dev/ttyUSB0"});

    // Both in one batch. (A testbed never gives a node back, so the next
    // adapter gets another one, as the kernel may do too.)
    const TMockDevice Cp3 = Cp210xAdapter(3, "1-4", "0003");
    ASSERT_TRUE(Bed.Plug(Cp3));
    Bed.Unplug(Ftdi);
    ASSERT_TRUE(Readable(Fd));
    TPortChange Seen = TPortChange::None;
    // The two events may be read in one drain or two.
    ASSERT_TRUE(WaitFor([&] {
        const TPortChange C = DrainPortNotifications();
        if (C != TPortChange::None)
            Seen = (Seen == TPortChange::None || Seen == C) ? C : TPortChange::Both;
        return Seen == TPortChange::Both;
    }));
    EXPECT_EQ(DeviceIDs(), std::vector<std::string>{"/dev/ttyUSB3"});
}

TEST_F(HotPlugMonitorTest, OtherSubsystemsAreNoPortChange) {
    // A USB device without a tty (a mouse) comes and goes.
    ASSERT_TRUE(Bed.Add(
        {"P: /devices/pci0000:00/0000:00:14.0/usb1/1-5\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
         "A: product=Mouse\n\n",
         "",
         {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-5"},
         ""}));
    umockdev_testbed_uevent(Bed.Get(), "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-5", "add");
    umockdev_testbed_uevent(Bed.Get(), "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-5", "change");
    // Whether the filter drops them in the kernel or in libudev, draining
    // finds no port change; a tty event behind them still counts.
    Readable(Fd, 200);
    EXPECT_EQ(DrainPortNotifications(), TPortChange::None);
    ASSERT_TRUE(Bed.Plug(Cp));
    ASSERT_TRUE(Readable(Fd));
    EXPECT_EQ(DrainPortNotifications(), TPortChange::Arrived);
}

TEST_F(HotPlugMonitorTest, CommandLinePortsShowsThePresentPorts) {
    // The command line runs as a child of the test and sees the same testbed.
    auto Ports = [] {
        const TRunResult R = RunProgram({VELDRA_CLI_PATH, "ports"});
        EXPECT_EQ(R.ExitCode, 0) << R.Err;
        return R.Out;
    };
    EXPECT_EQ(Ports(), "/dev/ttyUSB0\t" + Ftdi.Description + "\n");

    ASSERT_TRUE(Bed.Plug(Cp));
    ASSERT_TRUE(Readable(Fd));
    DrainPortNotifications();
    EXPECT_EQ(Ports(),
              "/dev/ttyUSB0\t" + Ftdi.Description + "\n/dev/ttyUSB1\t" + Cp.Description + "\n");

    Bed.Unplug(Ftdi);
    ASSERT_TRUE(Readable(Fd));
    DrainPortNotifications();
    EXPECT_EQ(Ports(), "/dev/ttyUSB1\t" + Cp.Description + "\n");

    const TRunResult Json = RunProgram({VELDRA_CLI_PATH, "ports", "--json"});
    EXPECT_EQ(Json.ExitCode, 0) << Json.Err;
    EXPECT_NE(Json.Out.find("\"device_id\":\"/dev/ttyUSB1\""), std::string::npos) << Json.Out;
}

}  // namespace
