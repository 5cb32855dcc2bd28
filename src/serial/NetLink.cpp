// Lines behind serial device servers: raw TCP and Telnet with the Com Port
// Control option (RFC 2217).
#include "serial/NetLink.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <cerrno>
#include <cstring>

#include "serial/Clock.h"
#include "serial/ComPort.h"
#include "serial/Interrupt.h"

namespace {

// Telnet.
constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t OptBinary = 0, OptSuppressGoAhead = 3, OptComPort = 44;
// Com Port Control commands, client to server (the server answers +100).
constexpr uint8_t CpSetBaudRate = 1, CpSetDataSize = 2, CpSetParity = 3, CpSetStopSize = 4, CpSetControl = 5,
                  CpPurgeData = 12;
constexpr uint8_t CpServerOffset = 100;

constexpr int CWriteTimeoutMs = 5000;

uint64_t NowMs() { return GetTickCount64(); }

}  // namespace

std::optional<TNetLink::TAddress> TNetLink::ParseUrl(const std::string &Url) {
    TAddress A;
    std::string Rest;
    if (Url.rfind("tcp://", 0) == 0) {
        A.Kind = TKind::Raw;
        Rest = Url.substr(6);
    } else if (Url.rfind("rfc2217://", 0) == 0) {
        A.Kind = TKind::Rfc2217;
        Rest = Url.substr(10);
    } else {
        return std::nullopt;
    }
    SplitHostPort(std::move(Rest), A);
    return A;
}

void TNetLink::SplitHostPort(std::string Rest, TAddress &A) {
    // Path or options after the address are not ours: cut at '/' or '?'.
    Rest = Rest.substr(0, Rest.find_first_of("/?"));
    size_t Colon;
    if (!Rest.empty() && Rest.front() == '[') {  // [IPv6]:port
        const size_t Close = Rest.find(']');
        if (Close == std::string::npos) return;
        A.Host = Rest.substr(1, Close - 1);
        Colon = Rest.find(':', Close);
    } else {
        Colon = Rest.rfind(':');
        A.Host = Rest.substr(0, Colon);
    }
    if (Colon != std::string::npos) A.Service = Rest.substr(Colon + 1);
}

TNetLink::~TNetLink() { Close(); }

std::string TNetLink::ServerText() const {
    const bool V6 = FAddress.Host.find(':') != std::string::npos;
    return "server " + (V6 ? "[" + FAddress.Host + "]" : FAddress.Host) + ":" + FAddress.Service;
}

void TNetLink::Close() {
    FFd.reset();
    FInput.clear();
    FInputPos = 0;
    FState = TState::Data;
    FSub.clear();
}

std::optional<EComPort> TNetLink::Open(const TLinkSettings &Settings) {
    try {
        const bool Same = Connected() && Settings.Port == FSettings.Port;
        FSettings = Settings;
        if (!Same) {
            Close();
            const auto A = ParseUrl(Settings.Port);
            if (!A || A->Host.empty() || A->Service.empty()) {
                FAddress = A.value_or(TAddress{});
                return EComPort(CError_OpenFailed, EINVAL, "no server address in " + Settings.Port);
            }
            FAddress = *A;
            Connect();
        }
        if (FAddress.Kind == TKind::Rfc2217) SendLineSettings();
        return std::nullopt;
    } catch (const EComPort &E) {
        Close();
        return E;
    }
}

