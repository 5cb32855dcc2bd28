// Why a port could not be used, in the words both faces give: the kind of
// fault from what the port said, and the reason and remedy texts.

#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "TempDir.h"
#include "jobs/PortProblem.h"
#include "serial/ComPort.h"
#include "serial/LineTypes.h"
#include "serial/UniqueFd.h"

namespace {

const char kOpenText[] = "Unable to open com port (Error: 13)";

TEST(PortProblem, TheFaultFollowsTheSystemsReason) {
    struct TRow {
        const char *Port;
        std::string Text;
        int Errno;
        TPortFault Fault;
    };
    const std::string Gone = EComPort(CError_Disconnected).what();
    const TRow Rows[] = {
        {"/dev/ttyUSB0", kOpenText, EACCES, TPortFault::Permission},
        {"/dev/ttyUSB0", kOpenText, EPERM, TPortFault::Permission},
        {"/dev/ttyUSB0", kOpenText, EBUSY, TPortFault::Busy},
        {"/dev/ttyUSB0", kOpenText, EAGAIN, TPortFault::Busy},
        {"/dev/ttyUSB0", kOpenText, ENOENT, TPortFault::Missing},
        {"ttyUSB0", kOpenText, ENODEV, TPortFault::Missing},
        {"/dev/ttyUSB0", kOpenText, ENXIO, TPortFault::Missing},
        {"/dev/ttyUSB0", Gone, -1, TPortFault::Missing},
        {"/dev/ttyUSB0", kOpenText, EIO, TPortFault::Other},
        {"/dev/ttyUSB0", kOpenText, -1, TPortFault::Other},
        {"tcp://cabinet:4001", kOpenText, ECONNREFUSED, TPortFault::Refused},
        {"rfc2217://cabinet:4001", kOpenText, ETIMEDOUT, TPortFault::Unreachable},
        {"tcp://10.0.0.9:4001", kOpenText, EHOSTUNREACH, TPortFault::Unreachable},
        {"tcp://10.0.0.9:4001", kOpenText, ENETUNREACH, TPortFault::Unreachable},
        {"tcp://10.0.0.9:4001", Gone, -1, TPortFault::Other},
        {"tcp://nowhere:4001", "cannot resolve nowhere", -1, TPortFault::Other},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(std::string(R.Port) + " " + R.Text + " " + std::to_string(R.Errno));
        EXPECT_EQ(PortFaultOf(R.Port, {R.Text, R.Errno}), R.Fault);
    }
}

// The English reason names the port, the remedy says what to do; the port's
// own text is given only where no kind fits.
TEST(PortProblem, ReasonAndRemedyInEnglish) {
    struct TRow {
        const char *Port;
        int Errno;
        const char *Text;
    };
    const TRow Rows[] = {
        {"/dev/ttyUSB0", EBUSY,
         "The port /dev/ttyUSB0 is in use by another program.\n"
         "Close the program that uses it, then try again."},
        {"/dev/ttyUSB7", ENOENT,
         "The port /dev/ttyUSB7 is not there: its adapter is disconnected.\n"
         "Connect the adapter, choose its port again, then try again."},
        {"tcp://cabinet:4001", ETIMEDOUT,
         "The network server tcp://cabinet:4001 cannot be reached.\n"
         "Check the server's address, that it is switched on and that the network reaches it."},
        {"tcp://cabinet:4001", ECONNREFUSED,
         "The network server tcp://cabinet:4001 refuses the connection.\n"
         "Check the port number and that the server offers the serial line there."},
        {"/dev/ttyS0", EIO,
         "The port /dev/ttyS0 could not be opened: Unable to open com port (Error: 13) - "
         "Input/output error"},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Port);
        EXPECT_EQ(PortAdviceText(AdvisePort(R.Port, {kOpenText, R.Errno})), R.Text);
    }
}

// A permission error names the device's real group and the command that
// adds the user (the command line's hint word for word); a device of root's
// group sends the user to the administrator.
TEST(PortProblem, PermissionNamesTheDevicesGroupAndTheCommand) {
    TTempDir Dir;
    const std::string Dev = Dir.Write("ttyPERM", "");
    struct stat St {};
    ASSERT_EQ(::stat(Dev.c_str(), &St), 0);
    const struct group *G = ::getgrgid(St.st_gid);
    const std::string Group = G ? G->gr_name : std::to_string(St.st_gid);
    const TPortAdvice A = AdvisePort(Dev, {kOpenText, EACCES});
    EXPECT_EQ(A.Fault, TPortFault::Permission);
    EXPECT_EQ(A.Group, Group);
    EXPECT_EQ(A.Reason, TJobReason(TJobText::PortDenied, {Dev}));
    const std::string Hint = PortAccessHint(Dev, {kOpenText, EACCES});
    EXPECT_EQ(JobText(A.Remedy), Hint);
    if (St.st_gid == 0) {
        EXPECT_TRUE(A.RootOnly);
        EXPECT_EQ(Hint, "This port belongs to the group 'root': ask the administrator for access.");
    } else {
        EXPECT_FALSE(A.RootOnly);
        EXPECT_EQ(Hint, "To get access, add your user to the '" + Group +
                            "' group (sudo usermod -aG " + Group +
                            " $USER), then log out and in again.");
    }
    EXPECT_EQ(PortAdviceText(A),
              "Your user may not open the port " + Dev + " (permission denied).\n" + Hint);
    // A device that cannot be looked at: serial adapters' usual group.
    EXPECT_EQ(PortAccessHint(Dir.File("ttyNONE"), {kOpenText, EPERM}),
              "To get access, add your user to the 'dialout' group (sudo usermod -aG dialout "
              "$USER), then log out and in again.");
    // Only a permission error has a hint on the command line.
    EXPECT_EQ(PortAccessHint(Dev, {kOpenText, EBUSY}), "");
}

// What a real open says leads to the right kind: a missing device, one held
// by another port object, one whose mode shuts the user out.
TEST(PortProblem, RealOpensAreToldApart) {
    TTempDir Dir;
    int Master = -1, Slave = -1;
    char Name[128] = {};
    ASSERT_EQ(::openpty(&Master, &Slave, Name, nullptr, nullptr), 0);
    const TUniqueFd MasterFd(Master), SlaveFd(Slave);
    const std::string Pty = Name;
    auto FaultOfOpen = [](const std::string &Port) {
        TComPort P;
        TLinkSettings S;
        S.Port = Port;
        const std::optional<EComPort> E = P.Open(S);
        return E ? PortFaultOf(Port, PortProblemOf(*E)) : std::optional<TPortFault>{};
    };
    EXPECT_EQ(FaultOfOpen(Dir.File("ttyGONE")), TPortFault::Missing);
    {
        TComPort Holder;
        TLinkSettings S;
        S.Port = Pty;
        ASSERT_FALSE(Holder.Open(S));
        EXPECT_EQ(FaultOfOpen(Pty), TPortFault::Busy);
    }
    if (::geteuid() == 0) GTEST_SKIP() << "root opens a device whatever its mode";
    ASSERT_EQ(::chmod(Pty.c_str(), 0), 0);
    EXPECT_EQ(FaultOfOpen(Pty), TPortFault::Permission);
    ::chmod(Pty.c_str(), 0600);
}

}  // namespace
