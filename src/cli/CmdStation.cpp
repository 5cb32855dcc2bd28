// station: a production station that updates every sensor in bootloader mode
// that appears on the watched ports, until Ctrl+C.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "jobs/FirmwareJob.h"
#include "jobs/StationJob.h"
#include "jobs/UpdateRecord.h"
#include "serial/Interrupt.h"
#include "settings/Settings.h"

namespace {

// What the user sees of the station's reports: a live line per port and the
// totals on a terminal, else one line (or one JSON object) per event.
class TStationFace {
public:
    TStationFace(TCliContext &Ctx, const TCODFileData &Hdr)
        : FCtx(Ctx), FHdr(Hdr), FLive(Ctx.Console->ErrIsTerminal() && !Ctx.Json) {}
    ~TStationFace() {
        if (FLive) FCtx.Console->ClearStatus();
    }

    void Show(const TStationReport &R) {
        const std::lock_guard Guard(FLock);
        if (!R.RecordError.empty())
            FCtx.Console->Err("Warning: " + R.Port +
                              ": the update record could not be written: " + R.RecordError);
        const bool Result = IsResult(R.Event);
        // Uploads print a line per 10 % unless drawn live.
        const bool Step = R.Event != TStationEvent::Uploading || R.Percent % 10 == 0 ||
                          FLastDecade[R.Port] != R.Percent / 10;
        if (R.Event == TStationEvent::Uploading) FLastDecade[R.Port] = R.Percent / 10;
        if (FCtx.Json) {
            if (Step) FCtx.Console->Out(JsonText(EventJson(R)));
        } else if (!FLive ? Step : Result || R.Event == TStationEvent::Gone) {
            FCtx.Console->Out(VisibleText(R.TimeUtc + " " + R.Port + " " + EventText(R)));
        }
        if (!FLive) return;
        std::string &Line = FLines[R.Port];
        if (R.Event == TStationEvent::Waiting && !Line.empty() && !Line.starts_with("waiting")) {
            // The last result stays in view until the next sensor.
            const std::string Last = Line.substr(0, Line.find("  "));
            Line = IsResultText(Last) ? "waiting (last: " + Last + ")" : "waiting";
        } else {
            Line = EventText(R);
        }
        if (R.Event == TStationEvent::Gone) FLines.erase(R.Port);
        FTotals = R.Totals;
        Draw();
    }

private:
    static bool IsResult(TStationEvent E) {
        return E == TStationEvent::Done || E == TStationEvent::Failed ||
               E == TStationEvent::Skipped || E == TStationEvent::Stopped ||
               E == TStationEvent::PortProblem;
    }
    static bool IsResultText(const std::string &T) {
        return T.starts_with("done") || T.starts_with("failed") || T.starts_with("skipped") ||
               T.starts_with("stopped");
    }

    std::string SensorText(const TStationSensor &S) const {
        const TSettings &Set = *FCtx.Settings;
        return Set.SensorIDToName(S.SensorID) + " " +
               Set.SensorVersionToString(S.Version.Hi, S.Version.Lo) + ", " +
               std::to_string(S.BaudRate) + " baud";
    }

    std::string EventText(const TStationReport &R) const {
        std::string Text;
        switch (R.Event) {
            case TStationEvent::Uploading:
                Text = "uploading " + std::to_string(R.Percent) + " %";
                break;
            case TStationEvent::Done:
                Text = "done ok";
                break;
            case TStationEvent::Failed:
            case TStationEvent::Skipped:
            case TStationEvent::Stopped:
                Text = std::string(StationEventName(R.Event)) + ": " + JobText(R.Reason);
                break;
            case TStationEvent::PortProblem:
                Text = "port problem: " + JobText(R.Reason);
                break;
            default:
                Text = StationEventName(R.Event);
                break;
        }
        if (R.Sensor && R.Event != TStationEvent::Waiting && R.Event != TStationEvent::Gone)
            Text += "  (" + SensorText(*R.Sensor) + ")";
        return Text;
    }

    nlohmann::json EventJson(const TStationReport &R) const {
        const TSettings &Set = *FCtx.Settings;
        nlohmann::json J{
            {"time", R.TimeUtc}, {"port", R.Port}, {"event", StationEventName(R.Event)}};
        if (R.Event == TStationEvent::Uploading || IsResult(R.Event)) {
            J["percent"] = R.Percent;
            J["packets_sent"] = R.Sent;
            J["packets_failed"] = R.Fail;
        }
        if (R.Sensor) {
            J["sensor_id"] = R.Sensor->SensorID;
            J["sensor"] = Set.SensorIDToName(R.Sensor->SensorID);
            J["version"] = Set.SensorVersionToString(R.Sensor->Version.Hi, R.Sensor->Version.Lo);
            J["baud_rate"] = R.Sensor->BaudRate;
        }
        J["file_version"] = Set.SensorVersionToString(FHdr.Version.Hi, FHdr.Version.Lo);
        switch (R.Event) {
            case TStationEvent::Done:
                J["result"] = "ok";
                break;
            case TStationEvent::Failed:
            case TStationEvent::Skipped:
            case TStationEvent::Stopped:
                J["result"] = StationEventName(R.Event);
                break;
            default:
                break;
        }
        if (!R.Reason.Empty()) J["reason"] = JobText(R.Reason);
        if (!R.RecordError.empty()) J["record_error"] = R.RecordError;
        J["totals"] = TotalsJson(R.Totals);
        return J;
    }

