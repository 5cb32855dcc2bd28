#pragma once
// A Modbus master on a local serial port of its own, for tests that open a
// pseudo-terminal or device by name. (The program makes its lines through
// the link factory; this saves a test the extra object.)

#include <cstdint>

#include "modbus/ModbusRTU.h"
#include "serial/ComPort.h"

struct TOwnMasterPort {
    TComPort OwnPort;
};

// The port, a base declared first, outlives the master.
class TPortMaster : private TOwnMasterPort, public TModbusRTU {
public:
    explicit TPortMaster(uint8_t DeviceAddr = 1) : TModbusRTU(OwnPort, DeviceAddr) {}
};
