#pragma once
// A Modbus master on the line a port name calls for, framed as the name
// says: Modbus TCP to a gateway (modbus-tcp://), RTU on every other line.
// The jobs make one per port they talk to; the line closes with it.

#include <cstdint>

#include "modbus/ModbusRTU.h"
#include "serial/LinkFactory.h"

// The framing a line of this kind carries.
TModbusFramingKind FramingFor(TLineKind Kind);

class TModbusLine {
public:
    TModbusLine(TLine Line, uint8_t DeviceAddr = 1);
    TModbusLine(const TModbusLine &) = delete;
    TModbusLine &operator=(const TModbusLine &) = delete;

    // Opens the line for its port name with the settings (TModbusRTU::Open).
    bool Open(const TPortParams &Params) { return FMaster.Open(FLine.Address.Port, Params); }
    TModbusRTU &Master() { return FMaster; }
    const TLineAddress &Address() const { return FLine.Address; }
    // The clock of the line's deadlines.
    TClock &Clock() { return *FLine.Clock; }

private:
    TLine FLine;  // declared first: the master closes it before it goes
    TModbusRTU FMaster;
};
