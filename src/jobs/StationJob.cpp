#include "jobs/StationJob.h"

#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <exception>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

#include "jobs/PortProblem.h"
#include "jobs/UpdateRecord.h"
#include "serial/HotPlug.h"
#include "serial/Interrupt.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"

const char *StationEventName(TStationEvent Event) {
    switch (Event) {
        case TStationEvent::Waiting:
            return "waiting";
        case TStationEvent::Identifying:
            return "identifying";
        case TStationEvent::Uploading:
            return "uploading";
        case TStationEvent::Done:
            return "done";
        case TStationEvent::Failed:
            return "failed";
        case TStationEvent::Skipped:
            return "skipped";
        case TStationEvent::Stopped:
            return "stopped";
        case TStationEvent::PortProblem:
            return "port-problem";
        case TStationEvent::Gone:
            return "gone";
    }
    return "";
}

std::string StationUtcNow() {
    const auto Ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    const std::time_t Seconds = static_cast<std::time_t>(Ms / 1000);
    std::tm Utc{};
    gmtime_r(&Seconds, &Utc);
    char Buf[96];
    std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", Utc.tm_year + 1900,
                  Utc.tm_mon + 1, Utc.tm_mday, Utc.tm_hour, Utc.tm_min, Utc.tm_sec,
                  static_cast<int>(Ms % 1000));
    return Buf;
}

// ------------------------------------------------------------ the ports

namespace {

class TUdevPortEvents : public TPortEvents {
public:
    TUdevPortEvents() : FRegistered(RegisterPortNotification()) {}
    ~TUdevPortEvents() override {
        if (FRegistered) UnregisterPortNotification();
    }
    bool Registered() const { return FRegistered && PortNotificationFd() >= 0; }
    int Fd() const override { return PortNotificationFd(); }
    bool Drain() override { return DrainPortNotifications() != TPortChange::None; }

private:
    bool FRegistered;
};

}  // namespace

std::unique_ptr<TPortEvents> MakeUdevPortEvents() {
    auto Events = std::make_unique<TUdevPortEvents>();
    if (!Events->Registered()) return nullptr;
    return Events;
}

std::vector<std::string> ListStationPorts(const std::vector<std::string> &Globs) {
    std::vector<std::string> Ports;
    if (Globs.empty()) {
        std::vector<TComListData> Found;
        EnumComPorts(Found);
        for (const TComListData &P : Found)
            if (P.Kind != TPortKind::Network) Ports.push_back(P.DeviceID);
    } else {
        for (const std::string &G : Globs) {
            const std::string Pattern = G.find('/') == std::string::npos ? "/dev/" + G : G;
            glob_t Found{};
            if (::glob(Pattern.c_str(), 0, nullptr, &Found) == 0)
                for (size_t I = 0; I < Found.gl_pathc; ++I) Ports.emplace_back(Found.gl_pathv[I]);
            ::globfree(&Found);
        }
    }
    std::sort(Ports.begin(), Ports.end(),
              [](const std::string &A, const std::string &B) { return CompareNatural(A, B) < 0; });
    Ports.erase(std::unique(Ports.begin(), Ports.end()), Ports.end());
    return Ports;
}

// ------------------------------------------------------------ the job

namespace {

// Raised from an upload's progress report when the station is stopped: the
// upload ends at its next packet.
class EStationStopped : public std::runtime_error {
public:
    EStationStopped() : std::runtime_error(JobText(TJobText::StationStopped)) {}
};

std::string VersionText(const TSettings &Settings, TSensorVersion V) {
    return Settings.SensorVersionToString(V.Hi, V.Lo);
}

}  // namespace

struct TStationJob::TImpl {
    // One port's worker.
    struct TWorker {
        std::string Port;
        std::thread Thread;
        std::atomic<bool> Quit{false};  // the port went away
        std::atomic<bool> Ended{false};
    };

    const TFirmwareImage &Image;
    const TSettings &Settings;
    TStationOptions Options;
    TOnReport OnReport;
    TStationSeams Seams;
    TClock &Clock;

    std::atomic<bool> Stopping{false};
    int WakeRead = -1, WakeWrite = -1;  // Stop and PortsChanged wake Run's wait

