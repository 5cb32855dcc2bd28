#include "SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char **environ;

namespace {

long long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

std::vector<char *> CArgs(std::vector<std::string> &v) {
    std::vector<char *> out;
    for (auto &s : v) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

int WaitChild(int pid, long *MaxRssKb = nullptr) {
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (MaxRssKb) *MaxRssKb = usage.ru_maxrss;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return -1;
}

}  // namespace

TSimProcess::TSimProcess(std::vector<std::string> Args, std::string Program)
    : FArgs(std::move(Args)), FProgram(std::move(Program)) {}

TSimProcess::~TSimProcess() {
    Stop();
}

bool TSimProcess::Start(int TimeoutMs) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    std::vector<std::string> argv{FProgram};
    argv.insert(argv.end(), FArgs.begin(), FArgs.end());
    auto cargs = CArgs(argv);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, FProgram.c_str(), &fa, nullptr, cargs.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return false;
    }
    FPid = pid;
    FOut = fds[0];
    std::string line;
    if (!WaitForLine("PTY ", line, TimeoutMs)) return false;
    FPty = line.substr(4);
    return true;
}

bool TSimProcess::ReadLine(std::string &Line, int TimeoutMs) {
    long long deadline = NowMs() + TimeoutMs;
    for (;;) {
        auto nl = FBuffered.find('\n');
        if (nl != std::string::npos) {
            Line = FBuffered.substr(0, nl);
            FBuffered.erase(0, nl + 1);
            return true;
        }
        if (FOut < 0) return false;
        long long left = deadline - NowMs();
        if (left <= 0) return false;
        pollfd p{FOut, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        char buf[4096];
        ssize_t n = read(FOut, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(FOut);
            FOut = -1;
            continue;
        }
        FBuffered.append(buf, static_cast<size_t>(n));
    }
}

bool TSimProcess::WaitForLine(const std::string &Prefix, std::string &Line, int TimeoutMs) {
    long long deadline = NowMs() + TimeoutMs;
    for (;;) {
        long long left = deadline - NowMs();
        if (left <= 0) return false;
        if (!ReadLine(Line, static_cast<int>(left))) return false;
        if (Line.rfind(Prefix, 0) == 0) return true;
    }
}

int TSimProcess::Stop() {
    int status = -1;
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        status = WaitChild(FPid);
        FPid = -1;
    }
    if (FOut >= 0) {
        close(FOut);
        FOut = -1;
    }
    return status;
}

TRunResult RunProgram(const std::vector<std::string> &Argv, const std::string &Stdin,
                      const std::vector<std::string> &ExtraEnv, int TimeoutMs) {
    TRunResult res;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return res;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    std::vector<std::string> args = Argv;
    auto cargs = CArgs(args);
    // ExtraEnv replaces variables of the same name: getenv() would find the
    // inherited one first.
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string Entry = *e;
        const size_t Eq = Entry.find('=');
        const std::string Name = Entry.substr(0, Eq == std::string::npos ? Entry.size() : Eq + 1);
        bool Replaced = false;
        for (const std::string &X : ExtraEnv) Replaced |= X.rfind(Name, 0) == 0;
        if (!Replaced) env.push_back(Entry);
    }
    env.insert(env.end(), ExtraEnv.begin(), ExtraEnv.end());
    auto cenv = CArgs(env);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0].c_str(), &fa, nullptr, cargs.data(), cenv.data());
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return res;
    }
    signal(SIGPIPE, SIG_IGN);
    if (!Stdin.empty()) {
        ssize_t w = write(in[1], Stdin.data(), Stdin.size());
        (void)w;
    }
    close(in[1]);
    long long deadline = NowMs() + TimeoutMs;
    pollfd p[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        long long left = deadline - NowMs();
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        int r = poll(p, 2, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            ssize_t n = read(p[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(p[i].fd);
                p[i].fd = -1;
                --open;
            } else {
                (i == 0 ? res.Out : res.Err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    for (auto &q : p)
        if (q.fd >= 0) close(q.fd);
    res.ExitCode = WaitChild(pid, &res.MaxRssKb);
    return res;
}
