#include "serial/Interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

namespace {

std::atomic<int> GSignal{0};
std::atomic<bool> GRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<int> GReadFd{-1};
std::atomic<int> GWriteFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int Signal) {
    // A second signal ends the program at once (the default action): a call
    // that blocks without a wait of ours must not make it unstoppable.
    if (GSignal.load() != 0) {
        ::signal(Signal, SIG_DFL);
        ::raise(Signal);
        return;
    }
    const int SavedErrno = errno;
    RequestInterrupt(Signal);
    errno = SavedErrno;
}

long long NowMs() {
    timespec Ts{};
    clock_gettime(CLOCK_MONOTONIC, &Ts);
    return Ts.tv_sec * 1000LL + Ts.tv_nsec / 1000000;
}

}  // namespace

EInterrupted::EInterrupted(int Signal)
    : std::runtime_error("Interrupted by " + SignalName(Signal)), FSignal(Signal) {}

void PrepareInterrupt() {
    static std::once_flag Once;
    std::call_once(Once, [] {
        int Fds[2];
        if (::pipe2(Fds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the flag and EINTR still work
        GWriteFd = Fds[1];
        GReadFd = Fds[0];
    });
}

// Made at start-up, once for the process: a pipe made at the first wait
// would look like two descriptors leaked by that wait.
[[maybe_unused]] const bool GPrepared = (PrepareInterrupt(), true);

void InstallInterruptHandlers() {
    PrepareInterrupt();
    struct sigaction Sa {};
    Sa.sa_handler = OnStopSignal;
    sigemptyset(&Sa.sa_mask);
    Sa.sa_flags = SA_RESTART;
    for (int Signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored at the start stays ignored (nohup, a background
        // job of a shell without job control).
        struct sigaction Old {};
        if (sigaction(Signal, nullptr, &Old) == 0 && Old.sa_handler == SIG_IGN) continue;
        sigaction(Signal, &Sa, nullptr);
    }
}

void RequestInterrupt(int Signal) {
    int None = 0;
    GSignal.compare_exchange_strong(None, Signal > 0 ? Signal : SIGINT);
    GRequested = true;
    const int Fd = GWriteFd.load();
    if (Fd >= 0) {
        const char Byte = 1;
        [[maybe_unused]] const ssize_t N =
            ::write(Fd, &Byte, 1);  // a full pipe is readable already
    }
}

int InterruptSignal() {
    return GSignal.load();
}

const std::atomic<bool> &InterruptRequested() {
    return GRequested;
}

void ThrowIfInterrupted() {
    if (const int Signal = GSignal.load()) throw EInterrupted(Signal);
}

void ClearInterrupt() {
    if (const int Fd = GReadFd.load(); Fd >= 0) {
        char Buf[64];
        while (::read(Fd, Buf, sizeof Buf) > 0) {
        }
    }
    GRequested = false;
    GSignal = 0;
}

int InterruptFd() {
    return GReadFd.load();
}

int PollInterruptible(pollfd *Fds, nfds_t Count, int TimeoutMs) {
    // The pipe must exist before the wait starts, or a request made from
    // another thread would not wake it.
    PrepareInterrupt();
    ThrowIfInterrupted();
    const int Wake = GReadFd.load();
    if (Wake < 0) {
        const int R = ::poll(Fds, Count, TimeoutMs);
        if (R < 0 && errno == EINTR) ThrowIfInterrupted();
        return R;
    }
    // The caller's entries and the pipe, in one call.
    pollfd Local[4];
    std::vector<pollfd> Heap;
    pollfd *All = Local;
    if (Count + 1 > std::size(Local)) {
        Heap.resize(Count + 1);
        All = Heap.data();
    }
    std::copy(Fds, Fds + Count, All);
    All[Count] = {Wake, POLLIN, 0};
    const int R = ::poll(All, Count + 1, TimeoutMs);
    const int Err = errno;
    ThrowIfInterrupted();
    if (R < 0) {
        errno = Err;
        return R;
    }
    for (nfds_t I = 0; I < Count; ++I) Fds[I].revents = All[I].revents;
    return R - (All[Count].revents != 0 ? 1 : 0);
}

void SleepInterruptible(int TimeoutMs) {
    const long long Deadline = NowMs() + std::max(TimeoutMs, 0);
    for (;;) {
        const long long Left = Deadline - NowMs();
        ThrowIfInterrupted();
        if (Left <= 0) return;
        PollInterruptible(nullptr, 0, static_cast<int>(Left));
    }
}

std::string SignalName(int Signal) {
    switch (Signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "signal " + std::to_string(Signal);
    }
}

int InterruptExitCode(int Signal) {
    return 128 + Signal;
}
