// identify and flash: the sensors in bootloader mode.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <thread>

#include "bootloader/XComm.h"
#include "cli/Commands.h"
#include "cli/PortCheck.h"
#include "cli/Progress.h"
#include "jobs/FirmwareJob.h"
#include "jobs/UpdateRecord.h"
#include "serial/Interrupt.h"
#include "serial/LineTypes.h"
#include "settings/Settings.h"

namespace {

// The line of Port with the update limits of the settings file (the
// protocol raises them to its minimums).
std::unique_ptr<TBootLine> MakeBootLine(const TCliContext &Ctx, const std::string &Port) {
    return std::make_unique<TBootLine>(Port, Ctx.Settings->FWUpdSettings());
}

nlohmann::json SensorJson(const TCliContext &Ctx, const TBootSensor &Sensor) {
    const TSensorVersion v = Sensor.Version;
    return {{"baud_rate", Sensor.BaudRate},
            {"sensor_id", Sensor.SensorID},
            {"sensor", Ctx.Settings->SensorIDToName(Sensor.SensorID)},
            {"version", Ctx.Settings->SensorVersionToString(v.Hi, v.Lo)},
            {"version_major", v.Hi},
            {"version_minor", v.Lo}};
}

}  // namespace

int RunIdentify(TCliContext &Ctx, const std::string &Port) {
    TResult result(Ctx, "identify");
    result["port"] = Port;
    auto link = MakeBootLine(Ctx, Port);
    TBootSensor found;
    try {
        found = IdentifyBootSensor(*link);
    } catch (const EInterrupted &e) {
        link.reset();  // the port closed in order before the report
        return result.Stopped(e.Signal());
    }
    if (!found.Found) {
        if (found.PortError)
            return ReportPortProblem(result, Port, PortProblemOf(*found.PortError));
        return result.Fail(ExitFailed, JobText(TJobText::NotFound));
    }
    const nlohmann::json sensor = SensorJson(Ctx, found);
    result.Json().update(sensor);
    result.Text("Port: " + Port);
    result.Text("Baud rate: " + std::to_string(found.BaudRate));
    result.Text("Sensor ID: " + sensor["sensor"].get<std::string>());
    result.Text("Version: " + sensor["version"].get<std::string>());
    return result.Finish(ExitOk);
}

// ------------------------------------------------------------------ flash

namespace {

// One sensor of a flash run.
struct TFlashJob {
    std::string Port;
    std::unique_ptr<TBootLine> Link;
    int Code = ExitOk;    // this port's exit code
    std::string Message;  // its result text
    std::vector<std::string> Details;
    bool Identified = false;
    TBootSensor Found;
    nlohmann::json Sensor;  // identity, kept when the link closes
    bool Uploaded = false;
    int Sent = 0, Fail = 0, Progress = 0;
    double Seconds = 0;
    // Its update record: begun when the port's work begins, the upload's
    // end stamped when the upload ends.
    TUpdateRecord Record;
    TRecordTimer Timer;
    bool Skipped = false;  // the user (or no terminal) did not confirm
    bool Stopped = false;  // a signal ended its work

