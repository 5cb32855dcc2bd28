#include "Ser2Net.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

TSer2Net::TSer2Net(std::vector<TLine> Lines) : FLines(std::move(Lines)) {
    for (size_t I = 0; I < FLines.size(); ++I) FPorts.push_back(FreePort());
}

TSer2Net::~TSer2Net() {
    Stop();
}

int TSer2Net::FreePort() {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = 0;
    socklen_t Len = sizeof A;
    int Port = -1;
    if (::bind(Fd, reinterpret_cast<sockaddr *>(&A), sizeof A) == 0 &&
        ::getsockname(Fd, reinterpret_cast<sockaddr *>(&A), &Len) == 0)
        Port = ntohs(A.sin_port);
    ::close(Fd);
    return Port;
}

bool TSer2Net::Accepts(int Port) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = htons(static_cast<uint16_t>(Port));
    const bool Ok = ::connect(Fd, reinterpret_cast<sockaddr *>(&A), sizeof A) == 0;
    ::close(Fd);
    return Ok;
}

std::string TSer2Net::Url(size_t I) const {
    return std::string(FLines.at(I).Mode == TMode::Rfc2217 ? "rfc2217" : "tcp") +
           "://127.0.0.1:" + std::to_string(FPorts.at(I));
}

bool TSer2Net::Start(int TimeoutMs) {
    std::string Yaml;
    for (size_t I = 0; I < FLines.size(); ++I) {
        const TLine &L = FLines[I];
        Yaml += "connection: &line" + std::to_string(I) + "\n";
        Yaml +=
            "  accepter: " + std::string(L.Mode == TMode::Rfc2217 ? "telnet(rfc2217),tcp" : "tcp") +
            ",127.0.0.1," + std::to_string(FPorts[I]) + "\n";
        Yaml += "  connector: serialdev," + L.Device + "," +
                (L.Mode == TMode::Rfc2217 ? "19200e81" : L.Line) + ",local\n";
        // No character delay: ser2net otherwise holds every batch of
        // received bytes for two character times before sending it on.
        Yaml += "  options:\n    kickolduser: true\n    chardelay: false\n";
    }
    const std::string Config = FDir.Write("ser2net.yaml", Yaml);
    const std::string PidFile = FDir.File("ser2net.pid");
    const std::string Log = FDir.File("ser2net.log");
    FPid = ::fork();
    if (FPid == 0) {
        FILE *Out = std::freopen(Log.c_str(), "w", stdout);
        (void)Out;
        ::dup2(STDOUT_FILENO, STDERR_FILENO);
        ::execl("/usr/sbin/ser2net", "ser2net", "-n", "-c", Config.c_str(), "-P", PidFile.c_str(),
                nullptr);
        ::_exit(127);
    }
    if (FPid < 0) return false;
    // Ready once every port accepts; the probe connections are closed at
    // once. Waits grow from 5 ms, bounded by TimeoutMs in all.
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    int WaitMs = 5;
    for (;;) {
        int Status = 0;
        if (::waitpid(FPid, &Status, WNOHANG) == FPid) {
            FPid = -1;
            return false;
        }
        bool All = true;
        for (int P : FPorts) All = All && Accepts(P);
        if (All) return true;
        if (std::chrono::steady_clock::now() > Deadline) return false;
        ::poll(nullptr, 0, WaitMs);
        WaitMs = std::min(WaitMs * 2, 100);
    }
}

void TSer2Net::Kill() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
}

void TSer2Net::Stop() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
}
