// The production station on the machine's own port list and hot-plug
// monitor (a fake sysfs and /dev): an adapter plugged in with a sensor in
// bootloader mode behind it is updated, pulling it out is seen as gone, and
// a second adapter plugged in later is updated too.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "MockBed.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "jobs/StationJob.h"
#include "settings/Settings.h"

namespace {

// A 16-byte-header file for sensor 17, version 1.5, with a small image.
std::string Cod17() {
    std::string f(16, '\0');
    const size_t Size = 200;
    for (int i = 0; i < 4; ++i) f[3 + i] = static_cast<char>(Size >> (8 * i));
    f[7] = 1, f[8] = 5, f[9] = 17;
    f[10] = 'A', f[11] = 'V', f[12] = 'R';
    unsigned Sum = 2;
    for (int i = 0; i < 15; ++i) Sum += static_cast<uint8_t>(f[i]);
    f[15] = static_cast<char>(Sum & 0xFF);
    for (size_t i = 0; i < Size; ++i) f += static_cast<char>(i * 7 + 3);
    return f;
}

// An adapter with a simulated sensor behind it.
struct TAdapter {
    TAdapter(TMockBed &Bed, TMockDevice D) : Dev(std::move(D)) {
        Sim = std::make_unique<TSimProcess>(std::vector<std::string>{
            "bootloader", "--sensor-id", "17", "--version", "1.4", "--quiet"});
        EXPECT_TRUE(Sim->Start());
        EXPECT_TRUE(Bed.Plug(Dev));
        Bridge = std::make_unique<TLineBridge>(Bed.FarEnd(Dev.DevNode), Sim->PtyPath());
    }
    TMockDevice Dev;
    std::unique_ptr<TSimProcess> Sim;
    std::unique_ptr<TLineBridge> Bridge;
};

}  // namespace

TEST(StationHotPlug, AdaptersPluggedInAreUpdatedAndPulledOutAreGone) {
    TMockBed Bed;
    TTempDir Dir;
    const TSettings Settings(Dir.Write("veldra.ini", "[SETTINGS]\nTIMEOUT=500\n"));
    const TFirmwareImage Image = LoadFirmwareImage(Dir.Write("fw.cod", Cod17()));
    ASSERT_TRUE(Image.Ok());

    std::mutex Lock;
    std::vector<TStationReport> Reports;
    auto Count = [&](const std::string &Port, TStationEvent E) {
        const std::lock_guard Guard(Lock);
        int N = 0;
        for (const TStationReport &R : Reports) N += R.Port == Port && R.Event == E;
        return N;
    };
    const std::unique_ptr<TPortEvents> HotPlug = MakeUdevPortEvents();
    ASSERT_NE(HotPlug, nullptr);
    TStationOptions Options;
    Options.IntervalMs = 30000;  // only the hot-plug notice can find the ports in time
    TStationSeams Seams;
    Seams.HotPlug = HotPlug.get();
    TStationJob Job(
        Image, Settings, Options,
        [&](const TStationReport &R) {
            const std::lock_guard Guard(Lock);
            Reports.push_back(R);
        },
        Seams);
    std::thread Runner([&] { Job.Run(); });

    auto First = std::make_unique<TAdapter>(Bed, FtdiAdapter(0, "1-1", "A50285BI"));
    EXPECT_TRUE(WaitFor([&] { return Count("/dev/ttyUSB0", TStationEvent::Done) == 1; }, 60000));
    First->Bridge->Stop();
    Bed.HangUp(First->Dev.DevNode);
    Bed.Unplug(First->Dev);
    EXPECT_TRUE(WaitFor([&] { return Count("/dev/ttyUSB0", TStationEvent::Gone) == 1; }, 60000));

    auto Second = std::make_unique<TAdapter>(Bed, Cp210xAdapter(1, "1-2", "0001"));
    EXPECT_TRUE(WaitFor([&] { return Count("/dev/ttyUSB1", TStationEvent::Done) == 1; }, 60000));
    Job.Stop();
    Runner.join();
    EXPECT_EQ(Job.Totals(), (TStationTotals{2, 0, 0, 0}));
}
