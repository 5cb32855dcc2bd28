#include "cli/SensorIdentify.h"

#include "settings/Settings.h"

namespace cli {

std::string VendorText(const TModbusRegisters &Regs) {
    std::string text;
    for (uint16_t r : Regs) {
        const char hi = static_cast<char>(r >> 8);
        if (hi == 0) break;
        text += hi;
        const char lo = static_cast<char>(r & 0xFF);
        if (lo == 0) break;
        text += lo;
    }
    return text;
}

void VersionFromRegister(uint16_t Reg, int &Major, int &Minor) {
    auto bcd = [](unsigned b) {
        const unsigned hi = b >> 4, lo = b & 0x0F;
        return hi > 9 || lo > 9 ? -1 : static_cast<int>(hi * 10 + lo);
    };
    Major = bcd(Reg >> 8);
    Minor = bcd(Reg & 0xFF);
}

TSensorIdentity IdentifySensor(TModbusRTU &Master, const TSettings &Catalogue) {
    TSensorIdentity id;
    for (size_t i = 0; i < CSensorRegMaps.size(); ++i) {
        const TSensorRegMap &map = CSensorRegMaps[i];
        TModbusRegisters vendor(CVendorRegCount);
        if (!Master.ReadHoldingRegs(map.VendorReg, vendor)) continue;
        if (VendorText(vendor) != CVendorSignature) continue;
        id.Identified = true;
        id.RegMap = static_cast<int>(i);
        TModbusRegisters one(1);
        if (Master.ReadHoldingRegs(map.SensorIDReg, one)) {
            id.SensorID = one[0];
            id.DeviceCode = Catalogue.SensorIDToName(one[0]);
        }
        one.assign(1, 0);
        if (Master.ReadHoldingRegs(map.VersionReg, one)) {
            id.VersionRegister = one[0];
            int major = -1, minor = -1;
            VersionFromRegister(one[0], major, minor);
            id.Version = Catalogue.SensorVersionToString(major, minor);
        }
        return id;
    }
    return id;
}

}  // namespace cli
