// The production station against simulated sensors in bootloader mode on
// pseudo-terminals (veldra-sim bootloader): several at once, sensors that
// come and go through a port list the test controls, one that fails, one
// already current, and the rest of a port until its sensor has gone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "../bootloader/CodFixtures.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "jobs/Sha256.h"
#include "jobs/StationJob.h"
#include "jobs/UpdateRecord.h"
#include "settings/Settings.h"

namespace {

using namespace std::chrono_literals;

// Everything the station reported, and the port list it is shown.
class TStationBed {
public:
    explicit TStationBed(const std::string &Cod, TStationOptions Options = {},
                         TPortEvents *HotPlug = nullptr)
        : FSettings(FDir.Write("veldra.ini",
                               "[SETTINGS]\nMAX_RETRY=3\nMAX_FAILS=5\nTIMEOUT=500\n"
                               "[SENSORS]\n17=Probe Q\n")),
          FImage(LoadFirmwareImage(FDir.Write("fw.cod", Cod))) {
        Options.IntervalMs = Options.IntervalMs == 2000 ? 200 : Options.IntervalMs;
        Options.FileName = "fw.cod";
        TStationSeams Seams;
        Seams.ListPorts = [this] {
            const std::lock_guard Guard(FLock);
            return std::vector<std::string>(FPorts.begin(), FPorts.end());
        };
        Seams.HotPlug = HotPlug;
        FJob = std::make_unique<TStationJob>(
            FImage, FSettings, Options,
            [this](const TStationReport &R) {
                const std::lock_guard Guard(FLock);
                FReports.push_back(R);
                FChanged.notify_all();
            },
            Seams);
    }
    ~TStationBed() { Stop(); }

    // Hot-plug: the ports the station sees.
    void Plug(const std::string &Port) {
        const std::lock_guard Guard(FLock);
        FPorts.insert(Port);
    }
    void Unplug(const std::string &Port) {
        const std::lock_guard Guard(FLock);
        FPorts.erase(Port);
    }

    void Start() {
        FThread = std::thread([this] {
            FJob->Run();
            FEnded = true;
        });
    }
    void Stop() {
        if (!FThread.joinable()) return;
        FJob->Stop();
        FThread.join();
    }
    bool Ended() const { return FEnded; }
    TStationJob &Job() { return *FJob; }

    // Waits (generously) until Pred holds for the reports so far.
    template <typename P>
    bool WaitFor(P Pred, std::chrono::seconds Limit = 60s) {
        std::unique_lock Guard(FLock);
        return FChanged.wait_for(Guard, Limit, [&] { return Pred(FReports); });
    }
    // Events of Kind on Port so far.
    int Count(const std::string &Port, TStationEvent Kind) {
        const std::lock_guard Guard(FLock);
        return CountIn(FReports, Port, Kind);
    }
    static int CountIn(const std::vector<TStationReport> &Rs, const std::string &Port,
                       TStationEvent Kind) {
        int N = 0;
        for (const TStationReport &R : Rs) N += R.Port == Port && R.Event == Kind;
        return N;
    }
    std::vector<TStationReport> Reports() {
        const std::lock_guard Guard(FLock);
        return FReports;
    }
    // The last result event of Port.
    TStationReport LastResult(const std::string &Port) {
        const std::lock_guard Guard(FLock);
        for (auto It = FReports.rbegin(); It != FReports.rend(); ++It)
            if (It->Port == Port &&
                (It->Event == TStationEvent::Done || It->Event == TStationEvent::Failed ||
                 It->Event == TStationEvent::Skipped || It->Event == TStationEvent::Stopped))
                return *It;
        return {};
    }

private:
    TTempDir FDir;
    TSettings FSettings;
    TFirmwareImage FImage;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::set<std::string> FPorts;
    std::vector<TStationReport> FReports;
    std::unique_ptr<TStationJob> FJob;
    std::thread FThread;
    std::atomic<bool> FEnded{false};
};

std::unique_ptr<TSimProcess> Sim(std::vector<std::string> Args) {
    Args.insert(Args.begin(), {"bootloader", "--quiet"});
    auto S = std::make_unique<TSimProcess>(Args);
    EXPECT_TRUE(S->Start());
    return S;
}

// A 16-byte-header file for sensor 17, version 1.5.
std::string File15(size_t Size = 300) {
    return MakeCod16(17, 1, 5, "AVR", MakeImage(Size));
}

}  // namespace

