#pragma once
// A line reached over the network, through a serial device server:
//   tcp://HOST:PORT      a transparent socket; the line settings stay as the
//                        server has them (nothing of TLinkSettings is sent);
//   rfc2217://HOST:PORT  Telnet with the Com Port Control option: rate, data
//                        bits, parity and stop bits are set on the server on
//                        every Open, Clear purges the server's queues.
// The program is only a client. The socket never blocks: connecting has its
// own bounded time-out, waiting for input sleeps in poll(); every deadline
// is read from the link's clock. A refused or
// dropped connection is a port error naming the server; once open, a drop
// raises error 25 (Port Disconnected) as an unplugged adapter does.
// Received data waits in a buffer of CMaxInput bytes, the receive queue of a
// local port: what a server sends beyond it before it is read is dropped
// and counted in the frame trace, so a server that floods the line costs
// neither memory nor more than the reader's own deadlines.
// Every wait (connecting included) ends at once on a stop request
// (EInterrupted, serial/Interrupt.h).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/Clock.h"
#include "serial/Link.h"
#include "serial/UniqueFd.h"

class TNetLink final : public TLink {
public:
    enum class TKind { Raw, Rfc2217 };
    // Time allowed to reach the server and, for rfc2217, for it to accept
    // the line settings.
    static constexpr int CConnectTimeoutMs = 5000;
    // Data bytes received and not yet read that are kept (four of the
    // longest frame of either protocol, 261 bytes).
    static constexpr size_t CMaxInput = 1024;
    // Bytes taken from the socket in one go at most: a server that never
    // pauses cannot hold a read or a wait beyond its deadline.
    static constexpr size_t CMaxPumpBytes = 64 * 1024;

    struct TAddress {
        TKind Kind = TKind::Raw;
        std::string Host;
        std::string Service;
    };
    // The address of a tcp:// or rfc2217:// URL (the scheme in any case);
    // empty for any other name.
    static std::optional<TAddress> ParseUrl(const std::string &Url);
    // Whether Url begins with Scheme ("tcp://"), in any case.
    static bool HasScheme(const std::string &Url, const std::string &Scheme);
    // Why a parsed address cannot be connected to: no host, no port, or a
    // port that is not a number in 1..65535 (error 1, EINVAL, naming Url).
    static std::optional<EComPort> AddressError(const TAddress &A, const std::string &Url);
    // Host and port of what follows a URL's scheme ("host:port",
    // "[v6]:port", path or options cut off); Service stays as given when the
    // port is left out.
    static void SplitHostPort(std::string Rest, TAddress &A);

    // A link to the server at Address; its deadlines are read from Clock
    // (which must outlive the link). LinkFactory.h makes it for a port name.
    explicit TNetLink(TAddress Address, TClock &Clock = SystemClock());
    ~TNetLink() override;
    TNetLink(const TNetLink &) = delete;
    TNetLink &operator=(const TNetLink &) = delete;

    std::optional<EComPort> Open(const TLinkSettings &Settings) override;
    void Close() override;
    bool Connected() const override { return static_cast<bool>(FFd); }
    TLinkSettings Settings() const override { return FSettings; }
    int Write(const void *Buffer, int Count) override;
    int Read(void *Buffer, int Count) override;
    bool WaitForInput(int TimeoutMs) override;
    void Clear() override;

    // "HOST:PORT" of the server, for messages.
    std::string ServerText() const;
    // Data bytes dropped because the input buffer was full, in all.
    uint64_t Dropped() const { return FDroppedTotal; }

private:
    void Connect();
    void SendLineSettings();
    void SendRaw(const uint8_t *Data, size_t Count, int TimeoutMs);
    void SendOption(uint8_t Verb, uint8_t Option);
    void SendComPort(uint8_t Command, const std::vector<uint8_t> &Value);
    // Takes what the socket holds into FInput (Telnet commands handled);
    // raises error 25 when the server has gone.
    void Pump();
    void Feed(uint8_t Byte);
    // Keeps what fits below CMaxInput unread bytes, counts the rest dropped.
    void Keep(const uint8_t *Data, size_t Count);
    void HandleSub();
    // Puts the bytes dropped since the last report in the frame trace.
    void TraceDropped();
    void CheckAnswers() const;
    [[noreturn]] void Disconnected(int Err);

    TLinkSettings FSettings;
    TAddress FAddress;
    TClock *FClock;
    TUniqueFd FFd;
    std::vector<uint8_t> FInput;  // data bytes received, not yet read
    size_t FInputPos = 0;
    // Telnet receive state.
    enum class TState { Data, Iac, Verb, Sub, SubIac } FState = TState::Data;
    uint8_t FVerb = 0;
    std::vector<uint8_t> FSub;
    bool FComPortRefused = false;
    // The line settings asked of an RFC 2217 server and its answers
    // (empty: not answered), by command (rate, data size, parity, stop size).
    uint32_t FAsked[5] = {};
    std::optional<uint32_t> FAnswered[5];
    uint64_t FDroppedNow = 0;  // not yet in the trace
    uint64_t FDroppedTotal = 0;
};
