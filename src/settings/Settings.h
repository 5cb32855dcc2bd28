#pragma once
// The settings file beside the executable and the sensor catalogue.
// Read once, never written.

#include <string>
#include <vector>

struct TFWUpdSettings {
    int MaxRetry = 0;
    int MaxFails = 0;
    int DefTimeout = 0;
};

class TSettings {
public:
    // Reads DefaultSettingsFileName().
    TSettings();
    // Reads the given file ("" reads nothing).
    explicit TSettings(const std::string &FileName);

    TFWUpdSettings FWUpdSettings() const { return FFWUpdSettings; }
    std::string SensorIDToName(int ID) const;
    std::string SensorVersionToString(int vHi, int vLo) const;
    const std::string &FileName() const { return FFileName; }

private:
    void Load(const std::string &FileName);

    std::string FFileName;
    TFWUpdSettings FFWUpdSettings;
    std::vector<std::string> FSensors;  // "key=value" lines of [SENSORS], file order
};

// The running executable's path with its extension replaced by ".ini".
std::string DefaultSettingsFileName();

// The one settings object of the program (created by its main window or the
// command line, nullptr before that).
extern TSettings *Settings;
