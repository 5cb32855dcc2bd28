#pragma once
// Running veldra-cli as a user would, with a settings file of the tests.

#include <sys/types.h>

#include <csignal>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "TempDir.h"

// A settings file naming sensors 7, 17, 300 and 1042, with short update limits.
std::string WriteTestSettings(const TTempDir &Dir);

// veldra-cli --settings <Settings> Args...
TRunResult RunCliWith(const std::string &Settings, const std::vector<std::string> &Args,
                      const std::string &Stdin = "", const std::vector<std::string> &ExtraEnv = {});

// Lines of a text, without their newlines.
std::vector<std::string> SplitLines(const std::string &Text);
bool Contains(const std::string &Text, const std::string &Part);

// veldra-cli running in the background, its standard output and error in
// files of Dir, the stop signals as a terminal's foreground job gets them
// (not ignored). Killed if it is still running when this goes.
class TRunningCli {
public:
    TRunningCli(const TTempDir &Dir, std::vector<std::string> Args);
    ~TRunningCli();
    TRunningCli(const TRunningCli &) = delete;
    TRunningCli &operator=(const TRunningCli &) = delete;

    bool Started() const { return FPid > 0; }
    pid_t Pid() const { return FPid; }
    // Whether the program holds Path open (its port), within TimeoutMs.
    bool HoldsOpen(const std::string &Path, int TimeoutMs = 20000) const;
    // Whether standard output holds Count lines containing Part, within TimeoutMs.
    bool WaitForOut(const std::string &Part, int Count = 1, int TimeoutMs = 60000) const;
    void Signal(int Sig) const;
    // Waits for the end; ExitCode is -signal when a signal killed it, -1
    // when it did not end in time.
    TRunResult Wait(int TimeoutMs);
    // Sends Sig and waits for the exit code, as Wait gives it.
    int Interrupt(int Sig = SIGINT, int TimeoutMs = 30000);
    std::string Out() const { return ReadFileText(FOut); }
    std::string Err() const { return ReadFileText(FErr); }

private:
    std::string FOut, FErr;
    pid_t FPid = -1;
};
