#pragma once
// The bootloader protocol on a local serial port of its own, for tests that
// open a pseudo-terminal or device by name. (The program makes its lines
// through the link factory; this saves a test the extra object.)

#include "bootloader/XComm.h"
#include "serial/ComPort.h"

struct TOwnXCommPort {
    TComPort OwnPort;
};

// The port, a base declared first, outlives the protocol.
class TPortXComm : private TOwnXCommPort, public TXComm {
public:
    TPortXComm() : TXComm(OwnPort) {}
};
