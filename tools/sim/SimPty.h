#pragma once
// The simulators' end of a pseudo-terminal pair.
//
// The simulator keeps the slave end open too, so that the host may close and
// reopen the port without the master seeing a hang-up, and so that it can
// read the line settings the host applied (a pseudo-terminal carries the baud
// rate and stop bits, not the parity).

#include <cstddef>
#include <cstdint>
#include <string>

class TSimPty {
public:
    // Creates the pair; when LinkPath is not empty, a symbolic link to the
    // slave is made there (replacing an old link). Throws std::runtime_error.
    explicit TSimPty(const std::string &LinkPath = "");
    ~TSimPty();
    TSimPty(const TSimPty &) = delete;
    TSimPty &operator=(const TSimPty &) = delete;

    // The path the host opens (the link when one was asked for).
    const std::string &Path() const { return FPath; }
    const std::string &SlavePath() const { return FSlavePath; }
    int MasterFd() const { return FMaster; }

    // Line settings the host applied to its end.
    int HostBaud() const;      // bit/s, 0 when unknown
    int HostStopBits() const;  // 1 or 2
    // The parity the host asked for: 'N', 'E' or 'O'. A pseudo-terminal
    // drops PARENB, but keeps the input parity check (INPCK) a host turns on
    // with parity, and PARODD; these tell the three apart.
    char HostParity() const;

    // Waits up to TimeoutMs for bytes from the host; returns the count read
    // (0 on time-out). -1 when TimeoutMs < 0 means wait without limit.
    int ReadSome(uint8_t *Buf, size_t Max, int TimeoutMs);
    // Writes all bytes; false when the host end cannot take them.
    bool WriteAll(const uint8_t *Buf, size_t Count);
    // Drops whatever the host sent and we have not read.
    void Drain();
    // Simulated unplug: closes both ends and removes the link. Later reads
    // and writes fail.
    void HangUp();

private:
    int FMaster = -1;
    int FSlave = -1;
    std::string FSlavePath;
    std::string FLink;
    std::string FPath;
};

// Prints the path on standard output as the first line ("PTY <path>") and
// flushes, so a parent process knows the simulator is ready.
void AnnounceReady(const TSimPty &Pty);

// SIGTERM and SIGINT call Handler (which only sets a flag the serving loop
// checks); a host that goes away never kills the simulator with SIGPIPE.
void InstallStopSignals(void (*Handler)(int));
