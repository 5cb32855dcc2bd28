// Kept apart from the link so that programs that never list ports do not
// need the discovery code.
#include "bootloader/XComm.h"
#include "serial/PortDiscovery.h"

void TXComm::EnumComPorts(std::vector<TComListData> &Ports) {
    ::EnumComPorts(Ports);
}
