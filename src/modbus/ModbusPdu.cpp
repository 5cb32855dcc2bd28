// Requests and answers of the master as protocol data units.
#include "modbus/ModbusPdu.h"

namespace ModbusPdu {

namespace {

void PutWord(TPdu &Pdu, uint16_t Value) {
    Pdu.push_back(static_cast<uint8_t>(Value >> 8));
    Pdu.push_back(static_cast<uint8_t>(Value & 0xFF));
}

uint16_t Word(const uint8_t *Data, size_t At) {
    return static_cast<uint16_t>(Data[At] << 8 | Data[At + 1]);
}

}  // namespace

TPdu BuildRequest(uint8_t Function, uint16_t Field1, uint16_t Field2) {
    TPdu Pdu;
    Pdu.reserve(5);
    Pdu.push_back(Function);
    PutWord(Pdu, Field1);
    PutWord(Pdu, Field2);
    return Pdu;
}

TPdu BuildWriteMultiple(uint16_t Start, const std::vector<uint16_t> &Values) {
    TPdu Pdu;
    Pdu.reserve(6 + 2 * Values.size());
    Pdu.push_back(FnWriteHoldingRegs);
    PutWord(Pdu, Start);
    PutWord(Pdu, static_cast<uint16_t>(Values.size()));
    Pdu.push_back(static_cast<uint8_t>(2 * Values.size()));
    for (uint16_t Value : Values) PutWord(Pdu, Value);
    return Pdu;
}

TAnswerKind CheckAnswer(const uint8_t *Pdu, size_t Count, size_t Expected, uint8_t Function) {
    if (Count == 0) return TAnswerKind::Malformed;
    if (Pdu[0] == (Function | ExceptionBit) && Count == ExceptionAnswerLength)
        return TAnswerKind::Exception;
    if (Pdu[0] == Function && Count == Expected) return TAnswerKind::Normal;
    return TAnswerKind::Malformed;
}

bool ParseReadBits(const uint8_t *Pdu, size_t Count, TModbusBits &Bits) {
    const size_t Bytes = (Bits.size() + 7) / 8;
    if (Count != ReadBitsAnswerLength(Bits.size()) || Pdu[1] != Bytes) return false;
    for (size_t k = 0; k < Bits.size(); ++k) Bits[k] = (Pdu[2 + k / 8] >> (k % 8)) & 1;
    return true;
}

bool ParseReadRegs(const uint8_t *Pdu, size_t Count, TModbusRegisters &Regs) {
    if (Count != ReadRegsAnswerLength(Regs.size()) || Pdu[1] != 2 * Regs.size()) return false;
    for (size_t i = 0; i < Regs.size(); ++i) Regs[i] = Word(Pdu, 2 + 2 * i);
    return true;
}

bool CheckWriteEcho(const uint8_t *Pdu, size_t Count, uint16_t Field1, uint16_t Field2) {
    return Count == WriteAnswerLength && Word(Pdu, 1) == Field1 && Word(Pdu, 3) == Field2;
}

bool CanStillPass(const uint8_t *Pdu, size_t Count, uint8_t Function) {
    return Count == 0 || Pdu[0] == Function;
}

}  // namespace ModbusPdu
