#pragma once
// Recognising the maker's sensors on a Modbus line, for the scan command.
// Free of any window code, so the command line builds without the GUI.

#include <array>
#include <cstdint>
#include <string>

#include "modbus/ModbusRTU.h"

class TSettings;

namespace cli {

// Where one generation of sensors keeps its identification registers.
struct TSensorRegMap {
    uint16_t VendorReg;    // first of CVendorRegCount registers holding the vendor text
    uint16_t SensorIDReg;  // device code
    uint16_t VersionReg;   // firmware version, two BCD bytes (major, minor)
};

// Tried in this order.
inline constexpr std::array<TSensorRegMap, 3> CSensorRegMaps{{
    {18, 14, 15},
    {300, 112, 113},
    {800, 832, 833},
}};
inline constexpr int CVendorRegCount = 32;
// The vendor text the maker's sensors report (compared exactly).
inline constexpr char CVendorSignature[] = "www.veldrasens.com";
// Register probed at every address of a scan.
inline constexpr uint16_t CScanProbeReg = 10;

// Vendor text of a register block: high byte then low byte of each
// register, up to the first zero byte.
std::string VendorText(const TModbusRegisters &Regs);
// Major and minor part of a version register (two BCD bytes); a byte with a
// digit A..F gives -1 for its part.
void VersionFromRegister(uint16_t Reg, int &Major, int &Minor);

struct TSensorIdentity {
    bool Identified = false;      // the vendor text matched
    int RegMap = -1;              // index into CSensorRegMaps that matched
    int SensorID = -1;            // device code register, -1 when not read
    int VersionRegister = -1;     // raw version register, -1 when not read
    std::string DeviceCode = "N/A";  // through the catalogue
    std::string Version = "N/A";
};

// Asks the device behind an open master for the vendor text of each
// register map in turn; on a match reads device code and version. Port
// errors (EComPort) reach the caller.
TSensorIdentity IdentifySensor(TModbusRTU &Master, const TSettings &Catalogue);

}  // namespace cli
