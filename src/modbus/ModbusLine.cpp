#include "modbus/ModbusLine.h"

#include <utility>

TModbusFramingKind FramingFor(TLineKind Kind) {
    return Kind == TLineKind::ModbusGateway ? TModbusFramingKind::Tcp : TModbusFramingKind::Rtu;
}

TModbusLine::TModbusLine(TLine Line, uint8_t DeviceAddr)
    : FLine(std::move(Line)), FMaster(*FLine.Link, DeviceAddr, FramingFor(FLine.Address.Kind)) {
    FMaster.SetClock(*FLine.Clock);
}