    mutable std::mutex Lock;  // the state below and the callback
    std::condition_variable Rest;
    TStationTotals Totals;
    std::map<std::string, TStationPortSummary> Ports;

    std::list<TWorker> Workers;  // Run's thread only

    TImpl(const TFirmwareImage &I, const TSettings &S, TStationOptions O, TOnReport R,
          TStationSeams Se)
        : Image(I),
          Settings(S),
          Options(std::move(O)),
          OnReport(std::move(R)),
          Seams(std::move(Se)),
          Clock(Seams.Clock ? *Seams.Clock : SystemClock()) {
        int Fds[2];
        if (::pipe2(Fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            WakeRead = Fds[0];
            WakeWrite = Fds[1];
        }
        if (Options.IntervalMs < 100) Options.IntervalMs = 100;
    }
    ~TImpl() {
        if (WakeRead >= 0) ::close(WakeRead);
        if (WakeWrite >= 0) ::close(WakeWrite);
    }

    void Wake() const {
        if (WakeWrite < 0) return;
        const char C = 1;
        [[maybe_unused]] const ssize_t N = ::write(WakeWrite, &C, 1);  // full: a wake is pending
    }
    void DrainWake() const {
        char Buf[64];
        while (WakeRead >= 0 && ::read(WakeRead, Buf, sizeof Buf) > 0) {
        }
    }
    bool Ending() const { return Stopping || Interrupted(); }

    std::string Now() const { return Seams.UtcNow ? Seams.UtcNow() : StationUtcNow(); }
    TLine MakeLine(const std::string &Port) const {
        return Seams.MakeLine ? Seams.MakeLine(Port) : ::MakeLine(Port);
    }
    std::vector<std::string> List() const {
        return Seams.ListPorts ? Seams.ListPorts() : ListStationPorts(Options.Globs);
    }

    // Counts the event, remembers it as the port's last and reports it.
    void Report(TStationReport R) {
        const std::lock_guard Guard(Lock);
        TStationPortSummary &P = Ports[R.Port];
        P.Port = R.Port;
        switch (R.Event) {
            case TStationEvent::Done:
                ++Totals.Ok, ++P.Ok;
                break;
            case TStationEvent::Failed:
                ++Totals.Failed, ++P.Failed;
                break;
            case TStationEvent::Skipped:
                ++Totals.Skipped, ++P.Skipped;
                break;
            case TStationEvent::Stopped:
                ++Totals.Stopped, ++P.Stopped;
                break;
            default:
                break;
        }
        if (R.Sensor) P.LastBaudRate = R.Sensor->BaudRate;
        P.Last = R.Event;
        P.LastReason = R.Reason;
        R.TimeUtc = Now();
        R.Totals = Totals;
        if (OnReport) OnReport(R);
    }

    // Waits the interval between two looks; false when the worker is to end.
    bool Pause(TWorker &W) {
        std::unique_lock Guard(Lock);
        Rest.wait_for(Guard, std::chrono::milliseconds(Options.IntervalMs),
                      [&] { return Stopping || W.Quit || Interrupted(); });
        return !Stopping && !W.Quit && !Interrupted();
    }

    // The record of one sensor's result; why it could not be written, if so.
    std::string Record(const TStationReport &R, const std::string &Start, uint64_t Ms) {
        if (Options.RecordsPath.empty()) return {};
        TUpdateRecord Rec;
        FillRecordOrigin(Rec, "station", R.Port);
        Rec.StartUtc = Start;
        Rec.EndUtc = Now();
        if (R.Sensor) {
            Rec.SensorID = R.Sensor->SensorID;
            Rec.SensorName = CatalogueName(Settings, R.Sensor->SensorID);
            Rec.VersionBefore = VersionText(Settings, R.Sensor->Version);
        }
        FillRecordFile(Rec, Options.FileName, Image, Settings);
        Rec.Packets = R.Sent;
        Rec.FailedAttempts = R.Fail;
        // Every failed attempt but the last of a failed upload was retried.
        Rec.Retries = R.Event == TStationEvent::Done ? R.Fail : std::max(R.Fail - 1, 0);
        Rec.DurationMs = Ms;
        switch (R.Event) {
            case TStationEvent::Done:
                Rec.Result = "ok";
                break;
            case TStationEvent::Skipped:
                Rec.Result = "skipped";
                break;
            case TStationEvent::Stopped:
                Rec.Result = "stopped";
                break;
            default:
                Rec.Result = "failed";
                break;
        }
        Rec.Reason =
            R.Event == TStationEvent::Done ? JobText(TJobText::UpdateOk) : JobText(R.Reason);
        try {
            return AppendUpdateRecord(Options.RecordsPath, Rec);
        } catch (const std::exception &E) {
            return E.what();
        }
    }

    // Checks a sensor found against the file and updates it: its result.
    TStationReport Update(TBootLine &Line, const TBootSensor &Found, const std::string &Port) {
        const std::string Start = Now();
        const uint64_t Began = Clock.Now();
        TStationReport R;
        R.Port = Port;
        R.Sensor = TStationSensor{Found.SensorID, Found.Version, Found.BaudRate};
        R.Event = TStationEvent::Identifying;
        Report(R);

        const TUpdateCheck Check = CheckUpdate(Found.SensorID, Found.Version, Image.Hdr);
        if (Check.Refusal != TJobText::None) {
            R.Event = TStationEvent::Failed;
            R.Reason = Check.Refusal;
        } else if (Check.Question == TVersionQuestion::Same) {
            R.Event = TStationEvent::Skipped;
            R.Reason = TJobText::StationSameVersion;
        } else if (Check.Question == TVersionQuestion::Older && !Options.YesOlder) {
            R.Event = TStationEvent::Skipped;
            R.Reason = TJobText::StationOlderFile;
        } else {
            R.Event = TStationEvent::Uploading;
            R.Percent = 0;
            Report(R);
            int Shown = 0;
            const TUploadResult Upload =
                UploadFirmware(Line.XComm(), Image, [&](int Sent, int Fail, int Progress) {
                    if (Stopping) throw EStationStopped();
                    if (Progress == Shown) return;
                    Shown = Progress;
                    R.Percent = Progress, R.Sent = Sent, R.Fail = Fail;
                    Report(R);
                });
            R.Sent = Upload.Sent, R.Fail = Upload.Fail, R.Percent = Upload.Progress;
            if (Upload.Ok) {
                R.Event = TStationEvent::Done;
            } else if (Ending()) {
                R.Event = TStationEvent::Stopped;
                R.Reason = Stopping && !Interrupted()
                               ? TJobReason(TJobText::StationStopped)
                               : TJobReason(TJobText::UploadStopped,
                                            {EInterrupted(InterruptSignal()).what()});
            } else {
                R.Event = TStationEvent::Failed;
                R.Reason = Upload.Error.Empty() ? TJobReason(TJobText::UpdateFailed) : Upload.Error;
            }
        }
        Line.XComm().Close();
        R.RecordError = Record(R, Start, Clock.Now() - Began);
        Report(R);
        return R;
    }

    int LastBaudRate(const std::string &Port) const {
        const std::lock_guard Guard(Lock);
        const auto It = Ports.find(Port);
        return It == Ports.end() ? 0 : It->second.LastBaudRate;
    }

    // One port, until it goes away or the station stops.
    void Work(TWorker &W) {
        bool Resting = false;  // a result was reported; wait for the sensor to go
        std::optional<TJobReason> Problem;
        TStationReport R;
        R.Port = W.Port;
        R.Event = TStationEvent::Waiting;
        Report(R);
        do {
            try {
                TBootLine Line(MakeLine(W.Port), Settings.FWUpdSettings());
                // The next sensor on a port is most likely of the last one's
                // kind: its rate is tried first.
                Line.XComm().SetFirstBaud(LastBaudRate(W.Port));
                const TBootSensor Found = IdentifyBootSensor(Line);
                if (Found.PortError) {
                    if (W.Quit || Ending()) break;
                    const TJobReason Why =
                        AdvisePort(W.Port, PortProblemOf(*Found.PortError)).Reason;
                    if (Problem != Why) {
                        Problem = Why;
                        R = {};
                        R.Port = W.Port;
                        R.Event = TStationEvent::PortProblem;
                        R.Reason = Why;
                        Report(R);
                    }
                    continue;
                }
                if (Problem) {
                    Problem.reset();
                    if (!Found.Found) {
                        R = {};
                        R.Port = W.Port;
                        R.Event = TStationEvent::Waiting;
                        Report(R);
                    }
                }
                if (!Found.Found) {
                    if (Resting) {
                        Resting = false;
                        R = {};
                        R.Port = W.Port;
                        R.Event = TStationEvent::Waiting;
                        Report(R);
                    }
                    continue;
                }
                if (Resting || W.Quit || Ending()) continue;
                Update(Line, Found, W.Port);
                Resting = true;
            } catch (const EInterrupted &) {
                break;
            } catch (const std::exception &E) {
                // Nothing of ours raises here; a port that misbehaves is
                // looked at again after the interval.
                R = {};
                R.Port = W.Port;
                R.Event = TStationEvent::PortProblem;
                R.Reason = {TJobText::PortOther, {W.Port, E.what()}};
                Report(R);
            }
        } while (Pause(W));
        if (W.Quit && !Ending()) {
            R = {};
            R.Port = W.Port;
            R.Event = TStationEvent::Gone;
            Report(R);
        }
        W.Ended = true;
        Wake();
    }

    void StartWorker(const std::string &Port) {
        TWorker &W = Workers.emplace_back();
        W.Port = Port;
        W.Thread = std::thread([this, &W] { Work(W); });
    }

    // Workers of ports that went away are told to end; ended ones are joined.
    void Reap(const std::set<std::string> &Present) {
        for (TWorker &W : Workers)
            if (!Present.count(W.Port)) W.Quit = true;
        {
            const std::lock_guard Guard(Lock);
            Rest.notify_all();
        }
        for (auto It = Workers.begin(); It != Workers.end();) {
            if (It->Ended) {
                It->Thread.join();
                It = Workers.erase(It);
            } else {
                ++It;
            }
        }
    }

    void Run() {
        while (!Ending()) {
            std::set<std::string> Present;
            for (const std::string &P : List()) Present.insert(P);
            Reap(Present);
            for (const std::string &P : Present) {
                const bool Watched =
                    std::any_of(Workers.begin(), Workers.end(),
                                [&](const TWorker &W) { return W.Port == P && !W.Quit; });
                // A port back before its old worker ended gets its new one
                // once that has gone.
                const bool Leaving = std::any_of(Workers.begin(), Workers.end(),
                                                 [&](const TWorker &W) { return W.Port == P; });
                if (!Watched && !Leaving) StartWorker(P);
            }
            pollfd Fds[3] = {{WakeRead, POLLIN, 0},
                             {InterruptFd(), POLLIN, 0},
                             {Seams.HotPlug ? Seams.HotPlug->Fd() : -1, POLLIN, 0}};
            // An ending worker wakes the wait (Reap then joins it).
            const int N = ::poll(Fds, 3, Options.IntervalMs);
            if (N > 0 && (Fds[2].revents & POLLIN)) Seams.HotPlug->Drain();
            DrainWake();
        }
        Stopping = true;
        {
            const std::lock_guard Guard(Lock);
            Rest.notify_all();
        }
        for (TWorker &W : Workers) W.Thread.join();
        Workers.clear();
    }
};

TStationJob::TStationJob(const TFirmwareImage &Image, const TSettings &Settings,
                         TStationOptions Options, TOnReport OnReport, TStationSeams Seams)
    : F(std::make_unique<TImpl>(Image, Settings, std::move(Options), std::move(OnReport),
                                std::move(Seams))) {}

TStationJob::~TStationJob() = default;

void TStationJob::Run() {
    F->Run();
}

void TStationJob::Stop() {
    F->Stopping = true;
    {
        const std::lock_guard Guard(F->Lock);
        F->Rest.notify_all();
    }
    F->Wake();
}

void TStationJob::PortsChanged() {
    F->Wake();
}

TStationTotals TStationJob::Totals() const {
    const std::lock_guard Guard(F->Lock);
    return F->Totals;
}

std::vector<TStationPortSummary> TStationJob::Summary() const {
    const std::lock_guard Guard(F->Lock);
    std::vector<TStationPortSummary> Out;
    for (const auto &[Port, S] : F->Ports) Out.push_back(S);
    std::sort(Out.begin(), Out.end(),
              [](const auto &A, const auto &B) { return CompareNatural(A.Port, B.Port) < 0; });
    return Out;
}
