// The windows' orderly end on a signal: quit at once without a job, after a
// running job has ended, and with a job that outlasts the bound, after
// asking it to stop; the port it held is left neither exclusive nor locked.
// And the real program: SIGTERM and SIGHUP end it with 143 and 129.

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QProcess>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "GuiSupport.h"
#include "TempDir.h"
#include "app/SignalQuit.h"
#include "serial/ComPort.h"
#include "serial/Interrupt.h"
#include "widgets/JobRunner.h"

namespace {

using Clock = std::chrono::steady_clock;

void RaiseSoon(int Signal) {
    QTimer::singleShot(0, [Signal] { ::raise(Signal); });
}

TEST(SignalQuit, WithoutAJobTheProgramEndsAtOnce) {
    for (const auto &[Signal, Code] :
         {std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}, std::pair{SIGINT, 130}}) {
        SCOPED_TRACE(Signal);
        TSignalQuit Quit(60000);
        RaiseSoon(Signal);
        EXPECT_EQ(QCoreApplication::exec(), Code);
        EXPECT_EQ(Quit.Signal(), Signal);
        EXPECT_FALSE(Interrupted());
    }
}

TEST(SignalQuit, ARunningJobIsLetEnd) {
    QObject Window;
    TJobRunner Runner(&Window);
    std::atomic<bool> Release{false}, Ended{false};
    ASSERT_TRUE(Runner.Start(
        [&] {
            while (!Release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            Ended = true;
            return TJobRunner::TResultStep{};
        },
        [](const TJobRunner::TResultStep &, std::exception_ptr) {}));
    TSignalQuit Quit(60000);
    RaiseSoon(SIGTERM);
    QTimer::singleShot(300, [&] { Release = true; });
    EXPECT_EQ(QCoreApplication::exec(), 143);
    EXPECT_TRUE(Ended);
    EXPECT_FALSE(Interrupted());  // it ended by itself, within the bound
    Runner.Wait();
}

TEST(SignalQuit, AJobThatOutlastsTheBoundIsStoppedAndClosesItsPort) {
    int Master = -1, Slave = -1;
    char Name[256] = {};
    ASSERT_EQ(::openpty(&Master, &Slave, Name, nullptr, nullptr), 0);
    ::close(Slave);  // the port is opened by name; the far end stays open
    const std::string Port = Name;

    QObject Window;
    TJobRunner Runner(&Window);
    std::atomic<bool> Opened{false}, Stopped{false};
    ASSERT_TRUE(Runner.Start(
        [&] {
            TComPort Line;
            TLinkSettings Settings;
            Settings.Port = Port;
            Settings.ControlRTS = rtsToggle;
            if (Line.Open(Settings)) return TJobRunner::TResultStep{};
            Opened = true;
            try {
                Line.WaitForInput(120000);  // nothing ever comes
            } catch (const EInterrupted &) {
                Stopped = true;
            }
            return TJobRunner::TResultStep{};
        },
        [](const TJobRunner::TResultStep &, std::exception_ptr) {}));
    ASSERT_TRUE(WaitUntil([&] { return Opened.load(); }));

    TSignalQuit Quit(200);
    RaiseSoon(SIGHUP);
    const auto Start = Clock::now();
    EXPECT_EQ(QCoreApplication::exec(), 129);
    // Generous: the wait itself would have lasted two minutes.
    EXPECT_LT(Clock::now() - Start, std::chrono::seconds(60));
    EXPECT_TRUE(Stopped);
    EXPECT_EQ(InterruptSignal(), SIGHUP);
    Runner.Wait();
    ClearInterrupt();

    const int Fd = ::open(Port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(Fd, 0) << std::strerror(errno);
    int Exclusive = 0;
    ASSERT_EQ(::ioctl(Fd, TIOCGEXCL, &Exclusive), 0);
    EXPECT_EQ(Exclusive, 0);
    EXPECT_EQ(::flock(Fd, LOCK_EX | LOCK_NB), 0);
    ::close(Fd);
    ::close(Master);
}

// Whether the process has a handler for Signal (its SigCgt mask).
bool Catches(qint64 Pid, int Signal) {
    std::ifstream Status("/proc/" + std::to_string(Pid) + "/status");
    for (std::string Line; std::getline(Status, Line);)
        if (Line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(Line.substr(7), nullptr, 16) >> (Signal - 1)) & 1;
    return false;
}

TEST(SignalQuit, TheProgramEndsWith128PlusTheSignal) {
    for (const auto &[Signal, Code] : {std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}}) {
        SCOPED_TRACE(Signal);
        TTempDir Dir;
        QProcess P;
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        Env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(Dir.Path()));
        Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        P.setProcessEnvironment(Env);
        P.start(QStringLiteral(VELDRA_UPDATE_PATH), {});
        ASSERT_TRUE(P.waitForStarted(10000));
        ASSERT_TRUE(WaitUntil([&] { return Catches(P.processId(), Signal); }, 30000));
        ::kill(static_cast<pid_t>(P.processId()), Signal);
        ASSERT_TRUE(P.waitForFinished(30000)) << "no end after the signal (an exit question?)";
        EXPECT_EQ(P.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(P.exitCode(), Code) << P.readAllStandardError().toStdString();
    }
}

}  // namespace
