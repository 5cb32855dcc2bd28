#include "jobs/SensorIdentify.h"

std::string VendorTextFromRegs(const TModbusRegisters &Regs) {
    std::string Text;
    for (uint16_t R : Regs) {
        const char Hi = static_cast<char>(R >> 8);
        if (Hi == 0) break;
        Text += Hi;
        const char Lo = static_cast<char>(R & 0xFF);
        if (Lo == 0) break;
        Text += Lo;
    }
    return Text;
}

void VersionFromRegister(uint16_t Reg, int &Major, int &Minor) {
    auto BcdByte = [](unsigned B) {
        const unsigned Hi = B >> 4, Lo = B & 0x0F;
        return Hi > 9 || Lo > 9 ? -1 : static_cast<int>(Hi * 10 + Lo);
    };
    Major = BcdByte(Reg >> 8);
    Minor = BcdByte(Reg & 0xFF);
}

TSensorIdentity ReadSensorIdentity(TModbusRTU &Master, uint8_t Device) {
    TSensorIdentity Id;
    for (size_t I = 0; I < SensorRegMaps.size(); ++I) {
        const TSensorRegMap &Map = SensorRegMaps[I];
        TModbusRegisters Vendor(VendorRegCount);
        if (!Master.ReadHoldingRegs(Device, Map.VendorReg, Vendor)) continue;
        if (VendorTextFromRegs(Vendor) != VendorSignature) continue;
        Id.Identified = true;
        Id.RegMap = static_cast<int>(I);
        TModbusRegisters One(1);
        if (Master.ReadHoldingRegs(Device, Map.SensorIDReg, One)) Id.SensorID = One[0];
        One.assign(1, 0);
        if (Master.ReadHoldingRegs(Device, Map.VersionReg, One)) Id.VersionRegister = One[0];
        break;
    }
    return Id;
}
