// The RTU framing: address and CRC-16 around a PDU.
#include "modbus/ModbusFrame.h"

#include "modbus/CRC16.h"

namespace ModbusFrame {

void Seal(TFrame &Frame) {
    const uint16_t Crc = CalcCRC16(Frame.data(), static_cast<int>(Frame.size()));
    Frame.push_back(static_cast<uint8_t>(Crc >> 8));
    Frame.push_back(static_cast<uint8_t>(Crc & 0xFF));
}

TFrame Wrap(uint8_t Device, const TPdu &Pdu) {
    TFrame Frame;
    Frame.reserve(Pdu.size() + Overhead);
    Frame.push_back(Device);
    Frame.insert(Frame.end(), Pdu.begin(), Pdu.end());
    Seal(Frame);
    return Frame;
}

bool CheckFrame(const uint8_t *Data, size_t Count, size_t Expected, uint8_t Device) {
    if (Count != Expected || Count < 4) return false;
    if (Data[0] != Device) return false;
    const uint16_t Crc = static_cast<uint16_t>(Data[Count - 2] << 8 | Data[Count - 1]);
    return CheckCRC16(Data, static_cast<int>(Count - 2), Crc);
}

bool CheckAnswer(const uint8_t *Data, size_t Count, size_t Expected, uint8_t Device,
                 uint8_t Function) {
    return CheckFrame(Data, Count, Expected, Device) &&
           ModbusPdu::CheckAnswer(Data + 1, Count - Overhead, Expected - Overhead, Function) ==
               ModbusPdu::TAnswerKind::Normal;
}

bool CanStillPass(const uint8_t *Data, size_t Count, uint8_t Device, uint8_t Function) {
    if (Count >= 1 && Data[0] != Device) return false;
    return Count < 2 || ModbusPdu::CanStillPass(Data + 1, Count - 1, Function);
}

}  // namespace ModbusFrame
