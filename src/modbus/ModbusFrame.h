#pragma once
// The RTU framing of the master: device address, PDU, CRC-16 (wire order),
// free of any I/O so that it can be tested byte by byte. The master's
// receive rules on a line (silence, early end) are TRtuFraming's
// (ModbusFraming.h).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "modbus/ModbusPdu.h"

using TFrame = std::vector<uint8_t>;

namespace ModbusFrame {

using ModbusPdu::FnReadDiscreteInputs;
using ModbusPdu::FnReadHoldingRegs;
using ModbusPdu::FnWriteHoldingReg;
using ModbusPdu::FnWriteHoldingRegs;

// Address and CRC around a PDU.
constexpr size_t Overhead = 3;

// Appends the CRC (wire order) to Frame.
void Seal(TFrame &Frame);
// Device, Pdu, CRC.
TFrame Wrap(uint8_t Device, const TPdu &Pdu);
// The requests of ModbusPdu in their RTU frames.
inline TFrame BuildRequest(uint8_t Device, uint8_t Function, uint16_t Field1, uint16_t Field2) {
    return Wrap(Device, ModbusPdu::BuildRequest(Function, Field1, Field2));
}
inline TFrame BuildWriteMultiple(uint8_t Device, uint16_t Start,
                                 const std::vector<uint16_t> &Values) {
    return Wrap(Device, ModbusPdu::BuildWriteMultiple(Start, Values));
}

// Lengths of the normal answers as RTU frames.
inline size_t ReadBitsAnswerLength(size_t Quantity) {
    return ModbusPdu::ReadBitsAnswerLength(Quantity) + Overhead;
}
inline size_t ReadRegsAnswerLength(size_t Quantity) {
    return ModbusPdu::ReadRegsAnswerLength(Quantity) + Overhead;
}
constexpr size_t WriteAnswerLength = ModbusPdu::WriteAnswerLength + Overhead;

// The frame checks of an answer: Expected bytes (at least 4), from Device,
// CRC right. The PDU inside is then ModbusPdu's to judge.
bool CheckFrame(const uint8_t *Data, size_t Count, size_t Expected, uint8_t Device);
// The frame checks and a normal answer to Function inside, in one.
bool CheckAnswer(const uint8_t *Data, size_t Count, size_t Expected, uint8_t Device,
                 uint8_t Function);

// True while the bytes received so far may still become a valid answer:
// false once byte 0 is not Device, or byte 1 has bit 7 set or another
// function code.
bool CanStillPass(const uint8_t *Data, size_t Count, uint8_t Device, uint8_t Function);

}  // namespace ModbusFrame
