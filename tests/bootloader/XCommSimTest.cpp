// The link against the simulated bootloader over pseudo-terminals: the
// frames on the wire, identification at both rates, and whole uploads that
// the simulator checks byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CodFixtures.h"
#include "PortXComm.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "bootloader/XComm.h"
#include "serial/ComPort.h"
#include "serial/FrameTrace.h"

namespace {

struct TFrame {
    TTraceDir Dir;
    TByteArray Bytes;
};

// Collects every frame the link sends and receives while it lives.
class TTraceRecorder {
public:
    TTraceRecorder() {
        SetFrameTraceHook(
            [this](const std::string &, TTraceDir Dir, const uint8_t *Data, size_t Count) {
                Frames.push_back({Dir, TByteArray(Data, Data + Count)});
            });
    }
    ~TTraceRecorder() { SetFrameTraceHook({}); }
    bool Has(TTraceDir Dir, const TByteArray &Bytes) const {
        for (const auto &F : Frames)
            if (F.Dir == Dir && F.Bytes == Bytes) return true;
        return false;
    }
    std::vector<TFrame> Frames;
};

std::vector<std::string> SimArgs(std::vector<std::string> Extra) {
    std::vector<std::string> A{"bootloader"};
    A.insert(A.end(), Extra.begin(), Extra.end());
    return A;
}

TEST(SimLink, WorkedFramesOnTheWire) {
    {
        TSimProcess Sim(SimArgs({"--sensor-id", "17", "--version", "2.5"}));
        ASSERT_TRUE(Sim.Start());
        TTraceRecorder Trace;
        TPortXComm Link;
        ASSERT_TRUE(Link.Open(Sim.PtyPath()));
        ASSERT_EQ(Trace.Frames.size(), 2u);
        EXPECT_EQ(Trace.Frames[0].Bytes, (TByteArray{0xF5, 0x05, 0x0C, 0x00, 0x00, 0x3A}));
        EXPECT_EQ(Trace.Frames[0].Dir, TTraceDir::Tx);
        EXPECT_EQ(Trace.Frames[1].Bytes, (TByteArray{0xF5, 0x06, 0x8C, 0x02, 0x05, 0x11, 0x24}));
        EXPECT_EQ(Trace.Frames[1].Dir, TTraceDir::Rx);
    }
    {
        TSimProcess Sim(
            SimArgs({"--baud", "57600", "--id16", "--sensor-id", "300", "--version", "2.5"}));
        ASSERT_TRUE(Sim.Start());
        TTraceRecorder Trace;
        TPortXComm Link;
        ASSERT_TRUE(Link.Open(Sim.PtyPath()));
        EXPECT_TRUE(Trace.Has(TTraceDir::Tx, {0xF5, 0x05, 0x0B, 0x00, 0x00, 0x40}));
        EXPECT_TRUE(Trace.Has(TTraceDir::Rx, {0xF5, 0x07, 0x8B, 0x02, 0x05, 0x2C, 0x01, 0xDE}));
        EXPECT_EQ(Link.SensorID(), 300);
    }
}

TEST(SimLink, OpenAtBothRates) {
    struct Row {
        const char *Name;
        std::vector<std::string> Args;
        bool Ok, Connected;
        uint16_t Id;
        int Baud;
        std::vector<std::string> Idents;  // requests the sensor saw at its rate
    };
    const Row Rows[] = {
        {"8-bit ID at 19200", {"--sensor-id", "17"}, true, true, 17, 19200, {"IDENT 0C"}},
        {"8-bit ID at 57600",
         {"--baud", "57600", "--sensor-id", "0x21"},
         true,
         true,
         33,
         57600,
         {"IDENT 0C"}},
        {"16-bit ID at 57600",
         {"--baud", "57600", "--id16", "--sensor-id", "4660"},
         true,
         true,
         4660,
         57600,
         {"IDENT 0C", "IDENT 0B"}},
        {"16-bit ID at 19200 is never asked",
         {"--id16", "--sensor-id", "4660"},
         false,
         false,
         0,
         0,
         {"IDENT 0C"}},
        {"sensor ID 0", {"--sensor-id", "0"}, true, false, 0, 19200, {"IDENT 0C"}},
        {"silent bootloader", {"--silent"}, false, false, 0, 0, {}},
    };
    for (const auto &R : Rows) {
        TSimProcess Sim(SimArgs(R.Args));
        ASSERT_TRUE(Sim.Start()) << R.Name;
        TPortXComm Link;
        EXPECT_EQ(Link.Open(Sim.PtyPath()), R.Ok) << R.Name;
        EXPECT_EQ(Link.Connected(), R.Connected) << R.Name;
        EXPECT_EQ(Link.SensorID(), R.Id) << R.Name;
        EXPECT_EQ(Link.BaudRate(), R.Baud) << R.Name;
        EXPECT_EQ(Link.COMPort(), R.Ok ? Sim.PtyPath() : "") << R.Name;
        for (const auto &Want : R.Idents) {
            std::string Line;
            EXPECT_TRUE(Sim.WaitForLine("IDENT", Line, 5000)) << R.Name;
            EXPECT_EQ(Line, Want) << R.Name;
        }
    }
}

// One simulated sensor and a file to upload to it.
struct TSimUpload {
    TTempDir Dir;
    std::string Path;
    TCODFileData Hdr;
    std::unique_ptr<TSimProcess> Sim;
    TPortXComm Link;
    std::vector<std::array<int, 3>> Reports;

