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

bool IdentifySensor(TModbusRTU &Master, std::string &DeviceCode, std::string &Version) {
    const TSensorIdentity Id = ReadSensorIdentity(Master, Catalogue());
    DeviceCode = Id.DeviceCode;
    Version = Id.Version;
    return Id.Identified;
}

int ScanProgress(int A, int Last) { return Last > 0 ? A * 100 / Last : 0; }
