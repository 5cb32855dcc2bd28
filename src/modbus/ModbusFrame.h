#pragma once
// RTU frames of the master: request building and answer checking, free of
// any I/O so that they can be tested byte by byte.

#include <cstddef>
#include <cstdint>
#include <vector>

using TFrame = std::vector<uint8_t>;
// Register values and input states, sized by the caller, filled in place.
using TModbusRegisters = std::vector<uint16_t>;
using TModbusBits = std::vector<bool>;

namespace ModbusFrame {

constexpr uint8_t FnReadDiscreteInputs = 0x02;
constexpr uint8_t FnReadHoldingRegs = 0x03;
constexpr uint8_t FnWriteHoldingReg = 0x06;
constexpr uint8_t FnWriteHoldingRegs = 0x10;

// Appends the CRC (wire order) to Frame.
void Seal(TFrame &Frame);
// Device, function, two 16-bit fields (high byte first), CRC: the 8-byte
// request of functions 2, 3 and 6.
TFrame BuildRequest(uint8_t Device, uint8_t Function, uint16_t Field1, uint16_t Field2);
// Function 0x10 with its byte count (low 8 bits of 2N) and values.
TFrame BuildWriteMultiple(uint8_t Device, uint16_t Start, const std::vector<uint16_t> &Values);

// Answer lengths.
inline size_t ReadBitsAnswerLength(size_t Quantity) {
    return (Quantity + 7) / 8 + 5;
}
inline size_t ReadRegsAnswerLength(size_t Quantity) {
    return 2 * Quantity + 5;
}
constexpr size_t WriteAnswerLength = 8;

// Checks of every answer, in order: length, device address, exception bit,
// function code, CRC.
bool CheckAnswer(const uint8_t *Data, size_t Count, size_t Expected, uint8_t Device,
                 uint8_t Function);
// Payloads of answers that passed CheckAnswer. Each is false, leaving the
// output alone, when the answer's own fields do not fit the request.
// Function 2: byte 2 counts the bytes of Bits.size() bits, bit k of the
// answer is bit k mod 8 of byte 3 + k / 8.
bool ParseReadBits(const uint8_t *Answer, size_t Count, TModbusBits &Bits);
// Function 3: byte 2 counts 2 * Regs.size() bytes, values high byte first.
bool ParseReadRegs(const uint8_t *Answer, size_t Count, TModbusRegisters &Regs);
// Functions 6 and 16: bytes 2-3 and 4-5 (high byte first) echo the
// request's two fields.
bool CheckWriteEcho(const uint8_t *Answer, size_t Count, uint16_t Field1, uint16_t Field2);

// True while the bytes received so far may still become a valid answer:
// false once byte 0 is not Device, or byte 1 has bit 7 set or another
// function code.
bool CanStillPass(const uint8_t *Data, size_t Count, uint8_t Device, uint8_t Function);

}  // namespace ModbusFrame