    void Failed(int C, const std::string &Text) {
        Code = C;
        Message = Text;
    }
};

// Asks a yes/no question on the terminal. Without a terminal the answer is
// no unless --yes was given.
bool Confirm(TCliContext &Ctx, const std::string &Prefix, const std::string &Question, bool Yes,
             std::string &Refusal) {
    if (Yes) {
        Ctx.Console->Err(Prefix + Question + " [y/N] y (--yes)");
        return true;
    }
    if (!Ctx.StdinIsTerminal) {
        Ctx.Console->Err(Prefix + Question);
        Refusal = "Not confirmed: no terminal to ask on (pass --yes to confirm)";
        return false;
    }
    Ctx.Console->Prompt(Prefix + Question + " [y/N] ");
    // A signal ends the wait for the answer (EInterrupted).
    pollfd in{STDIN_FILENO, POLLIN, 0};
    while (PollInterruptible(&in, 1, -1) < 0 && errno == EINTR) {
    }
    char line[64] = {};
    if (!std::fgets(line, sizeof line, stdin)) {
        Ctx.Console->Err("");
        Refusal = "Not confirmed";
        return false;
    }
    const std::string answer = line;
    const bool yes = answer.starts_with("y") || answer.starts_with("Y");
    if (!yes) Refusal = "Not confirmed";
    return yes;
}

// A port named twice (also through a different path to the same device)
// would have two threads fight over one line.
void CheckDistinctPorts(const std::vector<std::string> &Ports) {
    std::set<std::string> seen;
    for (const std::string &p : Ports) {
        const std::string path = p.find('/') == std::string::npos ? "/dev/" + p : p;
        std::string key = path;
        if (char *real = ::realpath(path.c_str(), nullptr)) {
            key = real;
            std::free(real);
        }
        if (!seen.insert(key).second)
            throw EUsageError("--port: " + p + " is given more than once");
    }
}

// A stop request (a signal) ends a port's job: its link is closed in order.
void StoppedJob(TFlashJob &Job, int Signal) {
    if (Job.Link) Job.Link->XComm().Close();
    Job.Stopped = true;
    Job.Failed(InterruptExitCode(Signal), EInterrupted(Signal).what());
}

template <typename F>
void ForEachParallel(std::vector<TFlashJob> &Jobs, F Work) {
    std::vector<std::thread> threads;
    for (size_t i = 0; i < Jobs.size(); ++i)
        if (Jobs[i].Code == ExitOk)
            threads.emplace_back([&, i] {
                try {
                    Work(i, Jobs[i]);
                } catch (const EInterrupted &e) {
                    StoppedJob(Jobs[i], e.Signal());
                }
            });
    for (auto &t : threads) t.join();
}

// Finds the sensors, all at once. A port that cannot be opened says why.
void IdentifySensors(const TCliContext &Ctx, std::vector<TFlashJob> &Jobs) {
    ForEachParallel(Jobs, [&](size_t, TFlashJob &job) {
        job.Link = MakeBootLine(Ctx, job.Port);
        job.Found = IdentifyBootSensor(*job.Link);
        if (job.Found.Found) {
            job.Identified = true;
            job.Sensor = SensorJson(Ctx, job.Found);
        } else if (job.Found.PortError) {
            const TPortProblem problem = PortProblemOf(*job.Found.PortError);
            job.Failed(ExitPort, PortProblemText(problem));
            if (std::string hint = PortAccessHint(job.Port, problem); !hint.empty())
                job.Details.push_back(hint);
        } else {
            job.Failed(ExitFailed, JobText(TJobText::NotFound));
        }
    });
}

// Checks one sensor against the file and asks its question, if any.
void CheckSensor(TCliContext &Ctx, TFlashJob &Job, const TCODFileData &Hdr,
                 const std::string &Prefix, bool Yes) {
    const TBootSensor &found = Job.Found;
    const TSensorVersion s = found.Version;
    Ctx.Console->Err(Prefix + "Sensor ID: " + Ctx.Settings->SensorIDToName(found.SensorID) +
                     ", version " + Ctx.Settings->SensorVersionToString(s.Hi, s.Lo) + ", " +
                     std::to_string(found.BaudRate) + " baud");
    const TUpdateCheck check = CheckUpdate(found.SensorID, s, Hdr);
    if (check.Refusal != TJobText::None) {
        Job.Failed(ExitFailed, JobText(check.Refusal));
        return;
    }
    std::string refusal;
    try {
        if (check.Question != TVersionQuestion::None &&
            !Confirm(Ctx, Prefix, JobText(QuestionText(check.Question)), Yes, refusal)) {
            Job.Failed(ExitFailed, refusal);
            Job.Skipped = true;
        }
    } catch (const EInterrupted &e) {
        Ctx.Console->Err("");
        StoppedJob(Job, e.Signal());
    }
}

// Checks each sensor found and asks the questions, one at a time.
void CheckSensors(TCliContext &Ctx, std::vector<TFlashJob> &Jobs, const TCODFileData &Hdr,
                  bool Yes) {
    const bool several = Jobs.size() > 1;
    for (TFlashJob &job : Jobs) {
        if (job.Code != ExitOk) continue;
        if (const int sig = InterruptSignal()) {
            StoppedJob(job, sig);
            continue;
        }
        CheckSensor(Ctx, job, Hdr, several ? job.Port + ": " : "", Yes);
    }
    // A stop asked for during the questions uploads nothing.
    if (const int sig = InterruptSignal())
        for (TFlashJob &job : Jobs)
            if (job.Code == ExitOk) StoppedJob(job, sig);
}

// Uploads the image to one sensor, its progress on row Row of the board.
void UploadOne(TFlashJob &Job, const TFirmwareImage &Image, TProgressBoard &Board, size_t Row) {
    const auto started = std::chrono::steady_clock::now();
    Board.Start(Row);
    TRetryTally retries;
    const TUploadResult upload =
        UploadFirmware(Job.Link->XComm(), Image, [&](int sent, int fail, int progress) {
            retries.Report(sent, fail);
            Board.Report(Row, sent, fail, progress);
        });
    Job.Timer.Stop(Job.Record);
    FillRecordUpload(Job.Record, upload, retries.Retries());
    Job.Sent = upload.Sent;
    Job.Fail = upload.Fail;
    Job.Progress = upload.Progress;
    if (!upload.Error.Empty()) Job.Details.push_back(JobText(upload.Error));
    const bool ok = upload.Ok;
    Job.Link->XComm().Close();
    Job.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    Job.Uploaded = true;
    if (ok) {
        Job.Message = JobText(upload.Text());
    } else {
        Job.Failed(ExitFailed, JobText(upload.Text()));
        Job.Details.push_back(JobText(TJobText::RetryHint));
    }
    Board.Done(Row, ok ? "done" : "failed");
}

// Uploads to every sensor that passed its check, all at once, one thread and
// one link per port.
void UploadAll(TCliContext &Ctx, std::vector<TFlashJob> &Jobs, const TFirmwareImage &Image) {
    std::vector<std::string> rows;
    std::vector<size_t> rowOf(Jobs.size(), 0);
    for (size_t i = 0; i < Jobs.size(); ++i)
        if (Jobs[i].Code == ExitOk) {
            rowOf[i] = rows.size();
            rows.push_back(Jobs[i].Port);
        }
    if (rows.empty()) return;
    const TCODFileData &hdr = Image.Hdr;
    TProgressBoard board(*Ctx.Console, rows, Ctx.Console->ErrIsTerminal(), hdr.FileSize,
                         hdr.IsESP32() ? CESP32PacketSize : CDefPacketSize);
    ForEachParallel(Jobs,
                    [&](size_t i, TFlashJob &job) { UploadOne(job, Image, board, rowOf[i]); });
    board.Finish();
}

// Appends each port's record (Path "" records nothing). A record that
// cannot be written leaves the update's result as it is and says so, loudly:
// on standard error and as "record_error" in the JSON object.
void RecordFlash(TCliContext &Ctx, TResult &Result, std::vector<TFlashJob> &Jobs,
                 const std::string &Path) {
    Result["records_file"] = Path.empty() ? nlohmann::json(nullptr) : nlohmann::json(Path);
    if (Path.empty()) return;
    const int sig = InterruptSignal();
    std::string error;
    for (TFlashJob &job : Jobs) {
        TUpdateRecord &record = job.Record;
        if (!job.Uploaded) {
            job.Timer.Stop(record);
            record.Result = job.Stopped ? "stopped" : job.Skipped ? "skipped" : "failed";
            record.Reason = job.Message;
        } else if (sig && job.Code != ExitOk) {
            record.Result = "stopped";  // a signal cut the upload short
        }
        if (const std::string why = AppendUpdateRecord(Path, record); !why.empty() && error.empty())
            error = why;
    }
    if (error.empty()) return;
    Ctx.Console->Err("Warning: the update record was not written: " + error);
    Ctx.Console->Err(
        "Warning: the update itself is not affected; check the records file (--records, or "
        "RECORDS= in the settings file)");
    Result["record_error"] = error;
}

// The JSON object of one port's result.
nlohmann::json PortJson(const TFlashJob &Job) {
    nlohmann::json j{{"port", Job.Port},
                     {"ok", Job.Code == ExitOk},
                     {"exit_code", Job.Code},
                     {"message", Job.Message}};
    if (Job.Identified) j.update(Job.Sensor);
    if (Job.Uploaded) {
        j["packets_sent"] = Job.Sent;
        j["packets_failed"] = Job.Fail;
        j["progress"] = Job.Progress;
        j["seconds"] = Job.Seconds;
    }
    if (!Job.Details.empty()) j["details"] = Job.Details;
    return j;
}

// Reports the results: the system's texts, one line per port when there are
// several. Returns the run's exit code.
int ReportFlash(TCliContext &Ctx, TResult &Result, std::vector<TFlashJob> &Jobs) {
    const bool several = Jobs.size() > 1;
    int code = ExitOk;
    Result["ports"] = nlohmann::json::array();
    for (TFlashJob &job : Jobs) {
        // An upload that a signal cut short failed for that reason.
        if (const int sig = InterruptSignal(); sig && job.Code == ExitFailed && job.Uploaded)
            job.Code = InterruptExitCode(sig);
        if (job.Code == ExitPort)
            code = ExitPort;
        else if (job.Code != ExitOk && code == ExitOk)
            code = job.Code;
        Result["ports"].push_back(PortJson(job));
    }
    for (const TFlashJob &job : Jobs) {
        if (several) {
            for (const std::string &d : job.Details) Ctx.Console->Err(job.Port + ": " + d);
            continue;
        }
        if (job.Code == ExitOk) {
            Result.Text(job.Message);
        } else {
            Result.ErrorText(job.Code == ExitPort ? job.Port + ": " + job.Message : job.Message);
            for (const std::string &d : job.Details) Result.ErrorText(d);
        }
    }
    if (several) {
        int okCount = 0;
        for (const TFlashJob &job : Jobs) {
            okCount += job.Code == ExitOk;
            Result.Text(job.Port + ": " + job.Message);
        }
        if (okCount != static_cast<int>(Jobs.size()))
            Result["error"] = std::to_string(Jobs.size() - okCount) + " of " +
                              std::to_string(Jobs.size()) + " sensors not updated";
    }
    return Result.Finish(code);
}

}  // namespace

