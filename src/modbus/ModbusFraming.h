#pragma once
// How the master's PDUs travel on a link: the framing wraps a request for
// one device and collects its answer from the bytes the link delivers. The
// master (TModbusRTU) runs one transaction routine over either framing:
// purge, write Begin's frame, then Receive whenever the link has input until
// Done or the silence deadline, which restarts each time Receive says so.
//
// Two framings: RTU on a serial line (TRtuFraming, below) and Modbus TCP on
// a plain network socket (TModbusTcpFraming, ModbusTcp.h).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "modbus/ModbusFailure.h"
#include "modbus/ModbusFrame.h"
#include "modbus/ModbusPdu.h"
#include "serial/Link.h"

class TModbusFraming {
public:
    virtual ~TModbusFraming() = default;

    // Starts an exchange: returns the frame that carries Pdu to Device. The
    // normal answer is AnswerPduLen bytes of PDU. With AnyAnswer (the
    // presence probe) any answer that long will do and nothing ends the
    // wait early.
    virtual TFrame Begin(uint8_t Device, const TPdu &Pdu, size_t AnswerPduLen, bool AnyAnswer) = 0;
    // Reads what the link has for the answer; true when the silence
    // deadline starts again.
    virtual bool Receive(TLink &Link) = 0;
    // Nothing more to wait for: the answer is complete, or what came can no
    // longer become the answer.
    virtual bool Done() const = 0;
    // The bytes of the answer as received, for the frame trace.
    virtual const uint8_t *Received() const = 0;
    virtual size_t ReceivedCount() const = 0;
    // AnyAnswer: whether an answer of the length asked for came.
    virtual bool Arrived() const = 0;
    // The PDU of an answer that passed the framing's own checks (from the
    // device asked, whole, intact); null otherwise. Its content is
    // ModbusPdu's to judge.
    virtual const uint8_t *AnswerPdu(size_t &Count) const = 0;
    // Why AnswerPdu is null: no answer, or one the framing's checks refuse.
    virtual TModbusFailure FrameFailure() const = 0;
    // Whether the read that completed the answer may also take what follows
    // it (and drop it), to learn whether the line went quiet after it.
    // Off: bytes after the answer stay on the link.
    virtual void SetLookPast(bool) {}
    // The answer is whole and, read with look-past, nothing followed it in
    // that read: the link's receive queue was empty after it.
    virtual bool EndedQuiet() const { return false; }
};

// RTU: address + PDU + CRC-16. The answer is read as it comes, never more
// than its expected length (later bytes stay for the next purge; with
// look-past the last read has room for a few more, which are dropped); every
// byte restarts the silence deadline; unless AnyAnswer, the wait ends as
// soon as the bytes can no longer form the answer from the device asked,
// except that an exception answer from it is read whole (5 bytes) for its
// code.
class TRtuFraming final : public TModbusFraming {
public:
    TFrame Begin(uint8_t Device, const TPdu &Pdu, size_t AnswerPduLen, bool AnyAnswer) override;
    bool Receive(TLink &Link) override;
    bool Done() const override;
    const uint8_t *Received() const override { return FAnswer.data(); }
    size_t ReceivedCount() const override { return FGot; }
    bool Arrived() const override { return FGot == FLength; }
    const uint8_t *AnswerPdu(size_t &Count) const override;
    TModbusFailure FrameFailure() const override;
    void SetLookPast(bool On) override { FLookPast = On; }
    bool EndedQuiet() const override;

    // Room past the answer in a look-past read.
    static constexpr size_t LookPastRoom = 16;

private:
    // An exception answer from the device asked has begun.
    bool ExceptionBegun() const;
    uint8_t FDevice = 0;
    uint8_t FFunction = 0;
    bool FAnyAnswer = false;
    bool FLookPast = false;
    TFrame FAnswer;      // the expected answer, and the look-past room after it
    size_t FLength = 0;  // of the expected answer
    size_t FGot = 0;     // bytes of the answer
    size_t FPast = 0;    // bytes read after the answer
};
