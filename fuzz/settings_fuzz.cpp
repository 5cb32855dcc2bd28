// Feeds arbitrary bytes to the settings reader as the content of a settings
// file and checks what must hold for any input.

#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "settings/TextDecode.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Check(bool Condition, const char *What) {
    if (!Condition) {
        std::fprintf(stderr, "settings_fuzz: %s\n", What);
        std::abort();
    }
}

// The decimal text of an ID, as the catalogue keys are written.
bool CanonicalId(const std::string &Key, int &ID) {
    if (Key.empty() || Key.size() > 11) return false;
    const int V = StrToIntDef(Key, 0);
    if (std::to_string(V) != Key) return false;
    ID = V;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const std::string Bytes(reinterpret_cast<const char *>(Data), Size);

    const std::string Text = DecodeTextBytes(Bytes);
    Check(IsValidUtf8(Text), "decoded text is not valid UTF-8");

    const TSettings S = TSettings::FromBytes(Bytes);
    Check(!S.ReadFailed(), "bytes reported as a failed read");

    for (const std::string &Line : S.SensorNames()) {
        Check(IsValidUtf8(Line), "catalogue line is not valid UTF-8");
        Check(Line.find_first_of("\r\n") == std::string::npos, "catalogue line holds a line break");
        Check(!Line.empty() && static_cast<uint8_t>(Line.front()) > 0x20, "catalogue line not stripped");
        const size_t Eq = Line.find('=');
        int ID;
        if (Eq == std::string::npos || !CanonicalId(Line.substr(0, Eq), ID)) continue;
        // A listed ID is found, and by the first line that names it.
        const std::string Name = S.SensorIDToName(ID);
        Check(Name != "Unknown", "listed ID not found");
        Check(Name.rfind(std::to_string(ID) + " (0x", 0) == 0, "name does not start with the ID");
    }

    // Version texts never depend on the file; exercise them with input bytes.
    if (Size >= 2) {
        const std::string V = S.SensorVersionToString(Data[0], Data[1]);
        Check(V == std::to_string(Data[0]) + "." + (Data[1] < 10 ? "0" : "") + std::to_string(Data[1]),
              "version text");
    }

    // The integer rule on the raw bytes: never crashes; canonical decimal
    // round-trips.
    const int N = StrToIntDef(Bytes, -7);
    if (N != -7 && std::to_string(N) == Bytes) Check(StrToIntDef(std::to_string(N), 0) == N, "integer round trip");
    return 0;
}
