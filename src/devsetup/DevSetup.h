#pragma once
// What the sensor setup window does beyond its widgets: recognising the
// maker's sensors on a Modbus line and the arithmetic of the scan.

#include <string>

#include "modbus/SensorIdentify.h"

// Asks an open master's device for the vendor text of each register map in
// turn; on a match reads the device code and version through the sensor
// catalogue and returns true. Both texts are "N/A" where nothing was read.
bool IdentifySensor(TModbusRTU &Master, std::string &DeviceCode, std::string &Version);

// Progress of a scan after address A of a range ending at Last, in percent.
int ScanProgress(int A, int Last);