    void Draw() {
        std::vector<std::string> Lines;
        size_t Width = 0;
        for (const auto &[Port, Text] : FLines) Width = std::max(Width, Port.size());
        for (const auto &[Port, Text] : FLines)
            Lines.push_back(Port + std::string(Width - Port.size() + 2, ' ') + Text);
        Lines.push_back(TotalsText(FTotals));
        FCtx.Console->SetStatus(Lines);
    }

    TCliContext &FCtx;
    const TCODFileData &FHdr;
    bool FLive;
    std::mutex FLock;
    std::map<std::string, std::string> FLines;
    std::map<std::string, int> FLastDecade;
    TStationTotals FTotals;

public:
    static std::string TotalsText(const TStationTotals &T) {
        std::string Text = "Totals: " + std::to_string(T.Ok) + " ok, " + std::to_string(T.Failed) +
                           " failed, " + std::to_string(T.Skipped) + " skipped";
        if (T.Stopped) Text += ", " + std::to_string(T.Stopped) + " stopped";
        return Text;
    }
    static nlohmann::json TotalsJson(const TStationTotals &T) {
        return {{"ok", T.Ok}, {"failed", T.Failed}, {"skipped", T.Skipped}, {"stopped", T.Stopped}};
    }
};

}  // namespace

int RunStation(TCliContext &Ctx, const TStationCliOptions &Opt) {
    if (Opt.Interval < 500 || Opt.Interval > 60000) throw EUsageError("--interval: 500..60000 ms");
    TResult Result(Ctx, "station");
    // Read once: every sensor gets exactly the bytes checked here.
    TFirmwareImage Image;
    if (!CheckFirmwareFile(Result, Opt.File, Image, true)) return Result.Finish(ExitFailed);

    TStationOptions Job;
    Job.Globs = Opt.Ports;
    Job.YesOlder = Opt.YesOlder;
    Job.IntervalMs = Opt.Interval;
    Job.FileName = Opt.File;
    Job.RecordsPath = RecordsPath(*Ctx.Settings, Opt.Records, Opt.NoRecord);

    const TSettings &Set = *Ctx.Settings;
    const TCODFileData &Hdr = Image.Hdr;
    std::string Ports;
    for (const std::string &G : Opt.Ports) Ports += (Ports.empty() ? "" : " ") + G;
    Ctx.Console->Err("Station: " + Opt.File + " (" + Set.SensorIDToName(Hdr.DeviceID) +
                     ", version " + Set.SensorVersionToString(Hdr.Version.Hi, Hdr.Version.Lo) +
                     ") on " + (Ports.empty() ? std::string("every serial port found") : Ports) +
                     "; Ctrl+C ends it");
    if (Job.RecordsPath.empty())
        Ctx.Console->Err("Records: none (--no-record)");
    else
        Ctx.Console->Err("Records: " + Job.RecordsPath);

    TStationSeams Seams;
    const std::unique_ptr<TPortEvents> HotPlug = MakeUdevPortEvents();
    Seams.HotPlug = HotPlug.get();
    TStationTotals Totals;
    std::vector<TStationPortSummary> Summary;
    {
        TStationFace Face(Ctx, Hdr);
        TStationJob Station(
            Image, Set, Job, [&](const TStationReport &R) { Face.Show(R); }, Seams);
        Station.Run();
        Totals = Station.Totals();
        Summary = Station.Summary();
    }

    // The summary: totals, then each port that saw a sensor or a problem.
    const int Signal = InterruptSignal();
    int Code = ExitOk;
    if (Totals.Stopped > 0 && Signal)
        Code = InterruptExitCode(Signal);
    else if (Totals.Failed > 0)
        Code = ExitFailed;
    nlohmann::json PortsJson = nlohmann::json::array();
    std::vector<std::string> Lines{
        (Signal ? "Station stopped by " + SignalName(Signal) : std::string("Station stopped")),
        TStationFace::TotalsText(Totals)};
    for (const TStationPortSummary &P : Summary) {
        Lines.push_back(P.Port + ": " + std::to_string(P.Ok) + " ok, " + std::to_string(P.Failed) +
                        " failed, " + std::to_string(P.Skipped) + " skipped" +
                        (P.Stopped ? ", " + std::to_string(P.Stopped) + " stopped" : ""));
        PortsJson.push_back({{"port", P.Port},
                             {"ok", P.Ok},
                             {"failed", P.Failed},
                             {"skipped", P.Skipped},
                             {"stopped", P.Stopped},
                             {"last", StationEventName(P.Last)}});
    }
    if (Ctx.Json) {
        nlohmann::json J{{"event", "summary"},
                         {"time", StationUtcNow()},
                         {"totals", TStationFace::TotalsJson(Totals)},
                         {"ports", PortsJson},
                         {"exit_code", Code}};
        if (Signal) J["interrupted"] = SignalName(Signal);
        Ctx.Console->Out(JsonText(J));
    } else {
        for (const std::string &L : Lines) Ctx.Console->Out(VisibleText(L));
    }
    return Code;
}
