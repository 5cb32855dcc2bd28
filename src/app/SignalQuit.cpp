#include "app/SignalQuit.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>

#include "serial/Interrupt.h"
#include "widgets/JobRunner.h"

namespace {

constexpr int CSignals[3] = {SIGTERM, SIGHUP, SIGINT};
int GPair[2] = {-1, -1};

extern "C" void OnQuitSignal(int Signal) {
    const int Saved = errno;
    const unsigned char Byte = static_cast<unsigned char>(Signal);
    [[maybe_unused]] const ssize_t N = ::write(GPair[0], &Byte, 1);
    errno = Saved;
}

}  // namespace

TSignalQuit::TSignalQuit(int BoundMs, QObject *Parent) : QObject(Parent), FBoundMs(BoundMs) {
    // The stop request's pipe exists before a job could need it.
    PrepareInterrupt();
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, GPair) != 0) {
        GPair[0] = GPair[1] = -1;
        return;  // the default actions stay
    }
    FNotifier = new QSocketNotifier(GPair[1], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TSignalQuit::Received);
    FPoll.setInterval(20);
    connect(&FPoll, &QTimer::timeout, this, &TSignalQuit::Check);

    struct sigaction Sa {};
    Sa.sa_handler = OnQuitSignal;
    sigemptyset(&Sa.sa_mask);
    Sa.sa_flags = SA_RESTART;
    for (int I = 0; I < 3; ++I) {
        sigaction(CSignals[I], nullptr, &FOld[I]);
        // A signal ignored at the start (nohup) stays ignored.
        if (FOld[I].sa_handler != SIG_IGN) sigaction(CSignals[I], &Sa, nullptr);
    }
}

TSignalQuit::~TSignalQuit() {
    if (GPair[0] < 0) return;
    for (int I = 0; I < 3; ++I) sigaction(CSignals[I], &FOld[I], nullptr);
    delete FNotifier;
    ::close(GPair[0]);
    ::close(GPair[1]);
    GPair[0] = GPair[1] = -1;
}

void TSignalQuit::Received() {
    unsigned char Bytes[16];
    const ssize_t N = ::read(GPair[1], Bytes, sizeof Bytes);
    if (N <= 0 || FSignal != 0) return;  // the first signal decides
    FSignal = Bytes[0];
    FSince.start();
    Check();
    if (FSignal != 0 && !FPoll.isActive()) FPoll.start();
}

void TSignalQuit::Check() {
    if (TJobRunner::Running() == 0) {
        FPoll.stop();
        // exit(), not quit(): no close events, so no exit question; every
        // event loop (a modal window's too) returns.
        QCoreApplication::exit(InterruptExitCode(FSignal));
        return;
    }
    if (!FStopAsked && FSince.elapsed() >= FBoundMs) {
        FStopAsked = true;
        RequestInterrupt(FSignal);
    }
}
