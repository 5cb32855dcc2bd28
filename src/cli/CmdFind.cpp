// find: the line search for devices whose address and line settings are not
// known.
#include <cctype>
#include <csignal>
#include <cstdio>

#include "cli/Commands.h"
#include "cli/PortCheck.h"
#include "jobs/FindJob.h"
#include "jobs/JobTexts.h"
#include "jobs/RegisterJob.h"
#include "serial/Interrupt.h"
#include "settings/Settings.h"

namespace {

// The items of a comma-separated list, blanks around each dropped.
std::vector<std::string> SplitList(const std::string &Text) {
    std::vector<std::string> Items;
    size_t Begin = 0;
    for (;;) {
        const size_t End = Text.find(',', Begin);
        Items.push_back(StripText(Text.substr(Begin, End - Begin)));
        if (End == std::string::npos) break;
        Begin = End + 1;
    }
    return Items;
}

std::string Lower(std::string S) {
    for (char &C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    return S;
}

std::vector<TBaudRate> BaudsOf(const std::string &Text) {
    std::vector<TBaudRate> Bauds;
    if (Text.empty()) return Bauds;
    for (const std::string &Item : SplitList(Text)) {
        const TBaudRate Rate = BaudRateFromText(Item);
        if (Item.empty() || Item != BaudRateText(Rate) || Rate == brCustom)
            throw EUsageError("--bauds: '" + Item + "' is not a bit rate");
        Bauds.push_back(Rate);
    }
    return Bauds;
}

std::vector<TParityBits> ParitiesOf(const std::string &Text) {
    std::vector<TParityBits> Parities;
    if (Text.empty()) return Parities;
    for (const std::string &Item : SplitList(Text)) {
        const std::string Name = Lower(Item);
        if (Name != "none" && Name != "even" && Name != "odd")
            throw EUsageError("--parities: '" + Item + "' is not none, even or odd");
        Parities.push_back(ParityFromText(Name));
    }
    return Parities;
}

nlohmann::json SettingJson(const TLineSetting &S) {
    return {{"baud", BaudRateToInt(S.Baud)},
            {"parity", ParityText(S.Parity)},
            {"stop_bits", StopBitsText(S.StopBits)}};
}

std::string Seconds(uint64_t Ms) {
    char Buf[32];
    if (Ms < 60000)
        std::snprintf(Buf, sizeof Buf, "%.1f s", static_cast<double>(Ms) / 1000.0);
    else
        std::snprintf(Buf, sizeof Buf, "%llu min %02llu s",
                      static_cast<unsigned long long>(Ms / 60000),
                      static_cast<unsigned long long>(Ms / 1000 % 60));
    return Buf;
}

// "19200 8E1 (2 of 18), address 57: 12.3 s, about 1 min 10 s left"
std::string StatusOf(const TFindStep &Step) {
    return LineSettingText(*Step.Setting) + " (" + std::to_string(Step.SettingIndex + 1) + " of " +
           std::to_string(Step.SettingCount) + "), address " + std::to_string(Step.Address) + ": " +
           Seconds(Step.ElapsedMs) + ", about " + Seconds(Step.RestMs) + " left";
}

// One row: address, baud, parity, stop bits, device code, version.
std::string RowOf(const TFindDevice &D) {
    return std::to_string(D.Device.Address) + "\t" + std::to_string(BaudRateToInt(D.Setting.Baud)) +
           "\t" + ParityText(D.Setting.Parity) + "\t" + StopBitsText(D.Setting.StopBits) + "\t" +
           D.Device.DeviceCode + "\t" + D.Device.Version;
}

nlohmann::json DeviceJson(const TFindDevice &D) {
    nlohmann::json J = SettingJson(D.Setting);
    J["address"] = D.Device.Address;
    J["identified"] = D.Device.Id.Identified;
    J["device_code"] = D.Device.DeviceCode;
    J["fw_version"] = D.Device.Version;
    if (D.Device.Id.SensorID >= 0) J["sensor_id"] = D.Device.Id.SensorID;
    if (D.Device.Id.VersionRegister >= 0) J["version_register"] = D.Device.Id.VersionRegister;
    return J;
}

// "Found 2 devices; 5 of 18 line settings searched, 1235 probes in 34.2 s"
std::string SummaryOf(const TFindResult &Found) {
    const size_t N = Found.Devices.size();
    return "Found " + std::to_string(N) + (N == 1 ? " device; " : " devices; ") +
           std::to_string(Found.SettingsTried) + " of " + std::to_string(Found.Plan.size()) +
           " line settings searched, " + std::to_string(Found.Probed) + " probes in " +
           Seconds(Found.ElapsedMs);
}

}  // namespace

int RunFind(TCliContext &Ctx, const TFindCliOptions &Opt) {
    if (Opt.First > Opt.Last) throw EUsageError("Invalid addresses");
    TFindOptions Job;
    Job.Port = Opt.Port;
    Job.Plan.Bauds = BaudsOf(Opt.Bauds);
    Job.Plan.Parities = ParitiesOf(Opt.Parities);
    Job.Plan.Preferred = CatalogueLineSettings(*Ctx.Settings);
    Job.First = Opt.First;
    Job.Last = Opt.Last;
    Job.ProbeTimeoutMs = Opt.ProbeTimeout;
    Job.All = Opt.All;

    TResult Result(Ctx, "find");
    Result["port"] = Opt.Port;
    Result["first"] = Opt.First;
    Result["last"] = Opt.Last;
    Result["probe_timeout_ms"] = Opt.ProbeTimeout;
    Result["all"] = Opt.All;
    Result["devices"] = nlohmann::json::array();

    // Ctrl+C (SIGTERM, SIGHUP) ends the search at once, keeping what was
    // found (serial/Interrupt.h).
    const TFindResult Found =
        RunFindJob(Job, *Ctx.Settings, InterruptRequested(), [&](const TFindStep &Step) {
            if (const TFindDevice *D = Step.Device) {
                Result.Text(RowOf(*D));
                Result["devices"].push_back(DeviceJson(*D));
            }
            Ctx.Console->SetStatus({StatusOf(Step)});
        });
    Ctx.Console->ClearStatus();
    if (!Found.Refused.Empty()) return Result.Fail(ExitPort, JobText(Found.Refused));
    if (Found.OpenFailed)
        return ReportPortProblem(Result, Opt.Port, PortProblemOf(*Found.PortError));

    nlohmann::json Tried = nlohmann::json::array();
    for (int I = 0; I < Found.SettingsTried; ++I) Tried.push_back(SettingJson(Found.Plan[I]));
    Result["settings"] = Tried;
    Result["settings_planned"] = Found.Plan.size();
    Result["probes"] = Found.Probed;
    Result["elapsed_ms"] = Found.ElapsedMs;
    Result["found"] = Found.Devices.size();
    Result.Text(SummaryOf(Found));
    if (Found.PortError)
        return ReportPortProblem(Result, Opt.Port, PortProblemOf(*Found.PortError));
    if (Found.Stopped) {
        Result["stopped"] = true;
        Result.ErrorText("Search stopped");
        return Result.Finish(InterruptExitCode(InterruptSignal() ? InterruptSignal() : SIGINT));
    }
    if (Found.Devices.empty()) return Result.Fail(ExitFailed, JobText(TJobText::FindNothing));
    return Result.Finish(ExitOk);
}
