#include "modbus/ModbusTcp.h"

#include "serial/FrameTrace.h"

TFrame TModbusTcpFraming::Begin(uint8_t Device, const TPdu &Pdu, size_t AnswerPduLen,
                                bool /*AnyAnswer: every answer ends at its announced length*/) {
    ++FTransaction;
    FDevice = Device;
    FAnswerPduLen = AnswerPduLen;
    FComplete = false;
    FPending.clear();
    const size_t Len = Pdu.size() + 1;  // the unit identifier and the PDU
    TFrame Adu;
    Adu.reserve(CHeader + Pdu.size());
    for (const size_t Field : {size_t{FTransaction}, size_t{0}, Len}) {
        Adu.push_back(static_cast<uint8_t>(Field >> 8));
        Adu.push_back(static_cast<uint8_t>(Field & 0xFF));
    }
    Adu.push_back(Device);
    for (const uint8_t Byte : Pdu) Adu.push_back(Byte);
    return Adu;
}

bool TModbusTcpFraming::Receive(TLink &Link) {
    if (FComplete) return false;
    size_t Dropped = 0;
    for (size_t Taken = 0; Taken < CMaxCollectBytes;) {
        // The header first, then the rest of the announced length.
        size_t Need = CHeader;
        if (FPending.size() >= 6)
            Need = 6 + ((static_cast<size_t>(FPending[4]) << 8) | FPending[5]);
        if (FPending.size() >= 6 && (Need < CHeader + 1 || Need > CMaxAdu)) {
            // Not Modbus TCP: give the bytes up.
            Dropped += FPending.size();
            FPending.clear();
            continue;
        }
        uint8_t Buf[CMaxAdu];
        const int N = Link.Read(Buf, static_cast<int>(Need - FPending.size()));
        if (N <= 0) break;
        Taken += static_cast<size_t>(N);
        FPending.insert(FPending.end(), Buf, Buf + N);
        if (FPending.size() < Need || Need == CHeader) continue;
        const uint16_t Id = static_cast<uint16_t>((FPending[0] << 8) | FPending[1]);
        // Answers to earlier requests (after a time-out) are dropped.
        if (Id == FTransaction && FPending[2] == 0 && FPending[3] == 0) {
            FComplete = true;
            break;
        }
        Dropped += FPending.size();
        FPending.clear();
    }
    if (Dropped > 0 && FrameTraceEnabled()) TraceDroppedBytes(Link.Settings().Port, Dropped);
    return FComplete;
}

const uint8_t *TModbusTcpFraming::AnswerPdu(size_t &Count) const {
    if (!FComplete || FPending[6] != FDevice) return nullptr;
    Count = FPending.size() - CHeader;
    return FPending.data() + CHeader;
}

TModbusFailure TModbusTcpFraming::FrameFailure() const {
    // A part of an answer of ours that never completed is too short.
    if (!FComplete)
        return FPending.empty() ? TModbusFailure::NoAnswer : TModbusFailure::WrongLength;
    if (FPending[6] != FDevice) return TModbusFailure::WrongAddress;
    return TModbusFailure::None;
}
