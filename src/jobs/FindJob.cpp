#include "jobs/FindJob.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>

#include "serial/Interrupt.h"
#include "settings/Settings.h"

namespace {

// A Modbus RTU probe: the request (address, function, register, count,
// CRC) and the answer it waits for at most (address, function, byte count,
// one register, CRC).
constexpr int CProbeRequestBytes = 8;
constexpr int CProbeAnswerBytes = 7;

template <typename T, size_t N>
std::vector<T> OrDefault(const std::vector<T> &Given, const std::array<T, N> &Default) {
    return Given.empty() ? std::vector<T>(Default.begin(), Default.end()) : Given;
}

template <typename T>
bool Has(const std::vector<T> &List, const T &Item) {
    return std::find(List.begin(), List.end(), Item) != List.end();
}

char ParityLetter(TParityBits P) {
    switch (P) {
        case prOdd:
            return 'O';
        case prEven:
            return 'E';
        case prMark:
            return 'M';
        case prSpace:
            return 'S';
        default:
            return 'N';
    }
}

TPortParams ParamsOf(const TLineSetting &S, int TimeoutMs) {
    TPortParams P;
    P.BaudRate = S.Baud;
    P.ParityBits = S.Parity;
    P.StopBits = S.StopBits;
    P.Timeout = TimeoutMs;
    return P;
}

// The reason a port cannot be searched, before anything is sent.
TJobReason Unsearchable(const TLineAddress &Address) {
    const bool Raw =
        Address.Kind == TLineKind::SerialServer && Address.Server.Kind == TNetLink::TKind::Raw;
    if (Raw || Address.Kind == TLineKind::ModbusGateway)
        return {TJobText::FindNotOurLine, {Address.Port}};
    return {};
}

// Estimated time left: the floors of the probes to come, scaled by how the
// probes so far compared with their floors.
uint64_t RestEstimate(double FloorsDone, double FloorsLeft, uint64_t ElapsedMs) {
    if (FloorsDone <= 0) return static_cast<uint64_t>(FloorsLeft);
    return static_cast<uint64_t>(FloorsLeft * (static_cast<double>(ElapsedMs) / FloorsDone));
}

}  // namespace

std::string LineSettingText(const TLineSetting &S) {
    return std::to_string(BaudRateToInt(S.Baud)) + " 8" + ParityLetter(S.Parity) +
           (S.StopBits == sbTwoStopBits ? "2" : "1");
}

std::optional<TLineSetting> LineSettingFromText(const std::string &Text) {
    const size_t Blank = Text.find(' ');
    if (Blank == std::string::npos) return std::nullopt;
    const std::string Rate = Text.substr(0, Blank);
    const std::string Framing = Text.substr(Blank + 1);
    TLineSetting S;
    S.Baud = BaudRateFromText(Rate);
    if (S.Baud == brCustom || Rate != BaudRateText(S.Baud)) return std::nullopt;
    if (Framing.size() != 3 || Framing[0] != '8') return std::nullopt;
    switch (std::toupper(static_cast<unsigned char>(Framing[1]))) {
        case 'N':
            S.Parity = prNone;
            break;
        case 'E':
            S.Parity = prEven;
            break;
        case 'O':
            S.Parity = prOdd;
            break;
        default:
            return std::nullopt;
    }
    if (Framing[2] != '1' && Framing[2] != '2') return std::nullopt;
    S.StopBits = Framing[2] == '2' ? sbTwoStopBits : sbOneStopBit;
    return S;
}

std::vector<TLineSetting> CatalogueLineSettings(const TSettings &Catalogue) {
    std::vector<TLineSetting> Settings;
    for (const TSensorComm &Kind : Catalogue.SensorComms())
        if (const auto S = LineSettingFromText(Kind.Line); S && !Has(Settings, *S))
            Settings.push_back(*S);
    return Settings;
}

std::vector<TLineSetting> FindPlan(const TFindPlanOptions &Options) {
    const std::vector<TBaudRate> Bauds = OrDefault(Options.Bauds, FindBauds);
    const std::vector<TParityBits> Parities = OrDefault(Options.Parities, FindParities);
    std::vector<TLineSetting> Plan;
    auto Add = [&](TLineSetting S) {
        S.StopBits = sbOneStopBit;
        if (Has(Bauds, S.Baud) && Has(Parities, S.Parity) && !Has(Plan, S)) Plan.push_back(S);
    };
    for (const TLineSetting &S : Options.Preferred) Add(S);
    for (TBaudRate B : Bauds)
        for (TParityBits P : Parities) Add({B, P, sbOneStopBit});
    return Plan;
}

int CharBits(const TLineSetting &S) {
    return 1 + 8 + (S.Parity == prNone ? 0 : 1) + (S.StopBits == sbTwoStopBits ? 2 : 1);
}

double WireMs(const TLineSetting &S, int Bytes) {
    const int Rate = std::max(BaudRateToInt(S.Baud), 1);
    return 1000.0 * Bytes * CharBits(S) / Rate;
}

double ProbeFloorMs(const TLineSetting &S, int TimeoutMs) {
    return WireMs(S, CProbeRequestBytes) + TimeoutMs;
}

int ProbeTimeoutFor(const TLineSetting &S, int TimeoutMs, bool Remote) {
    if (!Remote) return TimeoutMs;
    return TimeoutMs +
           static_cast<int>(std::ceil(WireMs(S, CProbeRequestBytes + CProbeAnswerBytes)));
}