int RunFlash(TCliContext &Ctx, const TFlashOptions &Opt) {
    CheckDistinctPorts(Opt.Ports);
    TResult result(Ctx, "flash");
    // Read once: every port gets exactly the bytes checked here.
    TFirmwareImage image;
    if (!CheckFirmwareFile(result, Opt.File, image, true)) return result.Finish(ExitFailed);
    result["firmware"] = FirmwareJson(*Ctx.Settings, image.Hdr);

    const std::string records = RecordsPath(*Ctx.Settings, Opt.Records, Opt.NoRecord);
    std::vector<TFlashJob> jobs(Opt.Ports.size());
    TUpdateRecord fileRecord;
    if (!records.empty()) FillRecordFile(fileRecord, Opt.File, image, *Ctx.Settings);
    for (size_t i = 0; i < jobs.size(); ++i) {
        jobs[i].Port = Opt.Ports[i];
        jobs[i].Record = fileRecord;
        jobs[i].Timer.Start(jobs[i].Record);
        if (!records.empty()) FillRecordOrigin(jobs[i].Record, "flash", jobs[i].Port);
    }
    IdentifySensors(Ctx, jobs);
    for (TFlashJob &job : jobs)
        if (job.Identified) FillRecordSensor(job.Record, job.Found, *Ctx.Settings);
    CheckSensors(Ctx, jobs, image.Hdr, Opt.Yes);
    UploadAll(Ctx, jobs, image);
    RecordFlash(Ctx, result, jobs, records);
    return ReportFlash(Ctx, result, jobs);
}
