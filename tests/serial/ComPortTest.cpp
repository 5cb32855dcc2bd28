#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "serial/Clock.h"
#include "serial/ComPort.h"
#include "serial/CustomBaud.h"

namespace {

// A pseudo-terminal pair: the port opens the slave, the test plays the device on the master.
struct TPty {
    int Master = -1;
    int Slave = -1;
    std::string Path;
    TPty() {
        char name[128];
        EXPECT_EQ(openpty(&Master, &Slave, name, nullptr, nullptr), 0);
        Path = name;
        // Keep a slave descriptor open so the master never sees a hang-up
        // while the port is closed between tests.
    }
    ~TPty() {
        if (Master >= 0) close(Master);
        if (Slave >= 0) close(Slave);
    }
    void Send(const std::vector<uint8_t> &Bytes) const {
        ASSERT_EQ(write(Master, Bytes.data(), Bytes.size()), static_cast<ssize_t>(Bytes.size()));
    }
    std::vector<uint8_t> Receive() const {
        std::vector<uint8_t> out(4096);
        int fl = fcntl(Master, F_GETFL);
        fcntl(Master, F_SETFL, fl | O_NONBLOCK);
        ssize_t n = read(Master, out.data(), out.size());
        fcntl(Master, F_SETFL, fl);
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return out;
    }
    void HangUp() {
        close(Slave);
        Slave = -1;
        close(Master);
        Master = -1;
    }
};

termios PortAttrs(const TComPort &Port) {
    termios t{};
    EXPECT_EQ(tcgetattr(Port.Handle(), &t), 0);
    return t;
}

// The settings for the device at Path, the others as a new link has them.
TLinkSettings At(const std::string &Path) {
    TLinkSettings S;
    S.Port = Path;
    return S;
}

// Opens Port with Settings (or switches the open port to them).
void Open(TComPort &Port, const TLinkSettings &Settings) {
    const std::optional<EComPort> Error = Port.Open(Settings);
    ASSERT_FALSE(Error) << Error->what();
}

// How many received bytes wait in the driver.
int Waiting(const TComPort &Port) {
    int N = -1;
    EXPECT_EQ(ioctl(Port.Handle(), FIONREAD, &N), 0);
    return N;
}

void ExpectComError(int Code, const std::function<void()> &Fn) {
    try {
        Fn();
        ADD_FAILURE() << "no error raised, expected " << Code;
    } catch (const EComPort &E) {
        EXPECT_EQ(E.Code(), Code) << E.what();
    }
}

}  // namespace

TEST(ComPortErrors, MessageCarriesOsCodeOnlyWhenPositive) {
    struct Row {
        int Code, Os;
        const char *Text;
    } rows[] = {
        {1, 13, "Unable to open com port (Error: 13)"},
        {2, 5, "WriteFile function failed (Error: 5)"},
        {3, -1, "ReadFile function failed"},
        {5, 0, "PurgeComm function failed"},
        {7, 22, "SetCommState function failed (Error: 22)"},
        {8, -1, "SetCommTimeouts failed"},
        {9, -1, "SetupComm function failed"},
        {10, 5, "ClearCommError function failed (Error: 5)"},
        {24, -1, "Port Not Open"},
        {25, -1, "Port Disconnected"},
    };
    for (const auto &r : rows) {
        EComPort e(r.Code, r.Os);
        EXPECT_STREQ(e.what(), r.Text);
        EXPECT_EQ(e.Code(), r.Code);
        EXPECT_EQ(e.OsError(), r.Os);
    }
    EXPECT_EQ(EComPort::ErrorText(0), "");
    EXPECT_EQ(EComPort::ErrorText(26), "");
}

