#pragma once
// A process-wide request to stop (SIGINT, SIGTERM, SIGHUP): every wait of
// the lines looks at it and ends the exchange at once by raising
// EInterrupted. The ports are then closed in order by their owners on the
// way out (exclusivity given up, driver modes restored).
//
// The request is a flag and a self-pipe: the signal handler sets the flag
// and writes one byte, so a poll() that includes InterruptFd() wakes up in
// every thread, not only in the one the signal was delivered to. The pipe is
// never drained: once asked, every later wait ends at once too.

#include <poll.h>

#include <atomic>
#include <stdexcept>
#include <string>

// Raised by a wait when a stop was asked for. Not a port error: the caller
// ends what it does and reports the interruption.
class EInterrupted : public std::runtime_error {
public:
    explicit EInterrupted(int Signal);
    int Signal() const { return FSignal; }

private:
    int FSignal;
};

// Makes the self-pipe (idempotent). Call before any handler may run.
void PrepareInterrupt();
// Installs handlers of SIGINT, SIGTERM and SIGHUP that ask for a stop (the
// command line). Blocking calls are restarted (SA_RESTART); poll() is not,
// and looks at the pipe anyway. A signal ignored at the start (nohup) stays
// ignored. A second signal after the first ends the program at once.
void InstallInterruptHandlers();
// Asks for a stop on behalf of Signal. Async-signal-safe once
// PrepareInterrupt() has run. The first signal is kept.
void RequestInterrupt(int Signal);
// The signal of the stop asked for, 0 when none.
int InterruptSignal();
// Set with the request: a stop flag for loops that take one (the scan).
const std::atomic<bool> &InterruptRequested();
inline bool Interrupted() {
    return InterruptSignal() != 0;
}
// Raises EInterrupted when a stop was asked for.
void ThrowIfInterrupted();
// Forgets the request (tests; a program that goes on after handling one).
void ClearInterrupt();
// The read end of the self-pipe, readable once a stop was asked for; -1
// before PrepareInterrupt().
int InterruptFd();

// poll() on Fds that also wakes for a stop request and then raises
// EInterrupted. Otherwise as poll(): the count of ready entries of Fds, 0 on
// time-out, -1 with errno (EINTR included) on failure.
int PollInterruptible(pollfd *Fds, nfds_t Count, int TimeoutMs);
// Sleeps TimeoutMs, or raises EInterrupted as soon as a stop is asked for.
void SleepInterruptible(int TimeoutMs);

// "SIGINT", "SIGTERM", "SIGHUP", else "signal N".
std::string SignalName(int Signal);
// The exit code of a program stopped by Signal: 128 + its number (130 for
// SIGINT, 143 for SIGTERM, 129 for SIGHUP), as a shell reports a program
// that the signal ended.
int InterruptExitCode(int Signal);