// Four sensors at once: one updated, one current (skipped), one the file is
// not for (failed), one whose upload fails on the line; each result once,
// with the totals counting them.
TEST(StationJob, SeveralSensorsAtOnceEachWithItsResult) {
    auto Older = Sim({"--sensor-id", "17", "--version", "1.4"});
    auto Current = Sim({"--sensor-id", "17", "--version", "1.5", "--stay"});
    auto Other = Sim({"--sensor-id", "7", "--version", "1.0", "--stay"});
    auto Faulty = Sim({"--sensor-id", "17", "--version", "1.3", "--fail-packet", "2:10"});
    TTempDir Dir;
    TStationOptions Options;
    Options.RecordsPath = Dir.File("records/updates.jsonl");
    const std::string Cod = File15();
    TStationBed Bed(Cod, Options);
    for (auto *S : {Older.get(), Current.get(), Other.get(), Faulty.get()}) Bed.Plug(S->PtyPath());
    Bed.Start();
    ASSERT_TRUE(Bed.WaitFor([](const auto &Rs) {
        return !Rs.empty() &&
               Rs.back().Totals.Ok + Rs.back().Totals.Failed + Rs.back().Totals.Skipped >= 4;
    })) << "not every sensor got its result";
    Bed.Stop();

    struct {
        TSimProcess *Sim;
        TStationEvent Result;
        TJobReason Reason;
    } Cases[] = {
        {Older.get(), TStationEvent::Done, {}},
        {Current.get(), TStationEvent::Skipped, TJobText::StationSameVersion},
        {Other.get(), TStationEvent::Failed, TJobText::Mismatch},
        {Faulty.get(), TStationEvent::Failed, TJobText::UpdateFailed},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Sim->PtyPath());
        const TStationReport R = Bed.LastResult(C.Sim->PtyPath());
        EXPECT_EQ(R.Event, C.Result);
        EXPECT_EQ(R.Reason, C.Reason);
        ASSERT_TRUE(R.Sensor);
        EXPECT_EQ(R.Sensor->BaudRate, 19200);
    }
    EXPECT_EQ(Bed.Job().Totals(), (TStationTotals{1, 2, 1, 0}));
    EXPECT_EQ(Bed.LastResult(Older->PtyPath()).Percent, 100);
    // The upload reported its progress on the way.
    EXPECT_GE(Bed.Count(Older->PtyPath(), TStationEvent::Uploading), 2);
    EXPECT_EQ(Bed.Count(Current->PtyPath(), TStationEvent::Uploading), 0);
    for (const TStationPortSummary &P : Bed.Job().Summary())
        EXPECT_EQ(P.LastBaudRate, 19200) << P.Port;

    // Every result is on file, with the file's identity and the sensor's.
    const TRecordsRead Read = ReadUpdateRecords(Options.RecordsPath);
    ASSERT_EQ(Read.Records.size(), 4u);
    EXPECT_EQ(Read.Damaged, 0);
    std::map<std::string, TUpdateRecord> ByPort;
    for (const TUpdateRecord &R : Read.Records) ByPort[R.Port] = R;
    const struct {
        TSimProcess *Sim;
        const char *Result;
        uint16_t ID;
        const char *Before;
    } Records[] = {{Older.get(), "ok", 17, "1.04"},
                   {Current.get(), "skipped", 17, "1.05"},
                   {Other.get(), "failed", 7, "1.00"},
                   {Faulty.get(), "failed", 17, "1.03"}};
    for (const auto &C : Records) {
        SCOPED_TRACE(C.Sim->PtyPath());
        const TUpdateRecord &R = ByPort[C.Sim->PtyPath()];
        EXPECT_EQ(R.Source, "station");
        EXPECT_EQ(R.Result, C.Result);
        EXPECT_EQ(R.SensorID, C.ID);
        EXPECT_EQ(R.VersionBefore, C.Before);
        EXPECT_EQ(R.VersionInFile, "1.05");
        EXPECT_EQ(R.FileName, "fw.cod");
        EXPECT_EQ(R.FileSha256, Sha256Hex(Cod.data(), Cod.size()));
        EXPECT_FALSE(R.User.empty());
        EXPECT_FALSE(R.ProgramVersion.empty());
    }
    EXPECT_EQ(ByPort[Older->PtyPath()].SensorName, "Probe Q");
}

