// history: the update records, filtered, as a table, CSV or JSON.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "cli/Commands.h"
#include "jobs/UpdateRecord.h"
#include "settings/Settings.h"

namespace {

// The filter the options ask for; a value that makes no sense is a usage
// error.
TRecordFilter HistoryFilter(const THistoryOptions &Opt) {
    TRecordFilter filter;
    if (!Opt.Since.empty()) {
        const std::optional<std::string> since = ParseRecordTime(Opt.Since);
        if (!since)
            throw EUsageError("--since: " + Opt.Since +
                              " is no date (YYYY-MM-DD) or time (YYYY-MM-DDTHH:MM:SS, UTC unless "
                              "Z or +HH:MM follows)");
        filter.Since = *since;
    }
    if (!Opt.Sensor.empty()) {
        char *end = nullptr;
        errno = 0;
        const unsigned long id = std::strtoul(Opt.Sensor.c_str(), &end, 0);
        if (Opt.Sensor.front() == '-' || errno != 0 || *end != '\0' || id > 0xFFFF)
            throw EUsageError("--sensor: " + Opt.Sensor +
                              " is no sensor ID (0..65535, or hexadecimal 0x...)");
        filter.SensorID = static_cast<uint16_t>(id);
    }
    filter.Port = Opt.Port;
    filter.Result = Opt.Result;
    return filter;
}

// "2026-12-11T08:39:08.123Z" as the table shows it: "2026-12-11 08:39:08".
std::string TableTime(const std::string &Utc) {
    std::string t = Utc.substr(0, 19);
    if (t.size() > 10 && t[10] == 'T') t[10] = ' ';
    return t;
}

std::string FileBaseName(const std::string &Path) {
    const size_t slash = Path.rfind('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// The readable table: one line per record, columns padded to their widest
// cell.
std::vector<std::string> HistoryTable(const std::vector<TUpdateRecord> &Records) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"Start (UTC)", "Port", "Sensor", "Version", "File", "Result", "Reason"});
    for (const TUpdateRecord &r : Records) {
        std::string sensor = r.SensorID ? std::to_string(*r.SensorID) : "-";
        if (!r.SensorName.empty()) sensor += " " + r.SensorName;
        const std::string version = (r.VersionBefore.empty() ? "-" : r.VersionBefore) + " -> " +
                                    (r.VersionInFile.empty() ? "-" : r.VersionInFile);
        rows.push_back({TableTime(r.StartUtc), r.Port, sensor, version, FileBaseName(r.FileName),
                        r.Result, r.Reason});
    }
    std::vector<size_t> width(rows.front().size(), 0);
    for (const auto &row : rows)
        for (size_t i = 0; i + 1 < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
    std::vector<std::string> lines;
    for (const auto &row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(width[i] - row[i].size() + 2, ' ');
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

int RunHistory(TCliContext &Ctx, const THistoryOptions &Opt) {
    if (Opt.Csv && Ctx.Json) throw EUsageError("--csv and --json: choose one");
    const TRecordFilter filter = HistoryFilter(Opt);
    TResult result(Ctx, "history");
    const std::string path = Opt.Records.empty() ? RecordsPath(*Ctx.Settings) : Opt.Records;
    result["records_file"] = path.empty() ? nlohmann::json(nullptr) : nlohmann::json(path);
    result["records"] = nlohmann::json::array();
    if (path.empty()) {
        // RECORDS=off: nothing is recorded, so there is nothing to list.
        result.Text(
            "No records: recording is off in the settings file (RECORDS=off); "
            "--records FILE reads a file all the same.");
        return result.Finish(ExitOk);
    }
    const TRecordsRead read = ReadUpdateRecords(path);
    if (!read.Error.empty())
        return result.Fail(ExitFailed, "Cannot read the records file " + path + ": " + read.Error);
    for (const std::string &w : RecordsWarnings(read, path)) Ctx.Console->Err("Warning: " + w);
    result["damaged_lines"] = read.Damaged;

    std::vector<TUpdateRecord> shown;
    for (const TUpdateRecord &r : read.Records)
        if (filter.Matches(r)) shown.push_back(r);
    for (const TUpdateRecord &r : shown) result["records"].push_back(UpdateRecordJson(r));
    result["count"] = shown.size();

    if (Opt.Csv) {
        const bool terminal = isatty(STDOUT_FILENO) == 1;
        std::string csv = RecordsCsv(shown);
        size_t pos = 0;
        while (pos < csv.size()) {
            const size_t end = csv.find('\n', pos);
            const std::string line = csv.substr(pos, end - pos);
            Ctx.Console->Out(terminal ? VisibleText(line) : line);
            pos = end == std::string::npos ? csv.size() : end + 1;
        }
        return ExitOk;
    }
    if (read.Missing)
        result.Text("No records yet (" + path + " does not exist).");
    else if (shown.empty())
        result.Text("No records match.");
    else
        for (const std::string &line : HistoryTable(shown)) result.Text(line);
    return result.Finish(ExitOk);
}
