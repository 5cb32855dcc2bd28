// Uploads through a simulated bootloader that misbehaves at random. Seeded:
// a failure names its seed and replays exactly.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>

#include "PortXComm.h"
#include "SimBootLine.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "bootloader/XComm.h"

namespace {

struct TOutcome {
    bool Verdict = false;
    bool Raised = false;
    uint64_t Elapsed = 0;
    uint64_t Bound = 0;
    int MaxRetry = 0, MaxFails = 0;
    int LastFails = 0;
};

std::string Describe(uint32_t Seed, const TBootFaults &F, bool Esp32, size_t Size) {
    std::ostringstream s;
    s << "seed " << Seed << (Esp32 ? " ESP32 " : " 8-byte ") << Size << " bytes; lost " << F.Lost
      << " corrupt " << F.Corrupt << " late " << F.Late << " noise " << F.Noise << " wrong "
      << F.WrongNumber << " hang-up " << F.HangUp << (F.StayInBootloader ? " stays" : "");
    return s.str();
}

}  // namespace

TEST(UploadFaults, VerdictMatchesWhatTheSensorHolds) {
    TTempDir Dir;
    int Successes = 0, Failures = 0;
    for (uint32_t Seed = 1; Seed <= 200; ++Seed) {
        std::mt19937 Rng(Seed);
        auto Pick = [&](double Max) { return std::uniform_real_distribution<double>(0, Max)(Rng); };
        const bool Esp32 = Rng() % 3 == 0;
        const size_t Packet = Esp32 ? 240 : 8;
        const size_t Header = Esp32 ? 32 : 16;
        // Some sizes fill the last packet exactly.
        size_t Size = Header + Rng() % (Esp32 ? 3000 : 200);
        if (Rng() % 4 == 0) Size = (Size / Packet + 1) * Packet;
        TBootFaults F;
        // Every tenth upload runs on a clean line: it must succeed.
        const bool Clean = Seed % 10 == 0;
        if (!Clean) {
            F.Lost = Pick(0.25);
            F.Corrupt = Pick(0.2);
            F.Late = Pick(0.2);
            F.Noise = Pick(0.3);
            F.WrongNumber = Rng() % 4 == 0 ? Pick(0.05) : 0;
            F.HangUp = Rng() % 8 == 0 ? Pick(0.03) : 0;
            F.StayInBootloader = Rng() % 6 == 0;
            // Runs of spoiled replies stay shorter than the fewest attempts
            // a packet gets (MaxRetry is at least 3).
            F.MaxBurst = 2;
        }
        const uint16_t Id = static_cast<uint16_t>(1 + Rng() % 250);
        const std::vector<uint8_t> Image = MakeCodImage(Esp32, Id, Size, Seed);
        const std::string Path = Dir.Write("fw" + std::to_string(Seed) + ".cod",
                                           std::string(Image.begin(), Image.end()));
        SCOPED_TRACE(Describe(Seed, F, Esp32, Size));

        TCODFileData Hdr;
        ASSERT_TRUE(ValidateFile(Path, Hdr));
        // Identification runs on a clean line; the faults start with the upload.
        const uint32_t Timeout = 500 + Rng() % 2500;
        auto Own = std::make_unique<TSimBootLine>(Image, Id, Seed, TBootFaults{}, Timeout);
        TSimBootLine *Line = Own.get();
        TXComm X(*Own);
        X.SetClock(*Line);
        X.SetMaxRetry(static_cast<int>(Rng() % 8));
        X.SetMaxFails(static_cast<int>(Rng() % 20));
        X.SetDefTimeout(Timeout);
        ASSERT_TRUE(X.Open("sim"));
        ASSERT_EQ(X.SensorID(), Id);

        Line->SetFaults(F);
        TOutcome O;
        O.MaxRetry = X.MaxRetry();
        O.MaxFails = X.MaxFails();
        const uint64_t Packets = (Size + Packet - 1) / Packet;
        // Every attempt lasts at most a late reply's delay (up to twice the
        // time-out) plus the time-out after its last byte; start packet and
        // final identification included.
        const uint64_t Attempts =
            2 + std::min<uint64_t>(Packets * static_cast<uint64_t>(O.MaxRetry),
                                   Packets + static_cast<uint64_t>(O.MaxFails));
        O.Bound = Attempts * 3 * std::max<uint64_t>(Timeout, Esp32 ? CESP32SlowTimeout : 0) +
                  CRebootPause;
        const uint64_t Start = Line->Now();
        try {
            O.Verdict = X.UploadFile(Path, Hdr, [&](int, int Fails, int) { O.LastFails = Fails; });
        } catch (const EComPort &E) {
            O.Raised = true;
            EXPECT_EQ(E.Code(), CError_Disconnected);
        }
        O.Elapsed = Line->Now() - Start;

        // Success only when the sensor holds the whole image and has left
        // bootloader mode; a failure may be reported for a sensor that
        // finished, never the other way round.
        if (O.Verdict) {
            EXPECT_TRUE(Line->HoldsWholeImage());
            EXPECT_FALSE(Line->InBootloader());
            ++Successes;
        } else {
            ++Failures;
        }
        if (Clean) {
            EXPECT_TRUE(O.Verdict);
        }
        if (F.StayInBootloader) {
            EXPECT_FALSE(O.Verdict);
        }
        // Nothing but the file's own bytes reach the sensor.
        EXPECT_TRUE(Line->StoredIsPrefix());
        // The limits hold: no packet more often than MaxRetry, no more
        // failed attempts than MaxFails.
        for (const auto &[No, Count] : Line->Transmissions()) {
            if (No != 0) {
                EXPECT_LE(Count, O.MaxRetry) << "packet " << No;
            }
        }
        EXPECT_LE(O.LastFails, O.MaxFails);
        EXPECT_LE(O.Elapsed, O.Bound);
    }
    // The mix must exercise both outcomes to mean anything.
    EXPECT_GT(Successes, 20);
    EXPECT_GT(Failures, 20);
}

