#include "PeerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

bool TPeerProcess::Start() {
    int Fds[2];
    if (pipe2(Fds, O_CLOEXEC) != 0) return false;
    FPid = fork();
    if (FPid == 0) {
        dup2(Fds[1], 1);
        dup2(Fds[1], 2);
        setpgid(0, 0);
        std::vector<char *> Args;
        for (std::string &A : FArgv) Args.push_back(A.data());
        Args.push_back(nullptr);
        execv(Args[0], Args.data());
        _exit(127);
    }
    close(Fds[1]);
    FOut = Fds[0];
    return FPid > 0;
}

bool TPeerProcess::WaitFor(const std::string &Text, int TimeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto End = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
        if (FSeen.find(Text) != std::string::npos) return true;
        const auto Left =
            std::chrono::duration_cast<std::chrono::milliseconds>(End - Clock::now()).count();
        if (Left <= 0 || FOut < 0) return false;
        pollfd P{FOut, POLLIN, 0};
        if (poll(&P, 1, static_cast<int>(Left)) <= 0) continue;
        char Buf[512];
        const ssize_t N = read(FOut, Buf, sizeof Buf);
        if (N <= 0) return FSeen.find(Text) != std::string::npos;
        FSeen.append(Buf, static_cast<size_t>(N));
    }
}

void TPeerProcess::Stop() {
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        int Status = 0;
        for (int I = 0; I < 100 && waitpid(FPid, &Status, WNOHANG) == 0; ++I) poll(nullptr, 0, 50);
        if (waitpid(FPid, &Status, WNOHANG) == 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, &Status, 0);
        }
        FPid = -1;
    }
    if (FOut >= 0) close(FOut);
    FOut = -1;
}
