#pragma once
// A line reached over the network, through a serial device server:
//   tcp://HOST:PORT      a transparent socket; the line settings stay as the
//                        server has them (nothing of TLinkSettings is sent);
//   rfc2217://HOST:PORT  Telnet with the Com Port Control option: rate, data
//                        bits, parity and stop bits are set on the server on
//                        every Open, Clear purges the server's queues.
// The program is only a client. The socket never blocks: connecting has its
// own bounded time-out, waiting for input sleeps in poll(). A refused or
// dropped connection is a port error naming the server; once open, a drop
// raises error 25 (Port Disconnected) as an unplugged adapter does. Every
// wait (connecting included) ends at once on a stop request (EInterrupted,
// serial/Interrupt.h).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/Link.h"
#include "serial/UniqueFd.h"

class TNetLink final : public TLink {
public:
    enum class TKind { Raw, Rfc2217 };
    // Time allowed to reach the server and, for rfc2217, for it to accept
    // the line settings.
    static constexpr int CConnectTimeoutMs = 5000;

    struct TAddress {
        TKind Kind = TKind::Raw;
        std::string Host;
        std::string Service;
    };
    // The address of a tcp:// or rfc2217:// URL; empty for any other name.
    static std::optional<TAddress> ParseUrl(const std::string &Url);
    // Host and port of what follows a URL's scheme ("host:port",
    // "[v6]:port", path or options cut off); Service stays as given when the
    // port is left out.
    static void SplitHostPort(std::string Rest, TAddress &A);

    TNetLink() = default;
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
    void HandleSub();
    [[noreturn]] void Dropped(int Err);

    TLinkSettings FSettings;
    TAddress FAddress;
    TUniqueFd FFd;
    std::vector<uint8_t> FInput;  // data bytes received, not yet read
    size_t FInputPos = 0;
    // Telnet receive state.
    enum class TState { Data, Iac, Verb, Sub, SubIac } FState = TState::Data;
    uint8_t FVerb = 0;
    std::vector<uint8_t> FSub;
    bool FComPortRefused = false;
    bool FBaudAnswered = false;
};
