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
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "serial/Clock.h"
#include "serial/FrameTrace.h"
#include "serial/Interrupt.h"

namespace {

// Telnet.
constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t OptBinary = 0, OptSuppressGoAhead = 3, OptComPort = 44;
// Com Port Control commands, client to server (the server answers +100).
constexpr uint8_t CpSetBaudRate = 1, CpSetDataSize = 2, CpSetParity = 3, CpSetStopSize = 4,
                  CpSetControl = 5, CpPurgeData = 12;
constexpr uint8_t CpServerOffset = 100;

constexpr int CWriteTimeoutMs = 5000;

// The texts of the line settings in the answers of an RFC 2217 server.
std::string SettingValueText(uint8_t Command, uint32_t Value) {
    switch (Command) {
        case CpSetParity: {
            static const char *const Names[] = {"none", "odd", "even", "mark", "space"};
            return Value >= 1 && Value <= 5 ? Names[Value - 1] : std::to_string(Value);
        }
        case CpSetStopSize:
            return Value == 3 ? "1.5" : std::to_string(Value);
        default:
            return std::to_string(Value);
    }
}

const char *SettingName(uint8_t Command) {
    switch (Command) {
        case CpSetBaudRate:
            return "baud rate";
        case CpSetDataSize:
            return "data bits";
        case CpSetParity:
            return "parity";
        default:
            return "stop bits";
    }
}

}  // namespace

bool TNetLink::HasScheme(const std::string &Url, const std::string &Scheme) {
    if (Url.size() < Scheme.size()) return false;
    for (size_t I = 0; I < Scheme.size(); ++I) {
        const unsigned char C = static_cast<unsigned char>(Url[I]);
        if (std::tolower(C) != Scheme[I]) return false;
    }
    return true;
}

std::optional<TNetLink::TAddress> TNetLink::ParseUrl(const std::string &Url) {
    TAddress A;
    std::string Rest;
    if (HasScheme(Url, "tcp://")) {
        A.Kind = TKind::Raw;
        Rest = Url.substr(6);
    } else if (HasScheme(Url, "rfc2217://")) {
        A.Kind = TKind::Rfc2217;
        Rest = Url.substr(10);
    } else {
        return std::nullopt;
    }
    SplitHostPort(std::move(Rest), A);
    return A;
}

