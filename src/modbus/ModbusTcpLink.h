#pragma once
// A Modbus TCP gateway (modbus-tcp://HOST[:PORT], port 502 by default) in
// the place of a serial line: the master's RTU frames go out as Modbus TCP
// requests (MBAP header, the device address as the unit identifier, no
// CRC) and the answers come back as RTU frames with their CRC, so the
// master and its checks stay as on a local line. Only the Modbus jobs use
// it; a gateway carries no bootloader protocol.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/Link.h"
#include "serial/NetLink.h"

class TModbusTcpLink final : public TLink {
public:
    // The longest Modbus TCP answer: MBAP header (7 bytes, the unit
    // identifier among them) and 253 bytes of PDU.
    static constexpr size_t CMaxAdu = 260;
    // Answers as RTU frames kept unread, and bytes taken from the gateway
    // in one go at most.
    static constexpr size_t CMaxInput = 1024;
    static constexpr size_t CMaxCollectBytes = 64 * 1024;

    // The server address of a modbus-tcp:// URL (the scheme in any case);
    // empty for other names.
    static std::optional<TNetLink::TAddress> ParseUrl(const std::string &Url);
    static bool IsModbusTcpPort(const std::string &Port) { return ParseUrl(Port).has_value(); }

    std::optional<EComPort> Open(const TLinkSettings &Settings) override;
    void Close() override {
        FSocket.Close();
        FPending.clear();
        FInput.clear();
    }
    bool Connected() const override { return FSocket.Connected(); }
    TLinkSettings Settings() const override { return FSettings; }
    int Write(const void *Buffer, int Count) override;
    int Read(void *Buffer, int Count) override;
    bool WaitForInput(int TimeoutMs) override;
    void Clear() override;

private:
    // Moves the complete answers of the socket into FInput as RTU frames;
    // bytes that are no answer of ours are dropped (and counted in the
    // frame trace).
    void Collect();

    TNetLink FSocket;  // a raw TCP connection to the gateway
    TLinkSettings FSettings;
    uint16_t FTransaction = 0;
    std::vector<uint8_t> FPending;  // bytes of an answer not yet complete
    std::vector<uint8_t> FInput;    // answers as RTU frames, not yet read
};
