#include "CliTestUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <sstream>
#include <thread>

std::string WriteTestSettings(const TTempDir &Dir) {
    return Dir.Write("veldra-cli.ini",
                     "[SETTINGS]\nMAX_RETRY=3\nMAX_FAILS=5\nTIMEOUT=1000\n"
                     "[SENSORS]\n7=Probe A\n17=Probe Q\n300=Probe W\n1042=Probe B\n");
}

TRunResult RunCliWith(const std::string &Settings, const std::vector<std::string> &Args,
                      const std::string &Stdin, const std::vector<std::string> &ExtraEnv) {
    std::vector<std::string> argv{VELDRA_CLI_PATH, "--settings", Settings};
    argv.insert(argv.end(), Args.begin(), Args.end());
    return RunProgram(argv, Stdin, ExtraEnv);
}

std::vector<std::string> SplitLines(const std::string &Text) {
    std::vector<std::string> lines;
    std::istringstream in(Text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool Contains(const std::string &Text, const std::string &Part) {
    return Text.find(Part) != std::string::npos;
}

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

TRunningCli::TRunningCli(const TTempDir &Dir, std::vector<std::string> Args)
    : FOut(Dir.File("cli.out")), FErr(Dir.File("cli.err")) {
    Args.insert(Args.begin(), VELDRA_CLI_PATH);
    std::vector<char *> Argv;
    for (std::string &A : Args) Argv.push_back(A.data());
    Argv.push_back(nullptr);
    posix_spawn_file_actions_t Fa;
    posix_spawn_file_actions_init(&Fa);
    posix_spawn_file_actions_addopen(&Fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&Fa, 1, FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&Fa, 2, FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t At;
    posix_spawnattr_init(&At);
    sigset_t Default;
    sigemptyset(&Default);
    for (int S : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&Default, S);
    posix_spawnattr_setsigdefault(&At, &Default);
    posix_spawnattr_setflags(&At, POSIX_SPAWN_SETSIGDEF);
    if (posix_spawn(&FPid, VELDRA_CLI_PATH, &Fa, &At, Argv.data(), environ) != 0) FPid = -1;
    posix_spawn_file_actions_destroy(&Fa);
    posix_spawnattr_destroy(&At);
}

TRunningCli::~TRunningCli() {
    if (FPid > 0) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
}

bool TRunningCli::HoldsOpen(const std::string &Path, int TimeoutMs) const {
    char Real[PATH_MAX];
    if (!::realpath(Path.c_str(), Real)) return false;
    const auto End = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    const std::string Fds = "/proc/" + std::to_string(FPid) + "/fd";
    while (Clock::now() < End) {
        if (DIR *D = ::opendir(Fds.c_str())) {
            bool Found = false;
            while (dirent *E = ::readdir(D)) {
                char Target[PATH_MAX];
                const ssize_t N =
                    ::readlink((Fds + "/" + E->d_name).c_str(), Target, sizeof Target - 1);
                if (N > 0 && std::string(Target, static_cast<size_t>(N)) == Real) Found = true;
            }
            ::closedir(D);
            if (Found) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool TRunningCli::WaitForOut(const std::string &Part, int Count, int TimeoutMs) const {
    const auto End = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (Clock::now() < End) {
        int N = 0;
        for (const std::string &L : SplitLines(Out())) N += Contains(L, Part);
        if (N >= Count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void TRunningCli::Signal(int Sig) const {
    ::kill(FPid, Sig);
}

TRunResult TRunningCli::Wait(int TimeoutMs) {
    TRunResult R;
    const auto End = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    int Status = 0;
    while (::waitpid(FPid, &Status, WNOHANG) == 0) {
        if (Clock::now() > End) return R;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FPid = -1;
    R.ExitCode = WIFEXITED(Status)     ? WEXITSTATUS(Status)
                 : WIFSIGNALED(Status) ? -WTERMSIG(Status)
                                       : -1;
    R.Out = Out();
    R.Err = Err();
    return R;
}

int TRunningCli::Interrupt(int Sig, int TimeoutMs) {
    Signal(Sig);
    return Wait(TimeoutMs).ExitCode;
}
