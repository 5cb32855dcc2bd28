#pragma once
// Why a Modbus operation of the master failed: what the answer (or its
// absence) showed. The jobs turn it into words (JobTexts).

#include <cstdint>

enum class TModbusFailure {
    None,           // the operation succeeded (or has not run)
    NoAnswer,       // nothing came within the time-out
    BadCrc,         // an answer came damaged: its CRC does not match
    WrongAddress,   // the answer came from another device address (unit id)
    WrongFunction,  // the answer carries another function code
    WrongLength,    // the answer is shorter or longer than the request calls for
    WrongEcho,      // a write's answer does not echo the request
    Exception,      // the device refused the request (exception code)
    TooLong,        // the request cannot be framed: nothing was sent
};

struct TModbusFailureInfo {
    TModbusFailure Kind = TModbusFailure::None;
    uint8_t ExceptionCode = 0;  // Exception only
    bool operator==(const TModbusFailureInfo &) const = default;
};
