#pragma once
// Starts a simulator (or any program) as a child process, waits for its
// "PTY <path>" line and stops it again by its pid.

#include <string>
#include <vector>

class TSimProcess {
public:
    // Program defaults to the simulator; Args follow it (e.g. {"bootloader", "--baud", "57600"}).
    explicit TSimProcess(std::vector<std::string> Args, std::string Program = VELDRA_SIM_PATH);
    ~TSimProcess();
    TSimProcess(const TSimProcess &) = delete;
    TSimProcess &operator=(const TSimProcess &) = delete;

    // Waits for the ready line; false when the child ended or said nothing in time.
    bool Start(int TimeoutMs = 10000);
    const std::string &PtyPath() const { return FPty; }
    // Next line of the child's standard output (without the newline);
    // false on time-out or end of output.
    bool ReadLine(std::string &Line, int TimeoutMs = 10000);
    // Reads lines until one starts with Prefix; the line is returned in Line.
    bool WaitForLine(const std::string &Prefix, std::string &Line, int TimeoutMs = 10000);
    // Sends SIGTERM and reaps the child; returns its exit status (or -signal).
    int Stop();
    int Pid() const { return FPid; }

private:
    std::vector<std::string> FArgs;
    std::string FProgram;
    int FPid = -1;
    int FOut = -1;
    std::string FBuffered;
    std::string FPty;
};

// Runs a program to its end and collects what it printed.
struct TRunResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
    long MaxRssKb = 0;  // the program's peak resident memory
};
// ExtraEnv entries ("NAME=value") are added to the environment, replacing
// inherited ones.
TRunResult RunProgram(const std::vector<std::string> &Argv, const std::string &Stdin = "",
                      const std::vector<std::string> &ExtraEnv = {}, int TimeoutMs = 120000);