TEST(ComPortConverters, TextsMatchWithoutRegardToCaseAndFallBack) {
    EXPECT_EQ(BaudRateFromText("57600"), br57600);
    EXPECT_EQ(BaudRateFromText("custom"), brCustom);
    EXPECT_EQ(BaudRateFromText("256000"), br256000);
    for (const char *bad : {"", "12345", " 9600", "9600 "})
        EXPECT_EQ(BaudRateFromText(bad), br9600) << bad;
    EXPECT_EQ(ParityFromText("even"), prEven);
    EXPECT_EQ(ParityFromText("SPACE"), prSpace);
    EXPECT_EQ(ParityFromText("Mark"), prMark);
    for (const char *bad : {"", "e", " Even"}) EXPECT_EQ(ParityFromText(bad), prNone) << bad;
    EXPECT_EQ(StopBitsFromText("1.5"), sbOne5StopBits);
    EXPECT_EQ(StopBitsFromText("2"), sbTwoStopBits);
    for (const char *bad : {"", "1,5", " 2", "3"})
        EXPECT_EQ(StopBitsFromText(bad), sbOneStopBit) << bad;
    // Ordinals are stored and passed by other code.
    EXPECT_EQ(static_cast<int>(br19200), 9);
    EXPECT_EQ(static_cast<int>(br57600), 12);
    EXPECT_EQ(static_cast<int>(prEven), 2);
    EXPECT_EQ(static_cast<int>(rtsToggle), 3);
    EXPECT_EQ(BaudRateToInt(br19200), 19200);
    EXPECT_EQ(BaudRateToInt(brCustom, 250000), 250000);
}

TEST(ComPort, DefaultsAfterConstruction) {
    TComPort p;
    const TLinkSettings s = p.Settings();
    EXPECT_EQ(s.Port, "");
    EXPECT_EQ(s.BaudRate, br9600);
    EXPECT_EQ(s.DataBits, dbEight);
    EXPECT_EQ(s.StopBits, sbOneStopBit);
    EXPECT_EQ(s.Parity, prNone);
    EXPECT_EQ(s.ParityCheck, false);
    EXPECT_EQ(s.ControlDTR, dtrDisable);
    EXPECT_EQ(s.ControlRTS, rtsDisable);
    EXPECT_FALSE(p.Connected());
}

TEST(ComPort, OperationsOnAClosedPortRaisePortNotOpen) {
    TComPort p;
    uint8_t b = 0;
    ExpectComError(24, [&] { p.Read(&b, 1); });
    ExpectComError(24, [&] { p.Write(&b, 1); });
    ExpectComError(24, [&] { p.WaitForInput(0); });
    ExpectComError(24, [&] { p.Clear(); });
    p.Close();  // closing a closed port does nothing
    EXPECT_FALSE(p.Connected());
}

TEST(ComPort, OpeningAMissingDeviceFailsWithTheOsCode) {
    TComPort p;
    const std::optional<EComPort> E = p.Open(At("/dev/veldra-no-such-port"));
    ASSERT_TRUE(E);
    EXPECT_EQ(E->Code(), 1);
    EXPECT_EQ(E->OsError(), ENOENT);
    EXPECT_EQ(std::string(E->what()),
              "Unable to open com port (Error: " + std::to_string(ENOENT) + ")");
    EXPECT_FALSE(p.Connected());
}

TEST(ComPort, APortHeldByOneOwnerCannotBeOpenedBySecond) {
    TPty pty;
    TComPort a, b;
    Open(a, At(pty.Path));
    const std::optional<EComPort> E = b.Open(At(pty.Path));
    ASSERT_TRUE(E);
    EXPECT_EQ(E->Code(), 1) << E->what();
    EXPECT_FALSE(b.Connected());
    a.Close();
    Open(b, At(pty.Path));  // free again once the first owner closed it
    EXPECT_TRUE(b.Connected());
}