    TSimUpload(const std::string &File, std::vector<std::string> Args) {
        Path = Dir.Write("fw.cod", File);
        EXPECT_TRUE(ValidateFile(Path, Hdr));
        std::vector<std::string> A{"--sensor-id", std::to_string(Hdr.DeviceID), "--expect", Path};
        A.insert(A.end(), Args.begin(), Args.end());
        Sim = std::make_unique<TSimProcess>(SimArgs(A));
    }
    bool Start() { return Sim->Start() && Link.Open(Sim->PtyPath()) && Link.Connected(); }
    bool Upload() {
        return Link.UploadFile(Path, Hdr, [this](int S, int F, int P) {
            Reports.push_back({S, F, P});
        });
    }
    std::string Line(const std::string &Prefix, int TimeoutMs = 10000) {
        std::string L;
        return Sim->WaitForLine(Prefix, L, TimeoutMs) ? L : "(no " + Prefix + " line)";
    }
};

TEST(SimUpload, WholeImagesConfirmedByteForByte) {
    struct Row {
        const char *Name;
        std::string File;
        std::vector<std::string> Args;
    };
    const Row Rows[] = {
        {"1 MiB ESP32 image, 16-bit sensor ID",
         MakeCod32(0x0123, 3, 1, MakeImage(1 << 20, 11)),
         {"--baud", "57600", "--id16"}},
        {"16-byte header image", MakeCod16(42, 1, 7, "PIC", MakeImage(3000, 12)), {}},
    };
    for (const auto &R : Rows) {
        std::vector<std::string> Args{"--quiet"};
        Args.insert(Args.end(), R.Args.begin(), R.Args.end());
        TSimUpload U(R.File, Args);
        ASSERT_TRUE(U.Start()) << R.Name;
        EXPECT_TRUE(U.Upload()) << R.Name;
        EXPECT_EQ(U.Line("RESULT"), "RESULT MATCH " + std::to_string(R.File.size())) << R.Name;
        EXPECT_EQ(U.Line("LEFT"), "LEFT BOOTLOADER") << R.Name;
        ASSERT_FALSE(U.Reports.empty()) << R.Name;
        EXPECT_EQ(U.Reports.back()[1], 0) << R.Name;
        EXPECT_EQ(U.Reports.back()[2], 100) << R.Name;
    }
}

TEST(SimUpload, StartAndCompletionFramesOnTheWire) {
    TSimUpload U(MakeCod16(5, 1, 0, "PIC", MakeImage(20)), {});  // 36 bytes: 5 packets
    ASSERT_TRUE(U.Start());
    TTraceRecorder Trace;
    EXPECT_TRUE(U.Upload());
    ASSERT_GE(Trace.Frames.size(), 4u);
    EXPECT_EQ(Trace.Frames[0].Bytes, (TByteArray{0xF5, 0x05, 0x0D, 0x00, 0x00, 0x91}));
    EXPECT_EQ(Trace.Frames[1].Bytes, (TByteArray{0xF5, 0x05, 0x8D, 0x00, 0x00, 0xF3}));
    EXPECT_TRUE(Trace.Has(TTraceDir::Rx, {0xF5, 0x05, 0x8D, 0xFE, 0xFF, 0x83}));
    // The final identification goes unanswered.
    EXPECT_EQ(Trace.Frames.back().Dir, TTraceDir::Rx);
    EXPECT_TRUE(Trace.Frames.back().Bytes.empty());
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(U.Line("PACKET"), "PACKET " + std::to_string(i));
}

TEST(SimUpload, FaultsOnTheLine) {
    // 200-byte file in 8-byte packets: 25 data packets.
    const std::string File = MakeCod16(9, 2, 0, "PIC", MakeImage(184, 5));
    struct Row {
        const char *Name;
        std::vector<std::string> Args;
        bool Ok;
        int Fails;  // failed attempts in the last report (-1: not checked)
        const char *Result;
    };
    const Row Rows[] = {
        {"a packet garbled twice", {"--fail-packet", "3:2:garble"}, true, 2, "RESULT MATCH 200"},
        {"answers lost to two packets", {"--lose-ack-at", "2,24"}, true, 2, "RESULT MATCH 200"},
        // The sensor restarts at completion whether or not its answer arrives.
        {"completion answer lost", {"--lose-ack-at", "25"}, false, 5, "RESULT MATCH 200"},
        {"noise before answers", {"--noise", "0.5", "--seed", "7"}, true, 0, "RESULT MATCH 200"},
        {"random lost and garbled answers",
         {"--lose-ack", "0.1", "--corrupt-ack", "0.1", "--seed", "3"},
         true,
         -1,
         "RESULT MATCH 200"},
        {"a packet that never gets through", {"--fail-packet", "4:5"}, false, 5, nullptr},
        {"wrong acknowledged number", {"--wrong-ack", "1"}, false, 0, nullptr},
        {"sensor stays in bootloader", {"--stay"}, false, 0, "RESULT MATCH 200"},
    };
    for (const auto &R : Rows) {
        TSimUpload U(File, R.Args);
        U.Link.SetMaxFails(50);
        // The simulated sensor leaves at once; no need for the full pause here.
        U.Link.SetPause(
            [](uint32_t) { std::this_thread::sleep_for(std::chrono::milliseconds(100)); });
        ASSERT_TRUE(U.Start()) << R.Name;
        EXPECT_EQ(U.Upload(), R.Ok) << R.Name;
        if (R.Fails >= 0 && !U.Reports.empty()) {
            EXPECT_EQ(U.Reports.back()[1], R.Fails) << R.Name;
        }
        if (R.Result) {
            EXPECT_EQ(U.Line("RESULT"), R.Result) << R.Name;
        }
    }
}

TEST(SimUpload, DamagedImageKeepsTheSensorInBootloader) {
    TTempDir Other;
    const std::string Expected =
        Other.Write("other.cod", MakeCod16(9, 2, 0, "PIC", MakeImage(64, 99)));
    TSimUpload U(MakeCod16(9, 2, 0, "PIC", MakeImage(64, 98)), {"--expect", Expected});
    ASSERT_TRUE(U.Start());
    EXPECT_FALSE(U.Upload());
    EXPECT_EQ(U.Line("RESULT").rfind("RESULT MISMATCH", 0), 0u);
}

TEST(SimUpload, UnplugDuringUpload) {
    TSimUpload U(MakeCod16(9, 2, 0, "PIC", MakeImage(184)), {"--hangup-after", "5"});
    ASSERT_TRUE(U.Start());
    try {
        U.Upload();
        ADD_FAILURE() << "no error";
    } catch (const EComPort &E) {
        EXPECT_EQ(E.Code(), CError_Disconnected);
        EXPECT_STREQ(E.what(), "Port Disconnected");
    }
    EXPECT_FALSE(U.Link.Connected());
    EXPECT_EQ(U.Link.COMPort(), "");
    EXPECT_EQ(U.Line("HANGUP"), "HANGUP");
}

TEST(SimUpload, NextSensorAfterReentry) {
    TSimUpload U(MakeCod16(9, 2, 0, "PIC", MakeImage(40)), {"--reenter-after", "3000"});
    ASSERT_TRUE(U.Start());
    // Away during the 2.5 s pause and the final check, which together take
    // longer than 3 s: the next sensor comes only once the line is quiet.
    EXPECT_TRUE(U.Upload());
    EXPECT_EQ(U.Line("ENTERED"), "ENTERED BOOTLOADER");
    ASSERT_TRUE(U.Link.Open(U.Sim->PtyPath()));
    EXPECT_TRUE(U.Upload());
    EXPECT_EQ(U.Line("RESULT"), "RESULT MATCH 56");
}

TEST(SimProgram, RefusesBadOptions) {
    const std::vector<std::vector<std::string>> Bad{
        {"--baud", "9600"},    {"--sensor-id", "300"}, {"--version", "2"},
        {"--lose-ack", "1.5"}, {"--fail-packet", "3"}, {"--bogus"},
        {"--sensor-id"},
    };
    for (const auto &Args : Bad) {
        std::vector<std::string> Argv{VELDRA_SIM_PATH, "bootloader"};
        Argv.insert(Argv.end(), Args.begin(), Args.end());
        const TRunResult R = RunProgram(Argv, "", {}, 10000);
        EXPECT_EQ(R.ExitCode, 2) << Args[0];
        EXPECT_NE(R.Err.find("usage"), std::string::npos) << Args[0];
    }
    const TRunResult Help = RunProgram({VELDRA_SIM_PATH, "bootloader", "--help"}, "", {}, 10000);
    EXPECT_EQ(Help.ExitCode, 0);
    EXPECT_NE(Help.Out.find("--hangup-after"), std::string::npos);
}

TEST(SimProgram, StopsCleanlyOnTerm) {
    TTempDir Dir;
    const std::string Link = Dir.File("port");
    TSimProcess Sim(SimArgs({"--link", Link}));
    ASSERT_TRUE(Sim.Start());
    EXPECT_EQ(Sim.PtyPath(), Link);
    EXPECT_EQ(Sim.Stop(), 0);
    EXPECT_NE(access(Link.c_str(), F_OK), 0) << "link left behind";
}

}  // namespace