void TNetLink::Connect() {
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_STREAM;
    addrinfo *List = nullptr;
    if (const int R = ::getaddrinfo(FAddress.Host.c_str(), FAddress.Service.c_str(), &Hints, &List); R != 0)
        throw EComPort(CError_OpenFailed, R == EAI_SYSTEM ? errno : EHOSTUNREACH, ServerText());
    // Freed also when a stop request ends the wait for the connection.
    const std::unique_ptr<addrinfo, void (*)(addrinfo *)> Resolved(List, ::freeaddrinfo);
    int LastErr = ECONNREFUSED;
    const uint64_t Deadline = NowMs() + CConnectTimeoutMs;
    for (addrinfo *Ai = List; Ai && !FFd; Ai = Ai->ai_next) {
        TUniqueFd Fd(::socket(Ai->ai_family, Ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, Ai->ai_protocol));
        if (!Fd) {
            LastErr = errno;
            continue;
        }
        int Err = 0;
        if (::connect(Fd.get(), Ai->ai_addr, Ai->ai_addrlen) != 0) {
            Err = errno;
            if (Err == EINPROGRESS) {
                pollfd Pf{Fd.get(), POLLOUT, 0};
                const uint64_t Now = NowMs();
                const int Left = Now < Deadline ? static_cast<int>(Deadline - Now) : 0;
                int R;
                do R = PollInterruptible(&Pf, 1, Left);
                while (R < 0 && errno == EINTR);
                if (R == 0) {
                    Err = ETIMEDOUT;
                } else {
                    socklen_t Len = sizeof Err;
                    if (::getsockopt(Fd.get(), SOL_SOCKET, SO_ERROR, &Err, &Len) != 0) Err = errno;
                }
            }
        }
        if (Err != 0) {
            LastErr = Err;
            continue;
        }
        const int One = 1;
        ::setsockopt(Fd.get(), IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
        FFd = std::move(Fd);
    }
    if (!FFd) throw EComPort(CError_OpenFailed, LastErr, ServerText());
    if (FAddress.Kind == TKind::Rfc2217) {
        FComPortRefused = false;
        // Binary both ways (no CR/NUL translation), no go-aheads, and the
        // Com Port Control option on our side.
        const uint8_t Hello[] = {IAC, WILL, OptBinary, IAC, DO, OptBinary, IAC, WILL, OptSuppressGoAhead,
                                 IAC, DO, OptSuppressGoAhead, IAC, WILL, OptComPort};
        SendRaw(Hello, sizeof Hello, CConnectTimeoutMs);
    }
}

void TNetLink::SendLineSettings() {
    const uint32_t Rate = static_cast<uint32_t>(BaudRateToInt(FSettings.BaudRate));
    SendComPort(CpSetBaudRate, {static_cast<uint8_t>(Rate >> 24), static_cast<uint8_t>(Rate >> 16),
                                static_cast<uint8_t>(Rate >> 8), static_cast<uint8_t>(Rate)});
    SendComPort(CpSetDataSize, {static_cast<uint8_t>(5 + static_cast<int>(FSettings.DataBits))});
    // Parity: 1 none, 2 odd, 3 even, 4 mark, 5 space (the order of TParityBits).
    SendComPort(CpSetParity, {static_cast<uint8_t>(1 + static_cast<int>(FSettings.Parity))});
    // Stop bits: 1 one, 2 two, 3 one and a half.
    const uint8_t Stop = FSettings.StopBits == sbTwoStopBits ? 2 : FSettings.StopBits == sbOne5StopBits ? 3 : 1;
    SendComPort(CpSetStopSize, {Stop});
    // Modem lines are asked for, not required: many servers (and every
    // pseudo-terminal behind one) ignore or refuse them.
    if (FSettings.ControlDTR == dtrEnable) SendComPort(CpSetControl, {8});
    if (FSettings.ControlRTS == rtsEnable) SendComPort(CpSetControl, {11});

    // The data that follows must go out at the new rate: wait until the
    // server has answered the rate.
    FBaudAnswered = false;
    const uint64_t Deadline = NowMs() + CConnectTimeoutMs;
    while (!FBaudAnswered) {
        if (FComPortRefused) throw EComPort(CError_CommState, -1, ServerText());
        const uint64_t Now = NowMs();
        if (Now >= Deadline) throw EComPort(CError_CommState, ETIMEDOUT, ServerText());
        pollfd Pf{FFd.get(), POLLIN, 0};
        if (PollInterruptible(&Pf, 1, static_cast<int>(Deadline - Now)) < 0 && errno != EINTR)
            throw EComPort(CError_CommState, errno, ServerText());
        Pump();
    }
}

void TNetLink::SendComPort(uint8_t Command, const std::vector<uint8_t> &Value) {
    std::vector<uint8_t> Msg = {IAC, SB, OptComPort, Command};
    for (uint8_t B : Value) {
        Msg.push_back(B);
        if (B == IAC) Msg.push_back(IAC);
    }
    Msg.push_back(IAC);
    Msg.push_back(SE);
    SendRaw(Msg.data(), Msg.size(), CWriteTimeoutMs);
}

void TNetLink::SendOption(uint8_t Verb, uint8_t Option) {
    const uint8_t Msg[] = {IAC, Verb, Option};
    SendRaw(Msg, sizeof Msg, CWriteTimeoutMs);
}

// Sends all of Data, waiting in poll() while the socket is full; error 25
// when the server has gone, a short write when the deadline passes.
void TNetLink::SendRaw(const uint8_t *Data, size_t Count, int TimeoutMs) {
    if (!FFd) throw EComPort(CError_NotOpen);
    const uint64_t Deadline = NowMs() + static_cast<uint64_t>(TimeoutMs);
    size_t Done = 0;
    while (Done < Count) {
        const ssize_t N = ::send(FFd.get(), Data + Done, Count - Done, MSG_NOSIGNAL);
        if (N > 0) {
            Done += static_cast<size_t>(N);
            continue;
        }
        if (N < 0 && errno == EINTR) continue;
        if (N < 0 && errno != EAGAIN && errno != EWOULDBLOCK) Dropped(errno);
        const uint64_t Now = NowMs();
        if (Now >= Deadline) throw EComPort(CError_WriteFailed, ETIMEDOUT, ServerText());
        pollfd Pf{FFd.get(), POLLOUT, 0};
        if (PollInterruptible(&Pf, 1, static_cast<int>(Deadline - Now)) < 0 && errno != EINTR)
            throw EComPort(CError_WriteFailed, errno, ServerText());
    }
}

int TNetLink::Write(const void *Buffer, int Count) {
    if (!FFd) throw EComPort(CError_NotOpen);
    ThrowIfInterrupted();  // a stop asked for sends nothing more
    if (Count <= 0) return 0;
    const auto *P = static_cast<const uint8_t *>(Buffer);
    if (FAddress.Kind == TKind::Raw) {
        SendRaw(P, static_cast<size_t>(Count), CWriteTimeoutMs);
        return Count;
    }
    std::vector<uint8_t> Escaped;
    Escaped.reserve(static_cast<size_t>(Count) + 8);
    for (int I = 0; I < Count; ++I) {
        Escaped.push_back(P[I]);
        if (P[I] == IAC) Escaped.push_back(IAC);
    }
    SendRaw(Escaped.data(), Escaped.size(), CWriteTimeoutMs);
    return Count;
}

void TNetLink::Pump() {
    if (!FFd) throw EComPort(CError_NotOpen);
    uint8_t Buf[4096];
    for (;;) {
        const ssize_t N = ::recv(FFd.get(), Buf, sizeof Buf, MSG_DONTWAIT);
        if (N == 0) Dropped(ECONNRESET);
        if (N < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            Dropped(errno);
        }
        if (FAddress.Kind == TKind::Raw) {
            FInput.insert(FInput.end(), Buf, Buf + N);
        } else {
            for (ssize_t I = 0; I < N; ++I) Feed(Buf[I]);
        }
        if (static_cast<size_t>(N) < sizeof Buf) return;
    }
}

void TNetLink::Feed(uint8_t Byte) {
    switch (FState) {
    case TState::Data:
        if (Byte == IAC)
            FState = TState::Iac;
        else
            FInput.push_back(Byte);
        break;
    case TState::Iac:
        if (Byte == IAC) {
            FInput.push_back(IAC);
            FState = TState::Data;
        } else if (Byte == WILL || Byte == WONT || Byte == DO || Byte == DONT) {
            FVerb = Byte;
            FState = TState::Verb;
        } else if (Byte == SB) {
            FSub.clear();
            FState = TState::Sub;
        } else {
            FState = TState::Data;  // NOP, GA and the like
        }
        break;
    case TState::Verb:
        FState = TState::Data;
        // Answers only to what we did not ask for, so no negotiation loops.
        if (FVerb == WILL && Byte != OptBinary && Byte != OptSuppressGoAhead)
            SendOption(DONT, Byte);
        else if (FVerb == DO && Byte != OptBinary && Byte != OptSuppressGoAhead && Byte != OptComPort)
            SendOption(WONT, Byte);
        else if (FVerb == DONT && Byte == OptComPort)
            FComPortRefused = true;
        break;
    case TState::Sub:
        if (Byte == IAC)
            FState = TState::SubIac;
        else if (FSub.size() < 256)
            FSub.push_back(Byte);
        break;
    case TState::SubIac:
        if (Byte == SE) {
            HandleSub();
            FState = TState::Data;
        } else {
            if (FSub.size() < 256) FSub.push_back(Byte);  // IAC IAC
            FState = TState::Sub;
        }
        break;
    }
}

void TNetLink::HandleSub() {
    if (FSub.size() >= 2 && FSub[0] == OptComPort && FSub[1] == CpServerOffset + CpSetBaudRate) FBaudAnswered = true;
    // Other answers (and notifications of line and modem state) need no
    // action: a refused modem-line request is not an error.
}

void TNetLink::Dropped(int Err) {
    Close();
    throw EComPort(CError_Disconnected, Err, ServerText());
}

int TNetLink::Read(void *Buffer, int Count) {
    ThrowIfInterrupted();  // also for a server that never falls silent
    Pump();
    const size_t Have = FInput.size() - FInputPos;
    const size_t N = std::min(Have, static_cast<size_t>(std::max(Count, 0)));
    if (N == 0) return 0;  // nothing waiting (the buffer may not even exist)
    std::memcpy(Buffer, FInput.data() + FInputPos, N);
    FInputPos += N;
    if (FInputPos == FInput.size()) {
        FInput.clear();
        FInputPos = 0;
    }
    return static_cast<int>(N);
}

bool TNetLink::WaitForInput(int TimeoutMs) {
    if (!FFd) throw EComPort(CError_NotOpen);
    const uint64_t Deadline = NowMs() + static_cast<uint64_t>(std::max(TimeoutMs, 0));
    for (;;) {
        Pump();
        if (FInput.size() > FInputPos) return true;
        const uint64_t Now = NowMs();
        if (Now >= Deadline) return false;
        pollfd Pf{FFd.get(), POLLIN, 0};
        if (PollInterruptible(&Pf, 1, static_cast<int>(Deadline - Now)) < 0 && errno != EINTR)
            throw EComPort(CError_ReadFailed, errno, ServerText());
    }
}

void TNetLink::Clear() {
    if (!FFd) throw EComPort(CError_NotOpen);
    Pump();
    FInput.clear();
    FInputPos = 0;
    if (FAddress.Kind == TKind::Rfc2217) SendComPort(CpPurgeData, {3});
}
