#pragma once
// The settings file and the sensor catalogue. Read once, never written.
// Where the file is looked for: settings/SettingsLookup.h.

#include <string>
#include <vector>

// A settings file is a few hundred bytes; a larger one than this is not read.
inline constexpr int CMaxSettingsFileMiB = 16;

struct TFWUpdSettings {
    int MaxRetry = 0;
    int MaxFails = 0;
    int DefTimeout = 0;
};

class TSettings {
public:
    // Reads FindSettingsFile(): the first settings file of the usual places.
    TSettings();
    // Reads the given file ("" reads nothing).
    explicit TSettings(const std::string &FileName);
    // The settings held in the bytes of a settings file, as if read from a
    // file with that content. Pure: touches no file.
    static TSettings FromBytes(const std::string &Bytes);

    TFWUpdSettings FWUpdSettings() const { return FFWUpdSettings; }
    std::string SensorIDToName(int ID) const;
    std::string SensorVersionToString(int vHi, int vLo) const;
    // The file that was read, "" when there was none (a file named but
    // missing reads as none too).
    const std::string &FileName() const { return FFileName; }
    // The catalogue: every line of [SENSORS] in file order, "key=value"
    // (a line without '=' as the bare key).
    const std::vector<std::string> &SensorNames() const { return FSensors; }
    // The lines of [PORTS], in file order, as written: "name=URL" (a line
    // without '=' has an empty URL). Which of them can be opened is the
    // jobs' concern (jobs/PortsJob.h).
    struct TNetworkPort {
        std::string Name;
        std::string Url;
    };
    const std::vector<TNetworkPort> &NetworkPorts() const { return FNetworkPorts; }
    // True when the file exists but could not be read; the limits then hold
    // their key defaults and the catalogue is empty.
    bool ReadFailed() const { return FReadError != TReadError::None; }
    // Why it could not be read.
    enum class TReadError {
        None,
        System,      // open or read failed: ReadErrno() (no permission, an I/O error)
        Folder,      // a folder named like the file
        NotRegular,  // a FIFO, a device
        TooBig,      // larger than CMaxSettingsFileMiB
    };
    TReadError ReadError() const { return FReadError; }
    int ReadErrno() const { return FReadErrno; }
    // The reason in English ("Permission denied", "a folder, not a file",
    // "not a regular file", "larger than 16 MiB"); "" when it was read.
    std::string ReadErrorText() const;

private:
    struct TNoFile {};
    explicit TSettings(TNoFile) {}
    void Load(const std::string &FileName);
    void LoadBytes(const std::string &Bytes);

    std::string FFileName;
    TFWUpdSettings FFWUpdSettings;
    std::vector<std::string> FSensors;  // "key=value" lines of [SENSORS], file order
    std::vector<TNetworkPort> FNetworkPorts;
    TReadError FReadError = TReadError::None;
    int FReadErrno = 0;
};

// The running executable's path with its extension replaced by ".ini".
std::string DefaultSettingsFileName();

// The file the settings came from, for the user: its path, "none" without
// one, and a note with the reason when it could not be read.
std::string SettingsSourceText(const TSettings &S);
// The warning about a file that could not be read, naming it and the
// reason; "" when there is nothing to warn about.
std::string SettingsWarningText(const TSettings &S);

// The one settings object of the program (created by its main window or the
// command line, nullptr before that).
extern TSettings *Settings;
