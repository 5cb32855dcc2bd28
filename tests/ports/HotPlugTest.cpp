#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>

#include "serial/HotPlug.h"

namespace {

// Drops any registration a failed test left behind.
class HotPlugTest : public ::testing::Test {
protected:
    void TearDown() override {
        while (PortNotificationFd() >= 0) UnregisterPortNotification();
    }
};

TEST_F(HotPlugTest, NothingRegistered) {
    EXPECT_EQ(PortNotificationFd(), -1);
    EXPECT_EQ(DrainPortNotifications(), TPortChange::None);
    EXPECT_TRUE(UnregisterPortNotification());
    EXPECT_EQ(PortNotificationFd(), -1);
}

TEST_F(HotPlugTest, RegisterAndUnregisterTwiceInARow) {
    if (!RegisterPortNotification()) GTEST_SKIP() << "no udev monitor on this machine";
    ASSERT_TRUE(UnregisterPortNotification());
    for (int Round = 0; Round < 2; ++Round) {
        SCOPED_TRACE(Round);
        ASSERT_TRUE(RegisterPortNotification());
        const int Fd = PortNotificationFd();
        ASSERT_GE(Fd, 0);
        EXPECT_NE(::fcntl(Fd, F_GETFL) & O_NONBLOCK, 0);
        // A quiet monitor drains at once, without blocking.
        EXPECT_EQ(DrainPortNotifications(), TPortChange::None);
        EXPECT_TRUE(UnregisterPortNotification());
        EXPECT_EQ(PortNotificationFd(), -1);
        EXPECT_TRUE(UnregisterPortNotification());
    }
}

TEST_F(HotPlugTest, MonitorLivesWhileAnyWindowIsRegistered) {
    if (!RegisterPortNotification()) GTEST_SKIP() << "no udev monitor on this machine";
    const int Fd = PortNotificationFd();
    ASSERT_TRUE(RegisterPortNotification());
    EXPECT_EQ(PortNotificationFd(), Fd);  // one process-wide monitor
    ASSERT_TRUE(UnregisterPortNotification());
    EXPECT_EQ(PortNotificationFd(), Fd);
    EXPECT_NE(::fcntl(Fd, F_GETFD), -1);
    ASSERT_TRUE(UnregisterPortNotification());
    EXPECT_EQ(PortNotificationFd(), -1);
}

// Asks the kernel to repeat the event of an existing tty device (a virtual
// console, which nothing lists) and expects the monitor to report it.
// Needs root and a writable sysfs; skipped where uevents do not reach us.
TEST_F(HotPlugTest, ReportsTtyEvents) {
    if (!RegisterPortNotification()) GTEST_SKIP() << "no udev monitor on this machine";
    const int Fd = PortNotificationFd();
    ASSERT_GE(Fd, 0);

    const auto Trigger = [](const char *Action) {
        const int U = ::open("/sys/class/tty/tty63/uevent", O_WRONLY | O_CLOEXEC);
        if (U < 0) return false;
        const bool Ok = ::write(U, Action, std::char_traits<char>::length(Action)) > 0;
        ::close(U);
        return Ok;
    };
    const auto WaitReadable = [Fd] {
        pollfd P{Fd, POLLIN, 0};
        return ::poll(&P, 1, 10000) == 1;
    };

    DrainPortNotifications();
    if (!Trigger("change")) GTEST_SKIP() << "cannot trigger a uevent here";
    if (!WaitReadable()) GTEST_SKIP() << "uevents do not reach this process";
    // Neither arrival nor removal.
    EXPECT_EQ(DrainPortNotifications(), TPortChange::None);

    ASSERT_TRUE(Trigger("add"));
    ASSERT_TRUE(WaitReadable());
    EXPECT_EQ(DrainPortNotifications(), TPortChange::Arrived);
    EXPECT_EQ(DrainPortNotifications(), TPortChange::None);
}

}  // namespace