// A file older than the sensor is uploaded only when allowed.
TEST(StationJob, OlderFileIsSkippedUnlessAllowed) {
    for (const bool Allowed : {false, true}) {
        SCOPED_TRACE(Allowed ? "--yes-older" : "default");
        auto Newer = Sim({"--sensor-id", "17", "--version", "2.0"});
        TStationOptions Options;
        Options.YesOlder = Allowed;
        TStationBed Bed(File15(), Options);
        Bed.Plug(Newer->PtyPath());
        Bed.Start();
        ASSERT_TRUE(Bed.WaitFor([](const auto &Rs) {
            return !Rs.empty() && Rs.back().Totals.Ok + Rs.back().Totals.Skipped >= 1;
        }));
        Bed.Stop();
        const TStationReport R = Bed.LastResult(Newer->PtyPath());
        EXPECT_EQ(R.Event, Allowed ? TStationEvent::Done : TStationEvent::Skipped);
        EXPECT_EQ(R.Reason, Allowed ? TJobReason() : TJobReason(TJobText::StationOlderFile));
    }
}

// A sensor that stays in bootloader mode after its result is not taken again:
// many looks later it is still skipped once. Unplugged and plugged in again,
// it is a new sensor.
TEST(StationJob, NoSecondResultUntilTheSensorHasGone) {
    auto Current = Sim({"--sensor-id", "17", "--version", "1.5", "--stay"});
    const std::string Port = Current->PtyPath();
    TStationBed Bed(File15());
    Bed.Plug(Port);
    Bed.Start();
    ASSERT_TRUE(Bed.WaitFor(
        [&](const auto &Rs) { return TStationBed::CountIn(Rs, Port, TStationEvent::Skipped); }));
    // At 200 ms a look, a few seconds are many looks.
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(Bed.Count(Port, TStationEvent::Skipped), 1);
    EXPECT_EQ(Bed.Count(Port, TStationEvent::Identifying), 1);

    Bed.Unplug(Port);
    ASSERT_TRUE(Bed.WaitFor(
        [&](const auto &Rs) { return TStationBed::CountIn(Rs, Port, TStationEvent::Gone) == 1; }));
    Bed.Plug(Port);
    ASSERT_TRUE(Bed.WaitFor([&](const auto &Rs) {
        return TStationBed::CountIn(Rs, Port, TStationEvent::Skipped) == 2;
    }));
    Bed.Stop();
    EXPECT_EQ(Bed.Job().Totals(), (TStationTotals{0, 0, 2, 0}));
}

// Sensors on a tray: the first leaves bootloader mode once updated (the port
// is then seen without a sensor), the next one is plugged in on the same port
// and is updated too.
TEST(StationJob, NextSensorOnTheSamePortIsUpdatedAfterTheFirstHasGone) {
    TTempDir Dir;
    const std::string Port = Dir.File("ttyTray");
    auto First = Sim({"--sensor-id", "17", "--version", "1.4", "--link", Port});
    TStationBed Bed(File15());
    Bed.Plug(Port);
    Bed.Start();
    ASSERT_TRUE(Bed.WaitFor(
        [&](const auto &Rs) { return TStationBed::CountIn(Rs, Port, TStationEvent::Done) == 1; }));
    // Seen without a sensor: the first one runs its new firmware.
    ASSERT_TRUE(Bed.WaitFor([&](const auto &Rs) {
        return !Rs.empty() && Rs.back().Port == Port && Rs.back().Event == TStationEvent::Waiting;
    }));
    First->Stop();
    auto Second = Sim({"--sensor-id", "17", "--version", "1.3", "--link", Port});
    ASSERT_TRUE(Bed.WaitFor(
        [&](const auto &Rs) { return TStationBed::CountIn(Rs, Port, TStationEvent::Done) == 2; }));
    Bed.Stop();
    EXPECT_EQ(Bed.Job().Totals(), (TStationTotals{2, 0, 0, 0}));
    EXPECT_EQ(Bed.LastResult(Port).Sensor->Version, (TSensorVersion{1, 3}));
}

