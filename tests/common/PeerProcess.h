#pragma once
// A peer program started by a test (a Modbus server, socat, ser2net): its
// standard output and error come through one pipe, it runs in a process
// group of its own, and it is stopped by its pid (SIGTERM, then SIGKILL).

#include <sys/types.h>

#include <string>
#include <vector>

class TPeerProcess {
public:
    explicit TPeerProcess(std::vector<std::string> Argv) : FArgv(std::move(Argv)) {}
    ~TPeerProcess() { Stop(); }
    TPeerProcess(const TPeerProcess &) = delete;
    TPeerProcess &operator=(const TPeerProcess &) = delete;

    // Argv[0] is a path, not looked up on PATH.
    bool Start();
    // Reads output until Text appears; false on time-out or end of output.
    bool WaitFor(const std::string &Text, int TimeoutMs = 20000);
    const std::string &Output() const { return FSeen; }
    void Stop();

private:
    std::vector<std::string> FArgv;
    pid_t FPid = -1;
    int FOut = -1;
    std::string FSeen;
};
