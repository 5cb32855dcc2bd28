#pragma once
// The Modbus protocol data unit (function code and data) of the master's
// requests and answers, free of any framing and I/O: the same bytes go over
// an RTU line (address + PDU + CRC-16) and a TCP gateway (MBAP header +
// PDU). Fields are high byte first.

#include <cstddef>
#include <cstdint>
#include <vector>

using TPdu = std::vector<uint8_t>;
// Register values and input states, sized by the caller, filled in place.
using TModbusRegisters = std::vector<uint16_t>;
using TModbusBits = std::vector<bool>;

namespace ModbusPdu {

constexpr uint8_t FnReadDiscreteInputs = 0x02;
constexpr uint8_t FnReadHoldingRegs = 0x03;
constexpr uint8_t FnWriteHoldingReg = 0x06;
constexpr uint8_t FnWriteHoldingRegs = 0x10;
// Set in the function code of an exception answer.
constexpr uint8_t ExceptionBit = 0x80;

// Function and two 16-bit fields: the 5-byte request of functions 2, 3 and 6.
TPdu BuildRequest(uint8_t Function, uint16_t Field1, uint16_t Field2);
// Function 0x10 with its byte count (low 8 bits of 2N) and values.
TPdu BuildWriteMultiple(uint16_t Start, const std::vector<uint16_t> &Values);

// Lengths of the normal answers.
inline size_t ReadBitsAnswerLength(size_t Quantity) {
    return (Quantity + 7) / 8 + 2;
}
inline size_t ReadRegsAnswerLength(size_t Quantity) {
    return 2 * Quantity + 2;
}
constexpr size_t WriteAnswerLength = 5;
// An exception answer: function | 0x80, exception code.
constexpr size_t ExceptionAnswerLength = 2;

enum class TAnswerKind {
    Normal,     // the function asked for, Expected bytes long
    Exception,  // the device refused the request (ExceptionCode says why)
    Malformed,  // anything else: another function, another length
};
// What an answer to Function of Expected bytes is.
TAnswerKind CheckAnswer(const uint8_t *Pdu, size_t Count, size_t Expected, uint8_t Function);
// The code of an exception answer (byte 1).
inline uint8_t ExceptionCode(const uint8_t *Pdu) {
    return Pdu[1];
}

// Payloads of normal answers. Each is false, leaving the output alone, when
// the answer's own fields do not fit the request.
// Function 2: byte 1 counts the bytes of Bits.size() bits, bit k of the
// answer is bit k mod 8 of byte 2 + k / 8.
bool ParseReadBits(const uint8_t *Pdu, size_t Count, TModbusBits &Bits);
// Function 3: byte 1 counts 2 * Regs.size() bytes, values follow.
bool ParseReadRegs(const uint8_t *Pdu, size_t Count, TModbusRegisters &Regs);
// Functions 6 and 16: bytes 1-2 and 3-4 echo the request's two fields.
bool CheckWriteEcho(const uint8_t *Pdu, size_t Count, uint16_t Field1, uint16_t Field2);

// True while the bytes received so far may still become a normal answer
// to Function: false once byte 0 has the exception bit or another code.
bool CanStillPass(const uint8_t *Pdu, size_t Count, uint8_t Function);

}  // namespace ModbusPdu
