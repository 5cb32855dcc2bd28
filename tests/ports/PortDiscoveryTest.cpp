#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "serial/PortDiscovery.h"

namespace {

int Sign(int V) {
    return (V > 0) - (V < 0);
}

TEST(CompareNatural, Order) {
    struct Row {
        const char *A, *B;
        int Expected;  // sign
    };
    const Row Rows[] = {
        {"COM2", "COM10", -1},
        {"COM1", "COM3", -1},
        {"COM10", "COM9", 1},
        {"com3", "COM3", 0},
        {"Com10", "cOM2", 1},
        {"/dev/ttyUSB2", "/dev/ttyUSB10", -1},
        {"/dev/ttyACM0", "/dev/ttyUSB0", -1},
        {"/dev/ttyACM9", "/dev/ttyUSB0", -1},
        {"/dev/ttyS31", "/dev/ttyS4", 1},
        {"/dev/ttyUSB0", "/dev/ttyUSB0", 0},
        {"ttyUSB007", "ttyUSB7", 0},
        {"ttyUSB007", "ttyUSB8", -1},
        {"ttyUSB010", "ttyUSB9", 1},
        {"a1b2", "a1b10", -1},
        {"a10b1", "a2b9", 1},
        {"x99999999999999999999999", "x100000000000000000000000", -1},
        {"x18446744073709551617", "x18446744073709551616", 1},
        {"tty", "ttyUSB0", -1},
        {"ttyUSB", "ttyUSB0", -1},
        {"", "", 0},
        {"", "a", -1},
        {"9", "a", -1},
        {"/dev/pts/3", "/dev/pts/12", -1},
    };
    for (const Row &R : Rows) {
        EXPECT_EQ(Sign(CompareNatural(R.A, R.B)), R.Expected) << R.A << " vs " << R.B;
        EXPECT_EQ(Sign(CompareNatural(R.B, R.A)), -R.Expected) << R.B << " vs " << R.A;
    }
}

TEST(ComparePortNames, ComparesDeviceIDsNotDescriptions) {
    const std::vector<TComListData> Ports = {
        {"/dev/ttyUSB10", "A adapter (/dev/ttyUSB10)"},
        {"/dev/ttyUSB2", "Z adapter (/dev/ttyUSB2)"},
    };
    EXPECT_GT(ComparePortNames(Ports, 0, 1), 0);
    EXPECT_LT(ComparePortNames(Ports, 1, 0), 0);
    EXPECT_EQ(ComparePortNames(Ports, 1, 1), 0);
}

// Replaces the port query for one test and restores the real one after.
class EnumComPortsTest : public ::testing::Test {
protected:
    void TearDown() override { SetPortQuery({}); }
    void Report(std::vector<TComListData> Found) {
        SetPortQuery([Found](std::vector<TComListData> &Ports) {
            Ports.insert(Ports.end(), Found.begin(), Found.end());
        });
    }
};

std::vector<std::string> IDs(const std::vector<TComListData> &Ports) {
    std::vector<std::string> Out;
    for (const TComListData &P : Ports) Out.push_back(P.DeviceID);
    return Out;
}

TEST_F(EnumComPortsTest, SortsWhateverOrderTheSystemReports) {
    struct Row {
        const char *Name;
        std::vector<std::string> Reported;
        std::vector<std::string> Expected;
    };
    const Row Rows[] = {
        {"COM names", {"COM10", "COM1", "COM3"}, {"COM1", "COM3", "COM10"}},
        {"Linux names",
         {"/dev/ttyUSB10", "/dev/ttyS0", "/dev/ttyUSB2", "/dev/ttyACM1", "/dev/ttyACM0"},
         {"/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyUSB2", "/dev/ttyUSB10"}},
        {"already sorted", {"/dev/ttyUSB0", "/dev/ttyUSB1"}, {"/dev/ttyUSB0", "/dev/ttyUSB1"}},
        {"one port", {"/dev/ttyUSB0"}, {"/dev/ttyUSB0"}},
        {"none", {}, {}},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        std::vector<TComListData> Found;
        for (const std::string &ID : R.Reported) Found.push_back({ID, "Adapter (" + ID + ")"});
        Report(Found);
        std::vector<TComListData> Ports;
        EnumComPorts(Ports);
        EXPECT_EQ(IDs(Ports), R.Expected);
        for (const TComListData &P : Ports)
            EXPECT_EQ(P.Description, "Adapter (" + P.DeviceID + ")");
    }
}

TEST_F(EnumComPortsTest, ReplacesTheOldListWhole) {
    std::vector<TComListData> Ports;
    for (int I = 0; I < 50; ++I)
        Ports.push_back({"/dev/old" + std::to_string(I), std::string(200, 'x')});
    Report({{"/dev/ttyUSB1", "B (/dev/ttyUSB1)"}, {"/dev/ttyUSB0", "A (/dev/ttyUSB0)"}});
    EnumComPorts(Ports);
    EXPECT_EQ(IDs(Ports), (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1"}));

    Report({});
    EnumComPorts(Ports);
    EXPECT_TRUE(Ports.empty());
}

TEST_F(EnumComPortsTest, EqualNamesKeepSystemOrder) {
    Report({{"/dev/ttyUSB1", "second"}, {"/dev/ttyUSB0", "first"}, {"/dev/TTYUSB0", "upper"}});
    std::vector<TComListData> Ports;
    EnumComPorts(Ports);
    ASSERT_EQ(Ports.size(), 3u);
    EXPECT_EQ(Ports[0].Description, "first");
    EXPECT_EQ(Ports[1].Description, "upper");
    EXPECT_EQ(Ports[2].Description, "second");
}

TEST_F(EnumComPortsTest, FailingQueryLeavesListEmpty) {
    std::vector<TComListData> Ports = {{"/dev/ttyUSB0", "A (/dev/ttyUSB0)"}};
    SetPortQuery([](std::vector<TComListData> &) { throw std::runtime_error("query failed"); });
    EXPECT_THROW(EnumComPorts(Ports), std::runtime_error);
    EXPECT_TRUE(Ports.empty());
}

// Sets VELDRA_EXTRA_PORTS for the scope of one test.
class ScopedExtraPorts {
public:
    explicit ScopedExtraPorts(const std::string &Value) {
        if (const char *Old = std::getenv("VELDRA_EXTRA_PORTS")) FOld = Old;
        ::setenv("VELDRA_EXTRA_PORTS", Value.c_str(), 1);
    }
    ~ScopedExtraPorts() {
        if (FOld)
            ::setenv("VELDRA_EXTRA_PORTS", FOld->c_str(), 1);
        else
            ::unsetenv("VELDRA_EXTRA_PORTS");
    }

private:
    std::optional<std::string> FOld;
};

// Runs on every machine, with or without udev: the real query must not fail
// and must list the existing extra ports, once each, after the hardware ones.
TEST(QueryComPorts, RealQueryListsExtraPorts) {
    TTempDir Dir;
    const std::string A = Dir.Write("portA", "");
    const std::string B = Dir.Write("port10", "");
    const std::string Missing = Dir.File("missing");
    ScopedExtraPorts Env(B + "::" + Missing + ":" + A + ":" + B);

    std::vector<TComListData> Ports;
    ASSERT_NO_THROW(QueryComPorts(Ports));
    ASSERT_GE(Ports.size(), 2u);
    const size_t N = Ports.size();
    EXPECT_EQ(Ports[N - 2].DeviceID, B);
    EXPECT_EQ(Ports[N - 2].Description, "Virtual port (" + B + ")");
    EXPECT_EQ(Ports[N - 1].DeviceID, A);
    EXPECT_EQ(Ports[N - 1].Description, "Virtual port (" + A + ")");
    for (size_t I = 0; I + 2 < N; ++I) {
        SCOPED_TRACE(Ports[I].Description);
        EXPECT_NE(Ports[I].DeviceID, Missing);
        EXPECT_NE(Ports[I].DeviceID, A);
        EXPECT_NE(Ports[I].DeviceID, B);
        // Hardware entries name their device node at the end of the text.
        EXPECT_EQ(Ports[I].DeviceID.rfind("/dev/", 0), 0u);
        const std::string Tail = " (" + Ports[I].DeviceID + ")";
        ASSERT_GT(Ports[I].Description.size(), Tail.size());
        EXPECT_EQ(Ports[I].Description.substr(Ports[I].Description.size() - Tail.size()), Tail);
    }

    // Sorted through EnumComPorts with the real query.
    std::vector<TComListData> Sorted;
    ASSERT_NO_THROW(EnumComPorts(Sorted));
    EXPECT_EQ(Sorted.size(), N);
    for (size_t I = 1; I < Sorted.size(); ++I)
        EXPECT_LE(CompareNatural(Sorted[I - 1].DeviceID, Sorted[I].DeviceID), 0);
}

TEST(QueryComPorts, AppendsToWhatIsThere) {
    TTempDir Dir;
    const std::string A = Dir.Write("portA", "");
    ScopedExtraPorts Env(A);
    std::vector<TComListData> Ports = {{"keep", "Keep (keep)"}};
    QueryComPorts(Ports);
    ASSERT_GE(Ports.size(), 2u);
    EXPECT_EQ(Ports.front().DeviceID, "keep");
    EXPECT_EQ(Ports.back().DeviceID, A);
}

TEST(QueryComPorts, NoVirtualPortsWithoutVariable) {
    ScopedExtraPorts Env("");
    std::vector<TComListData> Ports;
    QueryComPorts(Ports);
    for (const TComListData &P : Ports)
        EXPECT_EQ(P.Description.rfind("Virtual port", 0), std::string::npos);
}

TEST(QueryComPorts, NoVirtualConsolesOrPtmx) {
    ScopedExtraPorts Env("");
    std::vector<TComListData> Ports;
    QueryComPorts(Ports);
    for (const TComListData &P : Ports) {
        SCOPED_TRACE(P.Description);
        EXPECT_NE(P.DeviceID, "/dev/ptmx");
        EXPECT_NE(P.DeviceID, "/dev/tty");
        EXPECT_NE(P.DeviceID, "/dev/console");
        EXPECT_NE(P.DeviceID, "/dev/tty0");
        EXPECT_NE(P.DeviceID, "/dev/tty1");
    }
}

// A container without sysfs or udev: run the real query in a child process
// that sees an empty /sys and /run. Needs the right to make a mount
// namespace (root); skipped elsewhere.
TEST(QueryComPorts, MachineWithoutSysfsStillListsExtraPorts) {
    TTempDir Dir;
    const std::string A = Dir.Write("port1", "");
    ScopedExtraPorts Env(A);

    int Pipe[2];
    ASSERT_EQ(::pipe(Pipe), 0);
    const pid_t Child = ::fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
        ::close(Pipe[0]);
        std::string Out;
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("none", "/sys", "tmpfs", 0, nullptr) != 0 ||
            ::mount("none", "/run", "tmpfs", 0, nullptr) != 0) {
            Out = "SKIP";
        } else {
            try {
                std::vector<TComListData> Ports;
                EnumComPorts(Ports);
                for (const TComListData &P : Ports) Out += P.DeviceID + "|" + P.Description + "\n";
            } catch (...) {
                Out = "THROW";
            }
        }
        const ssize_t Ignored = ::write(Pipe[1], Out.data(), Out.size());
        (void)Ignored;
        ::_exit(0);
    }
    ::close(Pipe[1]);
    std::string Out;
    char Buf[512];
    for (ssize_t N; (N = ::read(Pipe[0], Buf, sizeof Buf)) > 0;)
        Out.append(Buf, static_cast<size_t>(N));
    ::close(Pipe[0]);
    int Status = 0;
    ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
    ASSERT_TRUE(WIFEXITED(Status));
    if (Out == "SKIP") GTEST_SKIP() << "cannot make a mount namespace here";
    EXPECT_EQ(Out, A + "|Virtual port (" + A + ")\n");
}

}  // namespace
