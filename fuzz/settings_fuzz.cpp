// The settings reader on arbitrary bytes: whatever the file holds, reading
// it and asking the catalogue must neither crash nor leave the limits odd.
#include <string>

#include "FuzzCheck.h"
#include "settings/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const std::string Bytes(reinterpret_cast<const char *>(Data), Size);
    const TSettings S = TSettings::FromBytes(Bytes);
    const TFWUpdSettings F = S.FWUpdSettings();
    (void)F;
    for (const std::string &Line : S.SensorNames()) FUZZ_REQUIRE(Line.size() <= Size * 3 + 16);
    for (int Id : {0, 1, 7, 255, 256, 300, 65535, -1}) (void)S.SensorIDToName(Id);
    for (int Hi : {0, 2, 255}) {
        for (int Lo : {0, 5, 99, 100, 255}) FUZZ_REQUIRE(!S.SensorVersionToString(Hi, Lo).empty());
    }
    return 0;
}
