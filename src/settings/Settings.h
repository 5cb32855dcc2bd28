#pragma once
// The settings file and the sensor catalogue. Read once, never written.
// Where the file is looked for: settings/SettingsLookup.h.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A settings file is a few hundred bytes; a larger one than this is not read.
inline constexpr int CMaxSettingsFileMiB = 16;

struct TFWUpdSettings {
    int MaxRetry = 0;
    int MaxFails = 0;
    int DefTimeout = 0;
};

// The comm settings of one sensor kind, from its [SENSOR <device code>]
// section: the register of each setting and what its values mean.
//   BAUD_REG=120        FRAMING_REG=121        ADDRESS_REG=122
//   BAUD.4=19200 baud   FRAMING.0=8E1          (value=meaning, any number)
//   LIKE=7              registers and value lists not given here are those
//                       of [SENSOR 7] (its own lines, one step only)
//   LINE=19200 8E1      the line settings the kind comes with (the line
//                       search tries them first); kept as written, the
//                       search reads it (jobs/FindJob.h)
// Registers and values are numbers as in [SETTINGS] within 0..65535; a line
// with anything else (a number out of range, an empty meaning, a meaning of
// more than CMaxCommMeaning bytes, an unknown key) is ignored. The first
// good line of a register or value counts.
inline constexpr int CCommRowCount = 3;  // baud rate, framing, address
inline constexpr size_t CMaxCommMeaning = 100;
struct TCommValueName {
    uint16_t Value = 0;
    std::string Meaning;
};
struct TSensorComm {
    int SensorID = 0;
    std::array<std::optional<uint16_t>, CCommRowCount> Reg;
    std::array<std::vector<TCommValueName>, CCommRowCount> Values;  // file order
    std::string Line;  // LINE=, trimmed; "" when not given
    // The meaning of Value in a row, "" when the list does not hold it.
    std::string MeaningOf(int Row, uint16_t Value) const;
    // True when the section gives at least one register.
    bool HasRegisters() const;
};

// The comm section of a device code: "SENSOR 7" for 7; nullopt for a name
// that is not one (another word, leading zeros, a sign, above 65535).
std::optional<int> SensorSectionID(const std::string &SectionName);

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
    // The comm settings of every [SENSOR n] section that gives a register,
    // in file order; SensorComm finds the one of a device code (nullptr
    // when the file does not describe that kind).
    const std::vector<TSensorComm> &SensorComms() const { return FSensorComms; }
    const TSensorComm *SensorComm(int SensorID) const;
    // RECORDS= of [SETTINGS], as written: where the update records go
    // ("off": nowhere); "" when not given (jobs/UpdateRecord.h).
    const std::string &RecordsSetting() const { return FRecords; }
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
    std::vector<TSensorComm> FSensorComms;
    std::string FRecords;
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
