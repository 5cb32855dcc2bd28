#include "jobs/UpdateRecord.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "Version.h"
#include "jobs/FirmwareJob.h"
#include "jobs/Sha256.h"
#include "serial/LinkFactory.h"
#include "serial/UdevPorts.h"
#include "serial/UniqueFd.h"
#include "settings/Settings.h"

namespace {

std::string ErrnoText(const std::string &What, int Err) {
    return What + ": " + std::strerror(Err);
}

// Makes the folders above Path that are missing, each with mode 0700.
std::string MakeParents(const std::string &Path) {
    const size_t Slash = Path.rfind('/');
    if (Slash == std::string::npos || Slash == 0) return {};
    const std::string Dir = Path.substr(0, Slash);
    struct stat St {};
    if (::stat(Dir.c_str(), &St) == 0)
        return S_ISDIR(St.st_mode) ? std::string() : Dir + ": not a folder";
    if (const std::string Why = MakeParents(Dir); !Why.empty()) return Why;
    if (::mkdir(Dir.c_str(), 0700) != 0 && errno != EEXIST)
        return ErrnoText("cannot make the folder " + Dir, errno);
    return {};
}

// An exclusive or shared lock on Fd, waited for at most CRecordLockWaitMs.
bool LockFile(int Fd, int How) {
    const auto Deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(CRecordLockWaitMs);
    for (;;) {
        if (::flock(Fd, How | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= Deadline) {
            errno = ETIMEDOUT;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

class TFileLock {
public:
    explicit TFileLock(int Fd) : FFd(Fd) {}
    ~TFileLock() { ::flock(FFd, LOCK_UN); }
    TFileLock(const TFileLock &) = delete;
    TFileLock &operator=(const TFileLock &) = delete;

private:
    int FFd;
};

std::string LoginName() {
    if (const passwd *Pw = ::getpwuid(::geteuid()); Pw && Pw->pw_name) return Pw->pw_name;
    for (const char *Var : {"LOGNAME", "USER"})
        if (const char *V = std::getenv(Var); V && *V) return V;
    return std::to_string(::geteuid());
}

std::string HostName() {
    char Name[256] = {};
    if (::gethostname(Name, sizeof Name - 1) != 0) return {};
    return Name;
}

// Keys and their readers: one place for the names of the fields.
template <typename T>
bool Take(const nlohmann::json &J, const char *Key, T &Out) {
    const auto It = J.find(Key);
    if (It == J.end() || It->is_null()) return true;
    if constexpr (std::is_same_v<T, std::string>) {
        if (!It->is_string()) return false;
        Out = It->template get<std::string>();
    } else {
        if (!It->is_number_integer() && !It->is_number_unsigned()) return false;
        if (It->is_number_unsigned()) {
            const uint64_t V = It->template get<uint64_t>();
            if (V > static_cast<uint64_t>(std::numeric_limits<T>::max())) return false;
            Out = static_cast<T>(V);
        } else {
            const int64_t V = It->template get<int64_t>();
            if (V < 0 ||
                static_cast<uint64_t>(V) > static_cast<uint64_t>(std::numeric_limits<T>::max()))
                return false;
            Out = static_cast<T>(V);
        }
    }
    return true;
}

// "ttyUSB0" and "/dev/ttyUSB0" name the same port.
std::string PortKey(const std::string &Port) {
    if (Port.empty() || Port.find('/') != std::string::npos) return Port;
    return "/dev/" + Port;
}

bool Digits(const std::string &S, size_t Pos, size_t Count) {
    if (Pos + Count > S.size()) return false;
    for (size_t I = Pos; I < Pos + Count; ++I)
        if (S[I] < '0' || S[I] > '9') return false;
    return true;
}

int Number(const std::string &S, size_t Pos, size_t Count) {
    return std::stoi(S.substr(Pos, Count));
}

std::string CsvField(const std::string &Text) {
    if (Text.find_first_of(",\"\r\n") == std::string::npos) return Text;
    std::string Out = "\"";
    for (const char C : Text) {
        if (C == '"') Out += '"';
        Out += C;
    }
    return Out + "\"";
}

}  // namespace

std::string DefaultRecordsPath() {
    const char *State = std::getenv("XDG_STATE_HOME");
    if (State && *State == '/') return std::string(State) + "/veldra-update/updates.jsonl";
    const char *Home = std::getenv("HOME");
    return std::string(Home ? Home : "") + "/.local/state/veldra-update/updates.jsonl";
}

std::string RecordsPath(const TSettings &Settings, const std::string &Option, bool NoRecord) {
    if (NoRecord) return {};
    if (!Option.empty()) return Option;
    const std::string &Key = Settings.RecordsSetting();
    if (Key.empty()) return DefaultRecordsPath();
    if (Key == "off" || Key == "OFF" || Key == "Off") return {};
    if (Key.starts_with("~/")) {
        const char *Home = std::getenv("HOME");
        return std::string(Home ? Home : "") + Key.substr(1);
    }
    if (Key.front() == '/') return Key;
    const std::string &File = Settings.FileName();
    const size_t Slash = File.rfind('/');
    return Slash == std::string::npos ? Key : File.substr(0, Slash + 1) + Key;
}

nlohmann::json UpdateRecordJson(const TUpdateRecord &R) {
    nlohmann::json J = nlohmann::json::object();
    J["source"] = R.Source;
    J["start_utc"] = R.StartUtc;
    J["end_utc"] = R.EndUtc;
    J["user"] = R.User;
    J["host"] = R.Host;
    J["program_version"] = R.ProgramVersion;
    J["port"] = R.Port;
    J["adapter_vendor"] = R.AdapterVendor;
    J["adapter_model"] = R.AdapterModel;
    J["adapter_serial"] = R.AdapterSerial;
    J["sensor_id"] = R.SensorID ? nlohmann::json(*R.SensorID) : nlohmann::json(nullptr);
    J["sensor_name"] = R.SensorName;
    J["version_before"] = R.VersionBefore;
    J["version_in_file"] = R.VersionInFile;
    J["file_name"] = R.FileName;
    J["file_size"] = R.FileSize;
    J["file_sha256"] = R.FileSha256;
    J["packets"] = R.Packets;
    J["retries"] = R.Retries;
    J["failed_attempts"] = R.FailedAttempts;
    J["duration_ms"] = R.DurationMs;
    J["result"] = R.Result;
    J["reason"] = R.Reason;
    return J;
}

std::optional<TUpdateRecord> UpdateRecordFromJson(const nlohmann::json &J) {
    if (!J.is_object()) return std::nullopt;
    TUpdateRecord R;
    uint32_t Sensor = 0;
    const bool HasSensor = J.contains("sensor_id") && !J["sensor_id"].is_null();
    const bool Ok =
        Take(J, "source", R.Source) && Take(J, "start_utc", R.StartUtc) &&
        Take(J, "end_utc", R.EndUtc) && Take(J, "user", R.User) && Take(J, "host", R.Host) &&
        Take(J, "program_version", R.ProgramVersion) && Take(J, "port", R.Port) &&
        Take(J, "adapter_vendor", R.AdapterVendor) && Take(J, "adapter_model", R.AdapterModel) &&
        Take(J, "adapter_serial", R.AdapterSerial) && Take(J, "sensor_id", Sensor) &&
        Take(J, "sensor_name", R.SensorName) && Take(J, "version_before", R.VersionBefore) &&
        Take(J, "version_in_file", R.VersionInFile) && Take(J, "file_name", R.FileName) &&
        Take(J, "file_size", R.FileSize) && Take(J, "file_sha256", R.FileSha256) &&
        Take(J, "packets", R.Packets) && Take(J, "retries", R.Retries) &&
        Take(J, "failed_attempts", R.FailedAttempts) && Take(J, "duration_ms", R.DurationMs) &&
        Take(J, "result", R.Result) && Take(J, "reason", R.Reason);
    if (!Ok || R.StartUtc.empty() || R.Result.empty() || Sensor > 0xFFFF) return std::nullopt;
    if (HasSensor) R.SensorID = static_cast<uint16_t>(Sensor);
    return R;
}

std::string AppendUpdateRecord(const std::string &Path, const TUpdateRecord &Record) {
    if (Path.empty()) return "no file named for the records";
    const std::string Line =
        UpdateRecordJson(Record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
        "\n";
    if (Line.size() > CMaxRecordLine) return "the record is longer than the longest line allowed";
    if (const std::string Why = MakeParents(Path); !Why.empty()) return Why;
    // O_NONBLOCK: a FIFO put in the file's place must not hang the update.
    TUniqueFd Fd(
        ::open(Path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!Fd) return ErrnoText("cannot open " + Path, errno);
    struct stat St {};
    if (::fstat(Fd.get(), &St) != 0) return ErrnoText(Path, errno);
    if (!S_ISREG(St.st_mode)) return Path + ": not a regular file";
    if (!LockFile(Fd.get(), LOCK_EX)) return ErrnoText("cannot lock " + Path, errno);
    const TFileLock Lock(Fd.get());
    // The size and last byte under the lock: no other writer moves them now.
    if (::fstat(Fd.get(), &St) != 0) return ErrnoText(Path, errno);
    std::string Out = Line;
    if (St.st_size > 0) {
        char Last = '\n';
        TUniqueFd Reader(::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (Reader && ::pread(Reader.get(), &Last, 1, St.st_size - 1) == 1 && Last != '\n')
            Out.insert(Out.begin(), '\n');  // close a line a crash left open
    }
    ssize_t Written;
    do {
        Written = ::write(Fd.get(), Out.data(), Out.size());
    } while (Written < 0 && errno == EINTR);
    if (Written < 0) return ErrnoText("cannot write " + Path, errno);
    if (static_cast<size_t>(Written) != Out.size()) {
        // A full disk, a quota: take the piece back so the file ends whole.
        const int Err = errno;
        if (::ftruncate(Fd.get(), St.st_size) != 0) {
        }
        return "cannot write " + Path + ": only " + std::to_string(Written) + " of " +
               std::to_string(Out.size()) + " bytes written" +
               (Err ? std::string(" (") + std::strerror(Err) + ")" : std::string());
    }
    if (::fsync(Fd.get()) != 0) return ErrnoText("cannot sync " + Path, errno);
    return {};
}

TRecordsRead ReadUpdateRecords(const std::string &Path) {
    TRecordsRead Read;
    TUniqueFd Fd(::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!Fd) {
        if (errno == ENOENT)
            Read.Missing = true;
        else
            Read.Error = std::strerror(errno);
        return Read;
    }
    struct stat St {};
    if (::fstat(Fd.get(), &St) != 0) {
        Read.Error = std::strerror(errno);
        return Read;
    }
    if (S_ISDIR(St.st_mode)) {
        Read.Error = "a folder, not a file";
        return Read;
    }
    if (!S_ISREG(St.st_mode)) {
        Read.Error = "not a regular file";
        return Read;
    }
    // A writer holds the lock for one line only; a reader that cannot have
    // it in time reads all the same (a half line is skipped like a damaged
    // one).
    const bool Locked = LockFile(Fd.get(), LOCK_SH);
    const uint64_t Size = static_cast<uint64_t>(St.st_size);
    uint64_t From = 0;
    if (Size > CMaxRecordsFileBytes) {
        From = Size - CMaxRecordsFileBytes;
        Read.Truncated = true;
    }
    std::string Bytes;
    Bytes.resize(static_cast<size_t>(Size - From));
    size_t Got = 0;
    while (Got < Bytes.size()) {
        const ssize_t N = ::pread(Fd.get(), Bytes.data() + Got, Bytes.size() - Got,
                                  static_cast<off_t>(From + Got));
        if (N < 0 && errno == EINTR) continue;
        if (N < 0) {
            Read.Error = std::strerror(errno);
            if (Locked) ::flock(Fd.get(), LOCK_UN);
            return Read;
        }
        if (N == 0) break;  // shrunk meanwhile
        Got += static_cast<size_t>(N);
    }
    if (Locked) ::flock(Fd.get(), LOCK_UN);
    Bytes.resize(Got);

    size_t Pos = 0;
    int LineNo = 0;
    if (From > 0) {
        // The first line read is most likely a piece of a longer one.
        const size_t Nl = Bytes.find('\n');
        Pos = Nl == std::string::npos ? Bytes.size() : Nl + 1;
    }
    while (Pos < Bytes.size()) {
        size_t End = Bytes.find('\n', Pos);
        if (End == std::string::npos) End = Bytes.size();
        ++LineNo;
        const std::string_view Line(Bytes.data() + Pos, End - Pos);
        Pos = End + 1;
        if (Line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        std::optional<TUpdateRecord> Record;
        if (Line.size() <= CMaxRecordLine) {
            const nlohmann::json J = nlohmann::json::parse(Line, nullptr, false);
            if (!J.is_discarded()) Record = UpdateRecordFromJson(J);
        }
        if (!Record) {
            if (Read.Damaged++ == 0) Read.FirstDamagedLine = LineNo;
            continue;
        }
        Read.Records.push_back(std::move(*Record));
    }
    if (Read.Records.size() > CMaxRecords) {
        Read.Records.erase(
            Read.Records.begin(),
            Read.Records.begin() + static_cast<std::ptrdiff_t>(Read.Records.size() - CMaxRecords));
        Read.Truncated = true;
    }
    return Read;
}

std::vector<std::string> RecordsWarnings(const TRecordsRead &Read, const std::string &Path) {
    std::vector<std::string> Out;
    if (Read.Damaged > 0)
        Out.push_back(Path + ": " + std::to_string(Read.Damaged) +
                      (Read.Damaged == 1 ? " damaged line" : " damaged lines") +
                      " skipped (the first is line " + std::to_string(Read.FirstDamagedLine) +
                      (Read.Truncated ? " of the part read" : "") + ")");
    if (Read.Truncated)
        Out.push_back(Path + ": only the newest records are read (at most " +
                      std::to_string(CMaxRecords) + " records, " +
                      std::to_string(CMaxRecordsFileBytes / (1024 * 1024)) + " MiB)");
    return Out;
}

std::string UtcIsoText(std::chrono::system_clock::time_point Time) {
    const auto Ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Time.time_since_epoch()).count();
    const std::time_t Secs = static_cast<std::time_t>(Ms / 1000 - (Ms % 1000 < 0 ? 1 : 0));
    const int Milli = static_cast<int>(((Ms % 1000) + 1000) % 1000);
    std::tm Tm{};
    ::gmtime_r(&Secs, &Tm);
    char Text[96];
    std::snprintf(Text, sizeof Text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", Tm.tm_year + 1900,
                  Tm.tm_mon + 1, Tm.tm_mday, Tm.tm_hour, Tm.tm_min, Tm.tm_sec, Milli);
    return Text;
}

void TRecordTimer::Start(TUpdateRecord &Record) {
    FStarted = std::chrono::steady_clock::now();
    Record.StartUtc = UtcIsoText(std::chrono::system_clock::now());
}

void TRecordTimer::Stop(TUpdateRecord &Record) const {
    Record.EndUtc = UtcIsoText(std::chrono::system_clock::now());
    Record.DurationMs = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::steady_clock::now() - FStarted)
                                                  .count());
}

void FillRecordOrigin(TUpdateRecord &Record, const std::string &Source, const std::string &Port) {
    Record.Source = Source;
    Record.User = LoginName();
    Record.Host = HostName();
    Record.ProgramVersion = veldra::kVersion;
    Record.Port = Port;
    if (ParsePortName(Port).IsNetwork()) return;
    if (const std::optional<TTtyDevice> Dev = TtyDeviceAt(PortKey(Port))) {
        const TAdapterFacts Facts = AdapterFactsOf(*Dev);
        Record.AdapterVendor = Facts.Vendor;
        Record.AdapterModel = Facts.Model;
        Record.AdapterSerial = Facts.Serial;
    }
}

void FillRecordFile(TUpdateRecord &Record, const std::string &FileName, const TFirmwareImage &Image,
                    const TSettings &Settings) {
    Record.FileName = FileName;
    Record.FileSize = Image.Bytes.size();
    Record.FileSha256 = Sha256Hex(Image.Bytes.data(), Image.Bytes.size());
    Record.VersionInFile =
        Settings.SensorVersionToString(Image.Hdr.Version.Hi, Image.Hdr.Version.Lo);
}

std::string CatalogueName(const TSettings &Settings, int SensorID) {
    const std::string Name = Settings.SensorIDToName(SensorID);
    // "7 (0x00000007) Probe A", or "Unknown".
    const size_t Head = Name.find(") ");
    if (Name == "Unknown" || Head == std::string::npos) return {};
    return Name.substr(Head + 2);
}

void FillRecordSensor(TUpdateRecord &Record, const TBootSensor &Sensor, const TSettings &Settings) {
    if (!Sensor.Found) return;
    Record.SensorID = Sensor.SensorID;
    Record.SensorName = CatalogueName(Settings, Sensor.SensorID);
    Record.VersionBefore = Settings.SensorVersionToString(Sensor.Version.Hi, Sensor.Version.Lo);
}

void TRetryTally::Report(int, int Fail) {
    if (FPending) ++FRetries;
    FPending = Fail > FLastFail;
    FLastFail = Fail;
}

void FillRecordUpload(TUpdateRecord &Record, const TUploadResult &Upload, int Retries) {
    Record.Packets = Upload.Sent;
    Record.FailedAttempts = Upload.Fail;
    Record.Retries = Retries;
    Record.Result = Upload.Ok ? "ok" : "failed";
    Record.Reason = JobText(Upload.Text());
    if (!Upload.Error.Empty()) Record.Reason += ": " + JobText(Upload.Error);
}

bool TRecordFilter::Matches(const TUpdateRecord &R) const {
    if (!Since.empty() && R.StartUtc < Since) return false;
    if (SensorID && R.SensorID != SensorID) return false;
    if (!Port.empty() && PortKey(R.Port) != PortKey(Port)) return false;
    if (!Result.empty() && R.Result != Result) return false;
    return true;
}

std::optional<std::string> ParseRecordTime(const std::string &Text) {
    // YYYY-MM-DD
    if (!Digits(Text, 0, 4) || Text.size() < 10 || Text[4] != '-' || !Digits(Text, 5, 2) ||
        Text[7] != '-' || !Digits(Text, 8, 2))
        return std::nullopt;
    std::tm Tm{};
    Tm.tm_year = Number(Text, 0, 4) - 1900;
    Tm.tm_mon = Number(Text, 5, 2) - 1;
    Tm.tm_mday = Number(Text, 8, 2);
    int Milli = 0;
    long Offset = 0;  // seconds east of UTC
    size_t Pos = 10;
    if (Pos < Text.size()) {
        if ((Text[Pos] != 'T' && Text[Pos] != 't' && Text[Pos] != ' ') ||
            !Digits(Text, Pos + 1, 2) || Pos + 3 >= Text.size() || Text[Pos + 3] != ':' ||
            !Digits(Text, Pos + 4, 2))
            return std::nullopt;
        Tm.tm_hour = Number(Text, Pos + 1, 2);
        Tm.tm_min = Number(Text, Pos + 4, 2);
        Pos += 6;
        if (Pos < Text.size() && Text[Pos] == ':') {
            if (!Digits(Text, Pos + 1, 2)) return std::nullopt;
            Tm.tm_sec = Number(Text, Pos + 1, 2);
            Pos += 3;
            if (Pos < Text.size() && (Text[Pos] == '.' || Text[Pos] == ',')) {
                size_t Frac = Pos + 1;
                int Scale = 100;
                while (Frac < Text.size() && Text[Frac] >= '0' && Text[Frac] <= '9') {
                    Milli += (Text[Frac] - '0') * Scale;
                    Scale /= 10;
                    ++Frac;
                }
                if (Frac == Pos + 1) return std::nullopt;
                Pos = Frac;
            }
        }
        if (Pos < Text.size()) {
            const char Zone = Text[Pos];
            if ((Zone == 'Z' || Zone == 'z') && Pos + 1 == Text.size()) {
            } else if ((Zone == '+' || Zone == '-') && Pos + 6 == Text.size() &&
                       Digits(Text, Pos + 1, 2) && Text[Pos + 3] == ':' &&
                       Digits(Text, Pos + 4, 2)) {
                const int H = Number(Text, Pos + 1, 2), M = Number(Text, Pos + 4, 2);
                if (H > 23 || M > 59) return std::nullopt;
                Offset = (Zone == '+' ? 1 : -1) * (H * 3600L + M * 60L);
            } else {
                return std::nullopt;
            }
        }
    }
    if (Tm.tm_mon < 0 || Tm.tm_mon > 11 || Tm.tm_mday < 1 || Tm.tm_mday > 31 || Tm.tm_hour > 23 ||
        Tm.tm_min > 59 || Tm.tm_sec > 60)
        return std::nullopt;
    const std::tm Given = Tm;
    const std::time_t Secs = ::timegm(&Tm);
    if (Tm.tm_mday != Given.tm_mday || Tm.tm_mon != Given.tm_mon) return std::nullopt;  // 02-30
    const auto Time =
        std::chrono::system_clock::from_time_t(Secs - Offset) + std::chrono::milliseconds(Milli);
    return UtcIsoText(Time);
}

const std::vector<std::string> &RecordColumns() {
    static const std::vector<std::string> Columns = {
        "start_utc",      "end_utc",         "source",    "user",
        "host",           "program_version", "port",      "adapter_vendor",
        "adapter_model",  "adapter_serial",  "sensor_id", "sensor_name",
        "version_before", "version_in_file", "file_name", "file_size",
        "file_sha256",    "packets",         "retries",   "failed_attempts",
        "duration_ms",    "result",          "reason"};
    return Columns;
}

std::vector<std::string> RecordCells(const TUpdateRecord &R) {
    return {R.StartUtc,
            R.EndUtc,
            R.Source,
            R.User,
            R.Host,
            R.ProgramVersion,
            R.Port,
            R.AdapterVendor,
            R.AdapterModel,
            R.AdapterSerial,
            R.SensorID ? std::to_string(*R.SensorID) : std::string(),
            R.SensorName,
            R.VersionBefore,
            R.VersionInFile,
            R.FileName,
            std::to_string(R.FileSize),
            R.FileSha256,
            std::to_string(R.Packets),
            std::to_string(R.Retries),
            std::to_string(R.FailedAttempts),
            std::to_string(R.DurationMs),
            R.Result,
            R.Reason};
}

std::string RecordsCsv(const std::vector<TUpdateRecord> &Records) {
    std::string Out;
    auto Row = [&Out](const std::vector<std::string> &Cells) {
        // Appended piece by piece: GCC 12 takes "literal" + a temporary string
        // for an overlapping copy (-Wrestrict) in release builds.
        for (size_t I = 0; I < Cells.size(); ++I) {
            if (I) Out += ',';
            Out += CsvField(Cells[I]);
        }
        Out += "\n";
    };
    Row(RecordColumns());
    for (const TUpdateRecord &R : Records) Row(RecordCells(R));
    return Out;
}
