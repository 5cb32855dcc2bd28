// Request building and answer checking of the RTU master.
#include "modbus/ModbusFrame.h"

#include "modbus/CRC16.h"

namespace ModbusFrame {

namespace {

void PutWord(TFrame &Frame, uint16_t Value) {
    Frame.push_back(static_cast<uint8_t>(Value >> 8));
    Frame.push_back(static_cast<uint8_t>(Value & 0xFF));
}

}  // namespace

void Seal(TFrame &Frame) {
    const uint16_t Crc = CalcCRC16(Frame.data(), static_cast<int>(Frame.size()));
    PutWord(Frame, Crc);
}

TFrame BuildRequest(uint8_t Device, uint8_t Function, uint16_t Field1, uint16_t Field2) {
    TFrame Frame;
    Frame.reserve(8);
    Frame.push_back(Device);
    Frame.push_back(Function);
    PutWord(Frame, Field1);
    PutWord(Frame, Field2);
    Seal(Frame);
    return Frame;
}

TFrame BuildWriteMultiple(uint8_t Device, uint16_t Start, const std::vector<uint16_t> &Values) {
    TFrame Frame;
    Frame.reserve(9 + 2 * Values.size());
    Frame.push_back(Device);
    Frame.push_back(FnWriteHoldingRegs);
    PutWord(Frame, Start);
    PutWord(Frame, static_cast<uint16_t>(Values.size()));
    Frame.push_back(static_cast<uint8_t>(2 * Values.size()));
    for (uint16_t Value : Values) PutWord(Frame, Value);
    Seal(Frame);
    return Frame;
}

bool CheckAnswer(const uint8_t *Data, size_t Count, size_t Expected, uint8_t Device,
                 uint8_t Function) {
    if (Count != Expected || Count < 4) return false;
    if (Data[0] != Device) return false;
    if (Data[1] & 0x80) return false;
    if ((Data[1] & 0x7F) != Function) return false;
    const uint16_t Crc = static_cast<uint16_t>(Data[Count - 2] << 8 | Data[Count - 1]);
    return CheckCRC16(Data, static_cast<int>(Count - 2), Crc);
}

namespace {

uint16_t Word(const uint8_t *Data, size_t At) {
    return static_cast<uint16_t>(Data[At] << 8 | Data[At + 1]);
}

}  // namespace

bool ParseReadBits(const uint8_t *Answer, size_t Count, TModbusBits &Bits) {
    const size_t Bytes = (Bits.size() + 7) / 8;
    if (Count != ReadBitsAnswerLength(Bits.size()) || Answer[2] != Bytes) return false;
    for (size_t k = 0; k < Bits.size(); ++k) Bits[k] = (Answer[3 + k / 8] >> (k % 8)) & 1;
    return true;
}

bool ParseReadRegs(const uint8_t *Answer, size_t Count, TModbusRegisters &Regs) {
    if (Count != ReadRegsAnswerLength(Regs.size()) || Answer[2] != 2 * Regs.size()) return false;
    for (size_t i = 0; i < Regs.size(); ++i) Regs[i] = Word(Answer, 3 + 2 * i);
    return true;
}

bool CheckWriteEcho(const uint8_t *Answer, size_t Count, uint16_t Field1, uint16_t Field2) {
    return Count == WriteAnswerLength && Word(Answer, 2) == Field1 && Word(Answer, 4) == Field2;
}

bool CanStillPass(const uint8_t *Data, size_t Count, uint8_t Device, uint8_t Function) {
    if (Count >= 1 && Data[0] != Device) return false;
    if (Count >= 2 && ((Data[1] & 0x80) || (Data[1] & 0x7F) != Function)) return false;
    return true;
}

}  // namespace ModbusFrame
