#include "devsetup/DevSetup.h"

#include "settings/Settings.h"

namespace {

// The catalogue; an empty one when the program made none (then every ID
// shows as unknown).
const TSettings &Catalogue() {
    static const TSettings Empty{std::string()};
    return Settings ? *Settings : Empty;
}

}  // namespace

std::string VendorTextFromRegs(const TModbusRegisters &Regs) {
    std::string Text;
    for (uint16_t R : Regs) {
        const char Hi = static_cast<char>(R >> 8);
        if (Hi == 0)
            break;
        Text += Hi;
        const char Lo = static_cast<char>(R & 0xFF);
        if (Lo == 0)
            break;
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

bool IdentifySensor(TModbusRTU &Master, std::string &DeviceCode, std::string &Version) {
    DeviceCode = "N/A";
    Version = "N/A";
    for (const TSensorRegMap &Map : SensorRegMaps) {
        TModbusRegisters Vendor(VendorRegCount);
        if (!Master.ReadHoldingRegs(Map.VendorReg, Vendor))
            continue;
        if (VendorTextFromRegs(Vendor) != VendorSignature)
            continue;
        TModbusRegisters One(1);
        if (Master.ReadHoldingRegs(Map.SensorIDReg, One))
            DeviceCode = Catalogue().SensorIDToName(One[0]);
        One.assign(1, 0);
        if (Master.ReadHoldingRegs(Map.VersionReg, One)) {
            int Major = -1, Minor = -1;
            VersionFromRegister(One[0], Major, Minor);
            Version = Catalogue().SensorVersionToString(Major, Minor);
        }
        return true;
    }
    return false;
}

int ScanProgress(int A, int Last) { return Last > 0 ? A * 100 / Last : 0; }
