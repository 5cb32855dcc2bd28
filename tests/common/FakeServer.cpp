#include "FakeServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WILL = 251, SB = 250, SE = 240, ComPort = 44;

}  // namespace

TFakeServer::TFakeServer(TBehaviour Behaviour) : FBehaviour(Behaviour) {}

TFakeServer::~TFakeServer() {
    FStop = true;
    if (FThread.joinable()) FThread.join();
    if (FListen >= 0) ::close(FListen);
}

bool TFakeServer::Start() {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof A;
    if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr *>(&A), sizeof A) != 0 ||
        ::listen(FListen, 4) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr *>(&A), &Len) != 0)
        return false;
    FPort = ntohs(A.sin_port);
    FEndMs = NowMs() + TimeLimitMs;
    FThread = std::thread([this] { Run(); });
    return true;
}

void TFakeServer::Run() {
    while (!FStop && NowMs() < FEndMs) {
        pollfd P{FListen, POLLIN, 0};
        if (::poll(&P, 1, 50) <= 0) continue;
        const int Fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (Fd < 0) continue;
        ++FConnections;
        Serve(Fd);
        ::close(Fd);
    }
}

void TFakeServer::Serve(int Fd) {
    switch (FBehaviour) {
        case TBehaviour::Flood:
            Flood(Fd);
            return;
        case TBehaviour::DropOnRequest: {
            pollfd P{Fd, POLLIN, 0};
            while (!FStop && NowMs() < FEndMs && ::poll(&P, 1, 50) == 0) {
            }
            return;
        }
        case TBehaviour::Rfc2217:
        case TBehaviour::RefuseComPort:
            Telnet(Fd);
            return;
    }
}

// Sends without pause while the client takes it; what the client sends is
// read and thrown away. After FloodBytes it stays silent until the client
// closes.
void TFakeServer::Flood(int Fd) {
    std::vector<uint8_t> Block;
    while (Block.size() < 64 * 1024) Block.insert(Block.end(), Pattern.begin(), Pattern.end());
    uint64_t Sent = 0;
    uint8_t Sink[4096];
    while (!FStop && NowMs() < FEndMs) {
        const bool More = Sent < FloodBytes;
        pollfd P{Fd, static_cast<short>(POLLIN | (More ? POLLOUT : 0)), 0};
        if (::poll(&P, 1, 50) <= 0) continue;
        if (P.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t N = ::recv(Fd, Sink, sizeof Sink, MSG_DONTWAIT);
            if (N == 0 || (N < 0 && errno != EAGAIN && errno != EINTR)) return;
        }
        if (More && (P.revents & POLLOUT)) {
            const size_t Want =
                static_cast<size_t>(std::min<uint64_t>(Block.size(), FloodBytes - Sent));
            const ssize_t N = ::send(Fd, Block.data(), Want, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (N > 0) {
                Sent += static_cast<uint64_t>(N);
                FFlooded += static_cast<uint64_t>(N);
            } else if (N < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
        }
    }
}

// A Telnet peer that knows only the Com Port Control option: each
// SET-BAUDRATE, -DATASIZE, -PARITY and -STOPSIZE is answered (command +
// 100) with the value asked for, or with the one of Answers.
void TFakeServer::Telnet(int Fd) {
    auto Send = [Fd](const std::vector<uint8_t> &B) {
        (void)::send(Fd, B.data(), B.size(), MSG_NOSIGNAL);
    };
    if (FBehaviour == TBehaviour::RefuseComPort) Send({IAC, DONT, ComPort});
    std::vector<uint8_t> In;
    uint8_t Buf[1024];
    while (!FStop && NowMs() < FEndMs) {
        pollfd P{Fd, POLLIN, 0};
        if (::poll(&P, 1, 50) <= 0) continue;
        const ssize_t N = ::recv(Fd, Buf, sizeof Buf, 0);
        if (N <= 0) return;
        In.insert(In.end(), Buf, Buf + N);
        if (FBehaviour != TBehaviour::Rfc2217) continue;
        // Complete subnegotiations IAC SB 44 cmd value... IAC SE.
        for (size_t I = 0; I + 3 < In.size();) {
            if (In[I] != IAC || In[I + 1] != SB || In[I + 2] != ComPort) {
                ++I;
                continue;
            }
            size_t End = I + 3;
            while (End + 1 < In.size() && !(In[End] == IAC && In[End + 1] == SE)) ++End;
            if (End + 1 >= In.size()) break;
            const uint8_t Command = In[I + 3];
            std::vector<uint8_t> Value(In.begin() + static_cast<long>(I) + 4,
                                       In.begin() + static_cast<long>(End));
            if (auto It = Answers.find(Command); It != Answers.end()) {
                const uint32_t V = It->second;
                Value = Command == 1 ? std::vector<uint8_t>{static_cast<uint8_t>(V >> 24),
                                                            static_cast<uint8_t>(V >> 16),
                                                            static_cast<uint8_t>(V >> 8),
                                                            static_cast<uint8_t>(V)}
                                     : std::vector<uint8_t>{static_cast<uint8_t>(V)};
            }
            if (Command >= 1 && Command <= 4) {
                std::vector<uint8_t> Answer{IAC, SB, ComPort, static_cast<uint8_t>(Command + 100)};
                Answer.insert(Answer.end(), Value.begin(), Value.end());
                Answer.insert(Answer.end(), {IAC, SE});
                Send(Answer);
            }
            In.erase(In.begin(), In.begin() + static_cast<long>(End) + 2);
            I = 0;
        }
        if (In.size() > 4096) In.clear();
    }
}