// After the completion acknowledgement the sensor is asked whether it is
// still in bootloader mode. One lost answer must not turn a sensor that
// stayed there into a success.
TEST(UploadFaults, FinalIdentificationSurvivesLostAnswers) {
    struct TCase {
        bool Stays;
        int Lost;
        bool Success;
    };
    const TCase Cases[] = {
        {false, 0, true},
        {true, 0, false},
        {true, 1, false},
        {true, 2, false},
    };
    TTempDir Dir;
    const std::vector<uint8_t> Image = MakeCodImage(false, 9, 16 + 40, 5);
    const std::string Path = Dir.Write("fw.cod", std::string(Image.begin(), Image.end()));
    TCODFileData Hdr;
    ASSERT_TRUE(ValidateFile(Path, Hdr));
    for (const TCase &C : Cases) {
        SCOPED_TRACE(testing::Message() << "stays " << C.Stays << ", lost " << C.Lost);
        TBootFaults F;
        F.StayInBootloader = C.Stays;
        F.LoseIdentAfterComplete = C.Lost;
        auto Own = std::make_unique<TSimBootLine>(Image, 9, 1, F, 1000);
        TSimBootLine *Line = Own.get();
        TXComm X(*Own);
        X.SetClock(*Line);
        ASSERT_TRUE(X.Open("sim"));
        EXPECT_EQ(X.UploadFile(Path, Hdr, nullptr), C.Success);
        EXPECT_TRUE(Line->HoldsWholeImage());
    }
}

// A handful through the real simulator over a pseudo-terminal, on the real
// clock: the simulator reports what it received and whether it left
// bootloader mode; a success must agree with it.
TEST(UploadFaults, ThroughTheSimulatorVerdictAgrees) {
    struct TCase {
        const char *Name;
        bool Esp32;
        std::vector<std::string> Args;
        int Expect;  // 1 success, 0 failure, -1 either
    };
    const TCase Cases[] = {
        {"clean", false, {}, 1},
        {"clean ESP32", true, {}, 1},
        {"lossy",
         false,
         {"--lose-ack", "0.2", "--corrupt-ack", "0.1", "--noise", "0.3", "--seed", "4"},
         -1},
        {"lossy ESP32", true, {"--lose-ack", "0.2", "--noise", "0.3", "--seed", "5"}, -1},
        {"wrong numbers", false, {"--wrong-ack", "0.5", "--seed", "6"}, 0},
        {"stays", false, {"--stay"}, 0},
        {"unplugged", false, {"--hangup-after", "3"}, 0},
    };
    TTempDir Dir;
    for (const TCase &C : Cases) {
        SCOPED_TRACE(C.Name);
        const uint16_t Id = C.Esp32 ? 300 : 9;
        const std::vector<uint8_t> Image =
            MakeCodImage(C.Esp32, Id, C.Esp32 ? 32 + 1000 : 16 + 100, 3);
        const std::string Path = Dir.Write("fw.cod", std::string(Image.begin(), Image.end()));
        std::vector<std::string> Args = {"bootloader", "--sensor-id", std::to_string(Id),
                                         "--expect",   Path,          "--quiet"};
        if (C.Esp32) Args.insert(Args.end(), {"--baud", "57600", "--id16"});
        Args.insert(Args.end(), C.Args.begin(), C.Args.end());
        TSimProcess Sim(Args);
        ASSERT_TRUE(Sim.Start());
        TCODFileData Hdr;
        ASSERT_TRUE(ValidateFile(Path, Hdr));
        TPortXComm X;
        X.SetDefTimeout(500);
        ASSERT_TRUE(X.Open(Sim.PtyPath()));
        bool Verdict = false;
        try {
            Verdict = X.UploadFile(Path, Hdr, nullptr);
        } catch (const EComPort &E) {
            EXPECT_EQ(E.Code(), CError_Disconnected);
        }
        bool Match = false, Left = false;
        std::string Line;
        while (Sim.ReadLine(Line, 300)) {
            Match = Match || Line.rfind("RESULT MATCH", 0) == 0;
            Left = Left || Line == "LEFT BOOTLOADER";
        }
        if (Verdict) {
            EXPECT_TRUE(Match);
            EXPECT_TRUE(Left);
        }
        if (C.Expect >= 0) {
            EXPECT_EQ(Verdict, C.Expect == 1);
        }
        Sim.Stop();
    }
}
