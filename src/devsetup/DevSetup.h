#pragma once
// What the sensor setup window does beyond its widgets: recognising the
// maker's sensors on a Modbus line and the arithmetic of the scan.

#include <array>
#include <cstdint>
#include <string>

#include "modbus/ModbusRTU.h"

// Where one generation of sensors keeps its identification registers.
struct TSensorRegMap {
    uint16_t VendorReg;    // first of VendorRegCount registers holding the vendor text
    uint16_t SensorIDReg;  // device code
    uint16_t VersionReg;   // firmware version, two BCD bytes (major, minor)
};

// Tried in this order.
inline constexpr std::array<TSensorRegMap, 3> SensorRegMaps{{
    {18, 14, 15},
    {300, 112, 113},
    {800, 832, 833},
}};

inline constexpr int VendorRegCount = 32;
// The vendor text the maker's sensors report (compared exactly).
inline constexpr char VendorSignature[] = "www.veldrasens.com";
// Register the scan probes at every address.
inline constexpr uint16_t ScanProbeReg = 10;

// Vendor text of a register block: high byte then low byte of each register,
// up to the first zero byte.
std::string VendorTextFromRegs(const TModbusRegisters &Regs);

// Major and minor version of a version register (two BCD bytes); a byte
// with a digit A..F gives -1 for its part.
void VersionFromRegister(uint16_t Reg, int &Major, int &Minor);

// Asks an open master's device for the vendor text of each register map in
// turn; on a match reads the device code and version through the sensor
// catalogue and returns true. Both texts are "N/A" where nothing was read.
bool IdentifySensor(TModbusRTU &Master, std::string &DeviceCode, std::string &Version);

// Progress of a scan after address A of a range ending at Last, in percent.
int ScanProgress(int A, int Last);
