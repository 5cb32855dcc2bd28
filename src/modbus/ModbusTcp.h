#pragma once
// The Modbus TCP framing for a gateway (modbus-tcp://HOST[:PORT], port 502
// by default) reached over a plain TCP socket (TNetLink, raw): each request
// goes out behind an MBAP header (transaction id, protocol 0, length, the
// device address as the unit identifier), and only the answer carrying the
// same transaction id is taken. Only the Modbus jobs use it; a gateway
// carries no bootloader protocol.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "modbus/ModbusFraming.h"
#include "serial/NetLink.h"

class TModbusTcpFraming final : public TModbusFraming {
public:
    // MBAP header: transaction id, protocol id, length (2 bytes each), unit id.
    static constexpr size_t CHeader = 7;
    // The longest Modbus TCP answer: MBAP header and 253 bytes of PDU.
    static constexpr size_t CMaxAdu = 260;
    // Bytes taken from the socket in one Receive at most.
    static constexpr size_t CMaxCollectBytes = 64 * 1024;

    TFrame Begin(uint8_t Device, const TPdu &Pdu, size_t AnswerPduLen, bool AnyAnswer) override;
    // Takes at most what one answer still needs at a time and at most
    // CMaxCollectBytes in one call, and stops at the answer of ours: a
    // gateway that never pauses cannot hold the master beyond its deadline,
    // and at most one answer (CMaxAdu) waits here. Bytes that are no answer
    // of ours (other transaction ids, not Modbus TCP) are dropped and
    // counted in the frame trace. True once our answer is complete.
    bool Receive(TLink &Link) override;
    bool Done() const override { return FComplete; }
    const uint8_t *Received() const override { return FComplete ? FPending.data() : nullptr; }
    size_t ReceivedCount() const override { return FComplete ? FPending.size() : 0; }
    bool Arrived() const override {
        return FComplete && FPending.size() >= CHeader + FAnswerPduLen;
    }
    // The PDU of our answer when its unit identifier is the device asked.
    const uint8_t *AnswerPdu(size_t &Count) const override;
    TModbusFailure FrameFailure() const override;

private:
    uint16_t FTransaction = 0;
    uint8_t FDevice = 0;
    size_t FAnswerPduLen = 0;
    bool FComplete = false;
    std::vector<uint8_t> FPending;  // the answer being collected (CMaxAdu at most)
};