// A sensor unplugged in the middle of its upload fails with what the port
// said; the port then goes from the list.
TEST(StationJob, PortGoneMidUploadFailsWithThePortsReason) {
    auto Unplugged = Sim({"--sensor-id", "17", "--version", "1.4", "--hangup-after", "2"});
    const std::string Port = Unplugged->PtyPath();
    TStationBed Bed(File15(2000));
    Bed.Plug(Port);
    Bed.Start();
    ASSERT_TRUE(Bed.WaitFor(
        [&](const auto &Rs) { return TStationBed::CountIn(Rs, Port, TStationEvent::Failed); }));
    const TStationReport R = Bed.LastResult(Port);
    EXPECT_EQ(R.Reason.Text, TJobText::UploadStopped) << JobText(R.Reason);
    EXPECT_LT(R.Percent, 100);
    Unplugged->Stop();
    Bed.Unplug(Port);
    ASSERT_TRUE(Bed.WaitFor(
        [&](const auto &Rs) { return TStationBed::CountIn(Rs, Port, TStationEvent::Gone); }));
    Bed.Stop();
    EXPECT_EQ(Bed.Job().Totals(), (TStationTotals{0, 1, 0, 0}));
}

// Stop in the middle of an upload: it ends at the next packet as stopped
// (neither done nor failed), and Run returns.
TEST(StationJob, StopEndsAnUploadAsStopped) {
    // Paced at 19200 baud: 20 kB take about ten seconds.
    auto Slow = Sim({"--sensor-id", "17", "--version", "1.4", "--pace"});
    const std::string Port = Slow->PtyPath();
    TStationBed Bed(File15(20000));
    Bed.Plug(Port);
    Bed.Start();
    ASSERT_TRUE(Bed.WaitFor([&](const auto &Rs) {
        for (const TStationReport &R : Rs)
            if (R.Event == TStationEvent::Uploading && R.Percent >= 5) return true;
        return false;
    }));
    const auto Asked = std::chrono::steady_clock::now();
    Bed.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - Asked, 20s);
    EXPECT_TRUE(Bed.Ended());
    const TStationReport R = Bed.LastResult(Port);
    EXPECT_EQ(R.Event, TStationEvent::Stopped);
    EXPECT_EQ(R.Reason, TJobReason(TJobText::StationStopped));
    EXPECT_LT(R.Percent, 100);
    EXPECT_EQ(Bed.Job().Totals(), (TStationTotals{0, 0, 0, 1}));
}

// A hot-plug notice makes the station read its list at once, not at the next
// interval.
TEST(StationJob, HotPlugNoticeListsThePortsAtOnce) {
    class TPipeEvents : public TPortEvents {
    public:
        TPipeEvents() { EXPECT_EQ(::pipe2(FFds, O_NONBLOCK | O_CLOEXEC), 0); }
        ~TPipeEvents() override {
            ::close(FFds[0]);
            ::close(FFds[1]);
        }
        int Fd() const override { return FFds[0]; }
        bool Drain() override {
            char B[16];
            while (::read(FFds[0], B, sizeof B) > 0) ++Drained;
            return true;
        }
        void Notify() { EXPECT_EQ(::write(FFds[1], "a", 1), 1); }
        std::atomic<int> Drained{0};

    private:
        int FFds[2] = {-1, -1};
    } Events;
    auto Sensor = Sim({"--sensor-id", "17", "--version", "1.5", "--stay"});
    TStationOptions Options;
    Options.IntervalMs = 60000;  // the periodic look would come far too late
    TStationBed Bed(File15(), Options, &Events);
    Bed.Start();
    ASSERT_TRUE(Bed.WaitFor([](const auto &Rs) { return !Rs.empty(); }, 1s) == false)
        << "reported a port before any was there";
    Bed.Plug(Sensor->PtyPath());
    Events.Notify();
    ASSERT_TRUE(Bed.WaitFor(
        [&](const auto &Rs) {
            return TStationBed::CountIn(Rs, Sensor->PtyPath(), TStationEvent::Skipped) == 1;
        },
        30s));
    EXPECT_GE(Events.Drained, 1);
    Bed.Stop();
}

// The globs name existing paths, each once, in natural order; a name
// without a slash is under /dev.
TEST(StationJob, ListStationPortsExpandsGlobs) {
    TTempDir Dir;
    for (const char *N : {"ttyX10", "ttyX2", "ttyX1", "other"}) Dir.Write(N, "");
    const std::vector<std::string> Ports =
        ListStationPorts({Dir.Path() + "/ttyX*", Dir.Path() + "/ttyX1", Dir.Path() + "/none*"});
    EXPECT_EQ(Ports,
              (std::vector<std::string>{Dir.File("ttyX1"), Dir.File("ttyX2"), Dir.File("ttyX10")}));
    EXPECT_EQ(ListStationPorts({"null"}), std::vector<std::string>{"/dev/null"});
}
