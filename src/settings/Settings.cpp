#include "settings/Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "serial/PortDiscovery.h"
#include "settings/IniFile.h"
#include "settings/SettingsLookup.h"
#include "settings/TextDecode.h"

TSettings *Settings = nullptr;

namespace {

constexpr int kDefMaxRetry = 5;
constexpr int kDefMaxFails = 15;
constexpr int kDefTimeout = 1000;
// A settings file is a few hundred bytes; anything beyond this is not one.
constexpr off_t kMaxFileSize = off_t{CMaxSettingsFileMiB} * 1024 * 1024;

enum class TReadResult { Ok, Missing, Failed };

// Why a file that exists was not read.
struct TReadFailure {
    TSettings::TReadError Kind = TSettings::TReadError::None;
    int Errno = 0;
};

class TFd {
public:
    explicit TFd(int Fd) : FFd(Fd) {}
    ~TFd() {
        if (FFd >= 0) ::close(FFd);
    }
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

TReadResult Fail(TReadFailure &Why, TSettings::TReadError Kind, int Errno = 0) {
    Why.Kind = Kind;
    Why.Errno = Errno;
    return TReadResult::Failed;
}

// Reads a whole regular file, opened read-only.
TReadResult ReadWholeFile(const std::string &FileName, std::string &Bytes, TReadFailure &Why) {
    using E = TSettings::TReadError;
    // O_NONBLOCK: a FIFO named like the file must not hang the start-up.
    TFd Fd(::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (Fd.Get() < 0) {
        const int Err = errno;
        if (Err == ENOENT || Err == ENOTDIR) return TReadResult::Missing;
        return Fail(Why, Err == EISDIR ? E::Folder : E::System, Err);
    }
    struct stat St {};
    if (::fstat(Fd.Get(), &St) != 0) return Fail(Why, E::System, errno);
    if (S_ISDIR(St.st_mode)) return Fail(Why, E::Folder);
    if (!S_ISREG(St.st_mode)) return Fail(Why, E::NotRegular);
    if (St.st_size > kMaxFileSize) return Fail(Why, E::TooBig);
    Bytes.clear();
    char Buf[16384];
    for (;;) {
        const ssize_t N = ::read(Fd.Get(), Buf, sizeof Buf);
        if (N < 0) {
            if (errno == EINTR) continue;
            return Fail(Why, E::System, errno);
        }
        if (N == 0) break;
        Bytes.append(Buf, static_cast<size_t>(N));
        if (Bytes.size() > static_cast<size_t>(kMaxFileSize)) return Fail(Why, E::TooBig);
    }
    return TReadResult::Ok;
}

// Replaces the extension of the last path component (or appends one).
std::string ChangeFileExt(const std::string &Path, const std::string &Ext) {
    const size_t Slash = Path.rfind('/');
    const size_t Dot = Path.rfind('.');
    if (Dot != std::string::npos && (Slash == std::string::npos || Dot > Slash + 1))
        return Path.substr(0, Dot) + Ext;
    return Path + Ext;
}

// A register or value of a comm section: 0..65535, numbers as in [SETTINGS].
std::optional<uint16_t> CommNumber(const std::string &Text) {
    const int N = StrToIntDef(TrimText(Text), -1);
    if (N < 0 || N > 0xFFFF) return std::nullopt;
    return static_cast<uint16_t>(N);
}

// The keys of the three rows: register and value prefix.
struct TCommKeys {
    const char *Reg;
    const char *Prefix;
};
constexpr std::array<TCommKeys, CCommRowCount> kCommKeys{{
    {"BAUD_REG", "BAUD."},
    {"FRAMING_REG", "FRAMING."},
    {"ADDRESS_REG", "ADDRESS."},
}};

// Reads one line of a comm section into Comm (or Like); false when it was
// ignored.
bool ReadCommEntry(const TIniEntry &E, TSensorComm &Comm, std::optional<int> &Like) {
    if (!E.HasValue) return false;
    if (SameText(E.Key, "LINE")) {
        const std::string Text = TrimText(E.Value);
        if (!Comm.Line.empty() || Text.empty() || Text.size() > CMaxCommMeaning) return false;
        Comm.Line = Text;
        return true;
    }
    if (SameText(E.Key, "LIKE")) {
        if (Like) return false;
        Like = SensorSectionID("SENSOR " + TrimText(E.Value));
        return Like.has_value();
    }
    for (size_t Row = 0; Row < kCommKeys.size(); ++Row) {
        const TCommKeys &Keys = kCommKeys[Row];
        if (SameText(E.Key, Keys.Reg)) {
            if (Comm.Reg[Row]) return false;
            Comm.Reg[Row] = CommNumber(E.Value);
            return Comm.Reg[Row].has_value();
        }
        const size_t P = std::strlen(Keys.Prefix);
        if (E.Key.size() <= P || !SameText(E.Key.substr(0, P), Keys.Prefix)) continue;
        const std::optional<uint16_t> Value = CommNumber(E.Key.substr(P));
        if (!Value || E.Value.empty() || E.Value.size() > CMaxCommMeaning) return false;
        std::vector<TCommValueName> &List = Comm.Values[Row];
        for (const TCommValueName &V : List)
            if (V.Value == *Value) return false;
        List.push_back({*Value, E.Value});
        return true;
    }
    return false;
}

// Every [SENSOR n] section, LIKE resolved; kinds without a register are
// left out.
std::vector<TSensorComm> ReadSensorComms(const TIniText &Ini) {
    std::vector<TSensorComm> Own;
    std::vector<std::optional<int>> Likes;
    for (const TIniSection &Section : Ini.Sections()) {
        const std::optional<int> ID = SensorSectionID(Section.Name);
        if (!ID) continue;
        // "SENSOR 7" and "SENSOR  7" name the same kind: the first counts.
        bool Seen = false;
        for (const TSensorComm &C : Own) Seen = Seen || C.SensorID == *ID;
        if (Seen) continue;
        TSensorComm Comm;
        Comm.SensorID = *ID;
        std::optional<int> Like;
        for (const TIniEntry &E : Section.Entries) ReadCommEntry(E, Comm, Like);
        Own.push_back(std::move(Comm));
        Likes.push_back(Like);
    }
    std::vector<TSensorComm> Result;
    for (size_t I = 0; I < Own.size(); ++I) {
        TSensorComm Comm = Own[I];
        if (Likes[I]) {
            for (const TSensorComm &Base : Own) {
                if (Base.SensorID != *Likes[I]) continue;
                for (size_t Row = 0; Row < Comm.Reg.size(); ++Row) {
                    if (!Comm.Reg[Row]) Comm.Reg[Row] = Base.Reg[Row];
                    if (Comm.Values[Row].empty()) Comm.Values[Row] = Base.Values[Row];
                }
                if (Comm.Line.empty()) Comm.Line = Base.Line;
                break;
            }
        }
        if (Comm.HasRegisters()) Result.push_back(std::move(Comm));
    }
    return Result;
}

}  // namespace

std::optional<int> SensorSectionID(const std::string &SectionName) {
    constexpr size_t P = 6;  // "SENSOR"
    if (SectionName.size() <= P || !SameText(SectionName.substr(0, P), "SENSOR"))
        return std::nullopt;
    if (SectionName[P] != ' ' && SectionName[P] != '\t') return std::nullopt;
    const std::string Digits = TrimText(SectionName.substr(P));
    if (Digits.empty() || Digits.size() > 5 || (Digits.size() > 1 && Digits[0] == '0'))
        return std::nullopt;
    int ID = 0;
    for (const char C : Digits) {
        if (C < '0' || C > '9') return std::nullopt;
        ID = ID * 10 + (C - '0');
    }
    if (ID > 0xFFFF) return std::nullopt;
    return ID;
}

std::string TSensorComm::MeaningOf(int Row, uint16_t Value) const {
    if (Row < 0 || Row >= CCommRowCount) return {};
    for (const TCommValueName &V : Values[static_cast<size_t>(Row)])
        if (V.Value == Value) return V.Meaning;
    return {};
}

bool TSensorComm::HasRegisters() const {
    for (const auto &R : Reg)
        if (R) return true;
    return false;
}

const TSensorComm *TSettings::SensorComm(int SensorID) const {
    for (const TSensorComm &C : FSensorComms)
        if (C.SensorID == SensorID) return &C;
    return nullptr;
}

std::string DefaultSettingsFileName() {
    std::string Exe(4096, '\0');
    const ssize_t N = ::readlink("/proc/self/exe", Exe.data(), Exe.size());
    if (N <= 0 || static_cast<size_t>(N) >= Exe.size()) return {};
    Exe.resize(static_cast<size_t>(N));
    // An executable replaced on disk while running reads as "path (deleted)".
    const std::string Deleted = " (deleted)";
    if (Exe.size() > Deleted.size() &&
        Exe.compare(Exe.size() - Deleted.size(), Deleted.size(), Deleted) == 0)
        Exe.resize(Exe.size() - Deleted.size());
    return ChangeFileExt(Exe, ".ini");
}

TSettings::TSettings() : TSettings(FindSettingsFile()) {}

TSettings::TSettings(const std::string &FileName) : FFileName(FileName) {
    Load(FileName);
}

TSettings TSettings::FromBytes(const std::string &Bytes) {
    TSettings Result{TNoFile{}};
    Result.LoadBytes(Bytes);
    return Result;
}

void TSettings::Load(const std::string &FileName) {
    if (FileName.empty()) return;
    std::string Bytes;
    TReadFailure Why;
    switch (ReadWholeFile(FileName, Bytes, Why)) {
        case TReadResult::Missing:
            // Limits stay 0; the bootloader link raises them to its minimums.
            FFileName.clear();
            return;
        case TReadResult::Failed:
            // Present but unreadable: as if the file were empty; the programs
            // say so (SettingsWarningText).
            FReadError = Why.Kind;
            FReadErrno = Why.Errno;
            LoadBytes({});
            return;
        case TReadResult::Ok:
            LoadBytes(Bytes);
            return;
    }
}

void TSettings::LoadBytes(const std::string &Bytes) {
    const TIniText Ini = TIniText::Parse(DecodeTextBytes(Bytes));
    FFWUpdSettings.MaxRetry = Ini.ReadInteger("SETTINGS", "MAX_RETRY", kDefMaxRetry);
    FFWUpdSettings.MaxFails = Ini.ReadInteger("SETTINGS", "MAX_FAILS", kDefMaxFails);
    FFWUpdSettings.DefTimeout = Ini.ReadInteger("SETTINGS", "TIMEOUT", kDefTimeout);
    const TIniEntry *Records = Ini.FindEntry("SETTINGS", "RECORDS");
    FRecords = Records ? Records->Value : std::string();
    FSensors.clear();
    if (const TIniSection *Sensors = Ini.FindSection("SENSORS")) {
        for (const TIniEntry &E : Sensors->Entries)
            FSensors.push_back(E.HasValue ? E.Key + "=" + E.Value : E.Key);
    }
    FNetworkPorts.clear();
    if (const TIniSection *Ports = Ini.FindSection("PORTS")) {
        for (const TIniEntry &E : Ports->Entries) {
            FNetworkPorts.push_back({E.Key, E.HasValue ? E.Value : std::string()});
        }
    }
    FSensorComms = ReadSensorComms(Ini);
}

std::string TSettings::ReadErrorText() const {
    switch (FReadError) {
        case TReadError::None:
            return {};
        case TReadError::System:
            return std::strerror(FReadErrno);
        case TReadError::Folder:
            return "a folder, not a file";
        case TReadError::NotRegular:
            return "not a regular file";
        case TReadError::TooBig:
            return "larger than " + std::to_string(CMaxSettingsFileMiB) + " MiB";
    }
    return {};
}

std::string SettingsSourceText(const TSettings &S) {
    if (S.FileName().empty()) return "none";
    return S.ReadFailed()
               ? S.FileName() + " (could not be read: " + S.ReadErrorText() + "; defaults used)"
               : S.FileName();
}

std::string SettingsWarningText(const TSettings &S) {
    if (!S.ReadFailed()) return {};
    return "Settings file " + S.FileName() + " could not be read (" + S.ReadErrorText() +
           "): the defaults are used and no sensor has a name";
}

std::string TSettings::SensorIDToName(int ID) const {
    const std::string Key = std::to_string(ID);
    for (const std::string &Line : FSensors) {
        const size_t Eq = Line.find('=');
        if (Eq == std::string::npos || !SameText(Line.substr(0, Eq), Key)) continue;
        char Head[48];
        std::snprintf(Head, sizeof Head, "%d (0x%08" PRIX32 ") ", ID, static_cast<uint32_t>(ID));
        return Head + Line.substr(Eq + 1);
    }
    return "Unknown";
}

std::string TSettings::SensorVersionToString(int vHi, int vLo) const {
    if (vHi == -1 || vLo == -1) return "N/A";
    char Minor[16];
    std::snprintf(Minor, sizeof Minor, "%02d", vLo);
    return std::to_string(vHi) + "." + Minor;
}