namespace {

// One search under way: the line, the plan's time budget and the result
// being filled in.
class TFindRun {
public:
    TFindRun(const TFindOptions &Options, const TSettings &Catalogue, const std::atomic<bool> &Stop,
             const TFindReport &OnStep, TModbusLine &Line, TFindResult &Result)
        : FOptions(Options),
          FCatalogue(Catalogue),
          FStop(Stop),
          FOnStep(OnStep),
          FLine(Line),
          FMaster(Line.Master()),
          FClock(Line.Clock()),
          FResult(Result),
          FStart(FClock.Now()),
          FRemote(Line.Address().IsNetwork()),
          FTimeout(
              std::clamp(Options.ProbeTimeoutMs, CFindMinProbeTimeoutMs, CFindMaxProbeTimeoutMs)),
          FRange(Options.Last - Options.First + 1),
          FCount(static_cast<int>(Result.Plan.size())) {
        for (const TLineSetting &S : Result.Plan) FFloorsLeft += FRange * ProbeFloorMs(S, FTimeout);
    }

    // Every setting of the plan until one answered (or to the end with
    // All), or until the port fails to take one.
    void Run() {
        for (int I = 0; I < FCount && !FStop; ++I) {
            const int Found = SearchSetting(I);
            if (Found < 0 || (Found > 0 && !FOptions.All)) break;
        }
    }
    uint64_t Elapsed() const { return FClock.Now() - FStart; }

private:
    // Setting I over the whole range: how many answered, -1 when the port
    // would not take it.
    int SearchSetting(int I) {
        const TLineSetting &S = FResult.Plan[I];
        const TPortParams Probe = ParamsOf(S, ProbeTimeoutFor(S, FTimeout, FRemote));
        // Opened once, then switched in place: the port stays ours from the
        // first setting to the last.
        if (!(I == 0 ? FLine.Open(Probe) : FMaster.ChangeSettings(Probe))) {
            FResult.PortError =
                FMaster.OpenError() ? *FMaster.OpenError() : EComPort(CError_OpenFailed);
            FResult.OpenFailed = I == 0;
            return -1;
        }
        // A USB adapter may deliver a few bytes of garbage right after its
        // rate changes (the receiver resynchronising on a line that was
        // mid-character); they must not count as an answer.
        FMaster.Link().Clear();
        ++FResult.SettingsTried;
        int Found = 0;
        for (int A = FOptions.First; A <= FOptions.Last && !FStop; ++A) {
            const TFindDevice *Device = ProbeAddress(S, Probe, A);
            if (Device) ++Found;
            Report(I, A, Device);
        }
        return Found;
    }

    // The scan's probe at address A; the device found there, identified
    // and named, or nullptr.
    const TFindDevice *ProbeAddress(const TLineSetting &S, const TPortParams &Probe, int A) {
        const auto Addr = static_cast<uint8_t>(A);
        const bool Answered = FMaster.Scan(Addr, ScanProbeReg);
        ++FResult.Probed;
        const double Floor = ProbeFloorMs(S, FTimeout);
        FFloorsDone += Floor;
        FFloorsLeft -= Floor;
        if (!Answered) return nullptr;
        TFindDevice Found;
        Found.Setting = S;
        Found.Device.Address = A;
        // Identified at a time-out fit for longer answers, then back to the
        // probe's.
        FMaster.ChangeSettings(ParamsOf(S, std::max(Probe.Timeout, CFindIdentifyTimeoutMs)));
        Found.Device.Id = ReadSensorIdentity(FMaster, Addr);
        NameSensor(Found.Device.Id, FCatalogue, Found.Device.DeviceCode, Found.Device.Version);
        FMaster.ChangeSettings(Probe);
        FResult.Devices.push_back(std::move(Found));
        return &FResult.Devices.back();
    }

    void Report(int I, int A, const TFindDevice *Device) const {
        if (!FOnStep) return;
        TFindStep Step;
        Step.Setting = &FResult.Plan[I];
        Step.SettingIndex = I;
        Step.SettingCount = FCount;
        Step.Address = A;
        Step.Probed = FResult.Probed;
        Step.Total = static_cast<long>(FCount) * FRange;
        Step.Found = static_cast<int>(FResult.Devices.size());
        Step.Percent = static_cast<int>(Step.Probed * 100 / Step.Total);
        Step.ElapsedMs = Elapsed();
        Step.RestMs = RestEstimate(FFloorsDone, FFloorsLeft, Step.ElapsedMs);
        Step.Device = Device;
        FOnStep(Step);
    }

    const TFindOptions &FOptions;
    const TSettings &FCatalogue;
    const std::atomic<bool> &FStop;
    const TFindReport &FOnStep;
    TModbusLine &FLine;
    TModbusRTU &FMaster;
    TClock &FClock;
    TFindResult &FResult;
    const uint64_t FStart;
    const bool FRemote;
    const int FTimeout;
    const int FRange;
    const int FCount;
    double FFloorsLeft = 0, FFloorsDone = 0;  // the probes' floors, for the estimate
};

}  // namespace

TFindResult RunFindJob(const TFindOptions &Options, const TSettings &Catalogue,
                       const std::atomic<bool> &Stop, const TFindReport &OnStep,
                       const TLineMaker &Make) {
    TFindResult Result;
    Result.Plan = FindPlan(Options.Plan);
    TModbusLine Line(Make(Options.Port));
    Result.Refused = Unsearchable(Line.Address());
    if (!Result.Refused.Empty() || Result.Plan.empty() || Options.First > Options.Last)
        return Result;
    TFindRun Run(Options, Catalogue, Stop, OnStep, Line, Result);
    try {
        Run.Run();
    } catch (const EComPort &E) {
        Result.PortError = E;
    } catch (const EInterrupted &) {
        // A signal asked the program to stop: what was found stays.
        Result.Stopped = true;
    }
    // The line closes with the master as Line goes (a failing close is
    // swallowed there).
    Result.Stopped = Result.Stopped || Stop;
    Result.ElapsedMs = Run.Elapsed();
    return Result;
}