TEST(ComPort, ExclusiveUseEndsWithTheClose) {
    // The test's own slave descriptor holds the tty like the far end of a
    // line does: the exclusive flag would outlive a plain close(), and every
    // later open by an ordinary user would fail with EBUSY.
    TPty pty;
    TComPort p;
    // The second way moves the open port to a missing device: the open of
    // that fails.
    const std::function<void()> ends[] = {[&] { p.Close(); },
                                          [&] { EXPECT_TRUE(p.Open(At(pty.Path + "-gone"))); }};
    for (size_t i = 0; i < std::size(ends); ++i) {
        SCOPED_TRACE(i);
        Open(p, At(pty.Path));
        int excl = -1;
        ASSERT_EQ(ioctl(pty.Slave, TIOCGEXCL, &excl), 0);
        EXPECT_EQ(excl, 1);
        ends[i]();
        EXPECT_FALSE(p.Connected());
        ASSERT_EQ(ioctl(pty.Slave, TIOCGEXCL, &excl), 0);
        EXPECT_EQ(excl, 0);
        // The lock is gone too: another program may take the line.
        const int fd = open(pty.Path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        close(fd);
    }
}

TEST(ComPort, ReadNeverWaitsAndReturnsWhatArrived) {
    TPty pty;
    TComPort p;
    Open(p, At(pty.Path));
    uint8_t buf[8] = {};
    const uint64_t t0 = GetTickCount64();
    EXPECT_EQ(p.Read(buf, 1), 0);
    EXPECT_EQ(Waiting(p), 0);
    EXPECT_LT(GetTickCount64() - t0, 1000u);

    pty.Send({0xF5, 0x05, 0x0C});
    ASSERT_TRUE(p.WaitForInput(5000));
    while (Waiting(p) < 3) ASSERT_TRUE(p.WaitForInput(5000));
    EXPECT_EQ(Waiting(p), 3);
    EXPECT_EQ(p.Read(buf, 1), 1);
    EXPECT_EQ(buf[0], 0xF5);
    EXPECT_EQ(p.Read(buf, 8), 2);
    EXPECT_EQ(buf[0], 0x05);
    EXPECT_EQ(buf[1], 0x0C);
}

TEST(ComPort, WaitForInputWithoutTimeLooksOnce) {
    TPty pty;
    TComPort p;
    Open(p, At(pty.Path));
    EXPECT_FALSE(p.WaitForInput(0));
    pty.Send({0x01});
    ASSERT_TRUE(p.WaitForInput(5000));
    // A byte is waiting: a zero (or negative) time-out still reports it.
    EXPECT_TRUE(p.WaitForInput(0));
    EXPECT_TRUE(p.WaitForInput(-1));
}

TEST(ComPort, WaitForInputTimesOutOnASilentLine) {
    TPty pty;
    TComPort p;
    Open(p, At(pty.Path));
    const uint64_t t0 = GetTickCount64();
    EXPECT_FALSE(p.WaitForInput(150));
    const uint64_t took = GetTickCount64() - t0;
    EXPECT_GE(took, 140u);
    EXPECT_LT(took, 5000u);
    EXPECT_TRUE(p.Connected());
}

TEST(ComPort, WriteReachesTheDeviceAndClearDropsInput) {
    TPty pty;
    TComPort p;
    Open(p, At(pty.Path));
    const uint8_t req[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    EXPECT_EQ(p.Write(req, sizeof req), 8);
    EXPECT_EQ(pty.Receive(), std::vector<uint8_t>(req, req + 8));

    pty.Send({1, 2, 3});
    ASSERT_TRUE(p.WaitForInput(5000));
    p.Clear();
    EXPECT_EQ(Waiting(p), 0);
    EXPECT_FALSE(p.WaitForInput(0));
}

TEST(ComPort, LineSettingsApplyAtOpenAndAtOnceWhileOpen) {
    TPty pty;
    TComPort p;
    TLinkSettings s = At(pty.Path);
    s.BaudRate = br19200;
    s.StopBits = sbTwoStopBits;
    Open(p, s);
    termios t = PortAttrs(p);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_FALSE(t.c_cflag & HUPCL);

    s.BaudRate = br57600;
    s.StopBits = sbOneStopBit;
    Open(p, s);
    EXPECT_EQ(p.Settings().BaudRate, br57600);
    t = PortAttrs(p);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_FALSE(t.c_cflag & CSTOPB);

    p.Close();
    s.BaudRate = br9600;
    Open(p, s);
    t = PortAttrs(p);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
}

TEST(ComPort, RatesWithoutATermiosConstantUseTheCustomPath) {
    TPty pty;
    TComPort p;
    TLinkSettings s = At(pty.Path);
    s.BaudRate = br14400;
    Open(p, s);
    EXPECT_EQ(GetCustomBaudRate(p.Handle()), 14400);
    s.BaudRate = br256000;
    Open(p, s);
    EXPECT_EQ(GetCustomBaudRate(p.Handle()), 256000);
}

TEST(ComPort, AStandardRateAfterACustomOneSetsBothSpeeds) {
    // A custom rate sets the input speed apart (CIBAUD); a standard rate
    // afterwards must not leave it behind, whether set while open or at the
    // next open.
    struct Case {
        TBaudRate First, Then;
        int Rate;
        bool Reopen;
    } cases[] = {{br14400, br19200, 19200, false},
                 {br14400, br19200, 19200, true},
                 {br56000, br9600, 9600, true},
                 {br128000, br57600, 57600, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.Rate) + (c.Reopen ? " reopened" : " while open"));
        TPty pty;
        TComPort p;
        TLinkSettings s = At(pty.Path);
        s.BaudRate = c.First;
        Open(p, s);
        ASSERT_EQ(GetCustomInputBaudRate(p.Handle()), BaudRateToInt(c.First));
        if (c.Reopen) p.Close();
        s.BaudRate = c.Then;
        Open(p, s);
        EXPECT_EQ(GetCustomBaudRate(p.Handle()), c.Rate);
        EXPECT_EQ(GetCustomInputBaudRate(p.Handle()), c.Rate);
        termios t = PortAttrs(p);
        EXPECT_EQ(t.c_cflag & CIBAUD, 0u);
    }
}

TEST(ComPort, WriteReturnsByItsDeadlineWhenTheQueueNeverEmpties) {
    TPty pty;
    // A transmitter that never empties its queue, as a stalled USB adapter.
    TComPort p([] { return 4; });
    Open(p, At(pty.Path));
    const uint8_t req[10] = {};
    const uint64_t t0 = GetTickCount64();
    // The write itself goes through; the bytes still queued count as not sent.
    EXPECT_EQ(p.Write(req, sizeof req), 6);
    const uint64_t took = GetTickCount64() - t0;
    const uint64_t limit = CWriteDeadlineMs + CWriteMsPerByte * sizeof req;
    EXPECT_GE(took + 50, limit);
    EXPECT_LT(took, limit + 10000);
    EXPECT_TRUE(p.Connected());
}

TEST(ComPort, EvenParityOpensOnAPseudoTerminalAgainAndAgain) {
    // A pseudo-terminal keeps no parity; a reopen with only the parity
    // differing must not be taken for a failure. What the far end sees of
    // the parity asked for (PARODD, the input check) is the same however
    // often the port is opened: a simulated device tells the parities
    // apart by it.
    TPty pty;
    TComPort p;
    TLinkSettings s = At(pty.Path);
    s.ControlRTS = rtsToggle;
    s.ControlDTR = dtrEnable;
    auto Seen = [&] {
        termios t{};
        EXPECT_EQ(tcgetattr(pty.Slave, &t), 0);
        return std::string((t.c_iflag & INPCK) ? "check" : "-") +
               ((t.c_cflag & PARODD) ? " odd" : "");
    };
    const struct {
        TParityBits Parity;
        const char *Seen;
    } Steps[] = {{prEven, "check"}, {prOdd, "check odd"}, {prNone, "-"}};
    for (int i = 0; i < 3; ++i) {
        for (const auto &Step : Steps) {
            s.Parity = Step.Parity;
            s.ParityCheck = Step.Parity != prNone;
            Open(p, s);
            EXPECT_TRUE(p.Connected());
            EXPECT_EQ(Seen(), Step.Seen) << ParityText(Step.Parity) << " opened";
            p.Close();
            Open(p, s);
            EXPECT_EQ(Seen(), Step.Seen) << ParityText(Step.Parity) << " opened again";
            s.Parity = Steps[(i + 1) % 3].Parity;
            s.ParityCheck = s.Parity != prNone;
            Open(p, s);  // the parity alone changes while open
            EXPECT_TRUE(p.Connected());
            EXPECT_EQ(Seen(), Steps[(i + 1) % 3].Seen) << "switched while open";
            p.Close();
        }
    }
}

TEST(ComPort, PortChangeWhileOpenMovesToTheNewDevice) {
    TPty a, b;
    TComPort p;
    Open(p, At(a.Path));
    Open(p, At(b.Path));
    EXPECT_TRUE(p.Connected());
    EXPECT_EQ(p.Settings().Port, b.Path);
    const uint8_t x = 0x5A;
    p.Write(&x, 1);
    EXPECT_EQ(b.Receive(), std::vector<uint8_t>{0x5A});
    EXPECT_TRUE(a.Receive().empty());
}

TEST(ComPort, HangUpClosesThePortAndRaisesPortDisconnected) {
    struct Case {
        const char *Name;
        std::function<void(TComPort &)> Op;
    } cases[] = {
        {"wait", [](TComPort &p) { p.WaitForInput(5000); }},
        {"read",
         [](TComPort &p) {
             uint8_t b;
             p.Read(&b, 1);
         }},
        {"write",
         [](TComPort &p) {
             uint8_t b[4] = {};
             p.Write(b, 4);
         }},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.Name);
        TPty pty;
        TComPort p;
        Open(p, At(pty.Path));
        pty.HangUp();
        ExpectComError(25, [&] { c.Op(p); });
        EXPECT_FALSE(p.Connected());
        EXPECT_EQ(p.Handle(), -1);
    }
}
