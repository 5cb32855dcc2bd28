#pragma once
// Recognising the maker's sensors on a Modbus line (a job step over an
// open master, not the protocol): the register maps of
// the sensor generations, the vendor text and the version register.

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

struct TSensorIdentity {
    bool Identified = false;   // the vendor text matched
    int RegMap = -1;           // index into SensorRegMaps that matched
    int SensorID = -1;         // device code register, -1 when not read
    int VersionRegister = -1;  // raw version register, -1 when not read
};

// Asks Device, through an open master, for the vendor text of each register
// map in turn; on a match reads the device code and version registers (the
// catalogue names them, one floor up). Port errors (EComPort) reach the
// caller.
TSensorIdentity ReadSensorIdentity(TModbusRTU &Master, uint8_t Device);