std::optional<EComPort> TNetLink::AddressError(const TAddress &A, const std::string &Url) {
    if (A.Host.empty() || A.Service.empty())
        return EComPort(CError_OpenFailed, EINVAL, "no server address in " + Url);
    // Digits only, 1..65535: the resolver would take a larger number modulo
    // 65536 and a service name from its own tables.
    bool Number = A.Service.size() <= 5;
    for (char C : A.Service) Number = Number && C >= '0' && C <= '9';
    const long Port = Number ? std::stol(A.Service) : 0;
    if (Port < 1 || Port > 65535)
        return EComPort(CError_OpenFailed, EINVAL,
                        "bad port number " + A.Service + " in " + Url + " (1 to 65535)");
    return std::nullopt;
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

TNetLink::TNetLink(TAddress Address, TClock &Clock)
    : FAddress(std::move(Address)), FClock(&Clock) {}

TNetLink::~TNetLink() {
    Close();
}

std::string TNetLink::ServerText() const {
    const bool V6 = FAddress.Host.find(':') != std::string::npos;
    return "server " + (V6 ? "[" + FAddress.Host + "]" : FAddress.Host) + ":" + FAddress.Service;
}

void TNetLink::Close() {
    TraceDropped();
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
            if (auto Error = AddressError(FAddress, Settings.Port)) return Error;
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
    Hints.ai_flags = AI_NUMERICSERV;
    if (const int R = ::getaddrinfo(FAddress.Host.c_str(), FAddress.Service.c_str(), &Hints, &List);
        R != 0) {
        if (R == EAI_SYSTEM) throw EComPort(CError_OpenFailed, errno, ServerText());
        // The resolver's own reason, with the name it could not resolve.
        throw EComPort(
            CError_OpenFailed, -1,
            ServerText() + ": cannot resolve " + FAddress.Host + ": " + ::gai_strerror(R));
    }
    // Freed also when a stop request ends the wait for the connection.
    const std::unique_ptr<addrinfo, void (*)(addrinfo *)> Resolved(List, ::freeaddrinfo);
    int LastErr = ECONNREFUSED;
    const uint64_t Deadline = FClock->Now() + CConnectTimeoutMs;
    for (addrinfo *Ai = List; Ai && !FFd; Ai = Ai->ai_next) {
        TUniqueFd Fd(::socket(Ai->ai_family, Ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                              Ai->ai_protocol));
        if (!Fd) {
            LastErr = errno;
            continue;
        }
        int Err = 0;
        if (::connect(Fd.get(), Ai->ai_addr, Ai->ai_addrlen) != 0) {
            Err = errno;
            if (Err == EINPROGRESS) {
                pollfd Pf{Fd.get(), POLLOUT, 0};
                const uint64_t Now = FClock->Now();
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
        const uint8_t Hello[] = {IAC, WILL, OptBinary,          IAC, DO, OptBinary,
                                 IAC, WILL, OptSuppressGoAhead, IAC, DO, OptSuppressGoAhead,
                                 IAC, WILL, OptComPort};
        SendRaw(Hello, sizeof Hello, CConnectTimeoutMs);
    }
}

void TNetLink::SendLineSettings() {
    for (auto &A : FAnswered) A.reset();
    FAsked[CpSetDataSize] = static_cast<uint32_t>(5 + static_cast<int>(FSettings.DataBits));
    // Parity: 1 none, 2 odd, 3 even, 4 mark, 5 space (the order of TParityBits).
    FAsked[CpSetParity] = static_cast<uint32_t>(1 + static_cast<int>(FSettings.Parity));
    // Stop bits: 1 one, 2 two, 3 one and a half.
    FAsked[CpSetStopSize] = FSettings.StopBits == sbTwoStopBits    ? 2
                            : FSettings.StopBits == sbOne5StopBits ? 3
                                                                   : 1;
    const uint32_t Rate = static_cast<uint32_t>(BaudRateToInt(FSettings.BaudRate));
    FAsked[CpSetBaudRate] = Rate;
    // The rate last: a server answers in order, so with the rate's answer
    // those of the others are in too.
    for (uint8_t Command : {CpSetDataSize, CpSetParity, CpSetStopSize})
        SendComPort(Command, {static_cast<uint8_t>(FAsked[Command])});
    SendComPort(CpSetBaudRate, {static_cast<uint8_t>(Rate >> 24), static_cast<uint8_t>(Rate >> 16),
                                static_cast<uint8_t>(Rate >> 8), static_cast<uint8_t>(Rate)});
    // Modem lines are asked for, not required: many servers (and every
    // pseudo-terminal behind one) ignore or refuse them.
    if (FSettings.ControlDTR == dtrEnable) SendComPort(CpSetControl, {8});
    if (FSettings.ControlRTS == rtsEnable) SendComPort(CpSetControl, {11});

    // The data that follows must go out at the new rate: wait until the
    // server has answered the rate.
    const uint64_t Deadline = FClock->Now() + CConnectTimeoutMs;
    while (!FAnswered[CpSetBaudRate]) {
        if (FComPortRefused)
            throw EComPort(
                CError_CommState, -1,
                ServerText() +
                    " does not accept line settings (RFC 2217); if its line is preset, use tcp://" +
                    ServerText().substr(7));
        const uint64_t Now = FClock->Now();
        if (Now >= Deadline)
            throw EComPort(CError_CommState, ETIMEDOUT,
                           ServerText() + " did not answer the line settings (RFC 2217)");
        pollfd Pf{FFd.get(), POLLIN, 0};
        if (PollInterruptible(&Pf, 1, static_cast<int>(Deadline - Now)) < 0 && errno != EINTR)
            throw EComPort(CError_CommState, errno, ServerText());
        Pump();
    }
    CheckAnswers();
}

// A server that answers another value than the one asked for has refused
// it, as a local port refuses a rate it cannot run.
void TNetLink::CheckAnswers() const {
    for (uint8_t Command : {CpSetBaudRate, CpSetDataSize, CpSetParity, CpSetStopSize}) {
        if (!FAnswered[Command] || *FAnswered[Command] == FAsked[Command]) continue;
        const uint32_t Got = *FAnswered[Command];
        throw EComPort(CError_CommState, -1,
                       ServerText() + " set " + SettingName(Command) + " " +
                           SettingValueText(Command, Got) + " instead of " +
                           SettingValueText(Command, FAsked[Command]));
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
    const uint64_t Deadline = FClock->Now() + static_cast<uint64_t>(TimeoutMs);
    size_t Done = 0;
    while (Done < Count) {
        const ssize_t N = ::send(FFd.get(), Data + Done, Count - Done, MSG_NOSIGNAL);
        if (N > 0) {
            Done += static_cast<size_t>(N);
            continue;
        }
        if (N < 0 && errno == EINTR) continue;
        if (N < 0 && errno != EAGAIN && errno != EWOULDBLOCK) Disconnected(errno);
        const uint64_t Now = FClock->Now();
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

// Takes what the socket holds, at most CMaxPumpBytes; data beyond
// CMaxInput unread bytes is dropped.
void TNetLink::Pump() {
    if (!FFd) throw EComPort(CError_NotOpen);
    if (FInputPos > 0) {  // read bytes make room
        FInput.erase(FInput.begin(), FInput.begin() + static_cast<std::ptrdiff_t>(FInputPos));
        FInputPos = 0;
    }
    uint8_t Buf[4096];
    for (size_t Taken = 0; Taken < CMaxPumpBytes;) {
        const ssize_t N = ::recv(FFd.get(), Buf, sizeof Buf, MSG_DONTWAIT);
        if (N == 0) Disconnected(ECONNRESET);
        if (N < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            Disconnected(errno);
        }
        Taken += static_cast<size_t>(N);
        if (FAddress.Kind == TKind::Raw)
            Keep(Buf, static_cast<size_t>(N));
        else
            for (ssize_t I = 0; I < N; ++I) Feed(Buf[I]);
        if (static_cast<size_t>(N) < sizeof Buf) return;
    }
}

void TNetLink::Keep(const uint8_t *Data, size_t Count) {
    const size_t Kept = std::min(Count, CMaxInput - std::min(FInput.size(), CMaxInput));
    if (FInput.capacity() < CMaxInput) FInput.reserve(CMaxInput);
    FInput.insert(FInput.end(), Data, Data + Kept);
    FDroppedNow += Count - Kept;
    FDroppedTotal += Count - Kept;
}

void TNetLink::TraceDropped() {
    if (FDroppedNow == 0) return;
    if (FrameTraceEnabled()) TraceDroppedBytes(FSettings.Port, FDroppedNow);
    FDroppedNow = 0;
}

void TNetLink::Feed(uint8_t Byte) {
    switch (FState) {
        case TState::Data:
            if (Byte == IAC)
                FState = TState::Iac;
            else
                Keep(&Byte, 1);
            break;
        case TState::Iac:
            if (Byte == IAC) {
                Keep(&Byte, 1);  // the escaped IAC
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
            else if (FVerb == DO && Byte != OptBinary && Byte != OptSuppressGoAhead &&
                     Byte != OptComPort)
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
    // Answers to the line settings: the rate in four bytes, the others in
    // one.
    if (FSub.size() < 3 || FSub[0] != OptComPort || FSub[1] <= CpServerOffset) return;
    const uint8_t Command = static_cast<uint8_t>(FSub[1] - CpServerOffset);
    if (Command == CpSetBaudRate && FSub.size() >= 6)
        FAnswered[Command] = (static_cast<uint32_t>(FSub[2]) << 24) |
                             (static_cast<uint32_t>(FSub[3]) << 16) |
                             (static_cast<uint32_t>(FSub[4]) << 8) | FSub[5];
    else if (Command == CpSetDataSize || Command == CpSetParity || Command == CpSetStopSize)
        FAnswered[Command] = FSub[2];
    // Other answers (and notifications of line and modem state) need no
    // action: a refused modem-line request is not an error.
}

void TNetLink::Disconnected(int Err) {
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
    const uint64_t Deadline = FClock->Now() + static_cast<uint64_t>(std::max(TimeoutMs, 0));
    for (;;) {
        Pump();
        if (FInput.size() > FInputPos) return true;
        const uint64_t Now = FClock->Now();
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
    TraceDropped();
    if (FAddress.Kind == TKind::Rfc2217) SendComPort(CpPurgeData, {3});
}
