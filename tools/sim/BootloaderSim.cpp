// A sensor in bootloader mode on a pseudo-terminal.
//
// It answers identification at its configured bit rate only, takes a
// firmware upload packet by packet, rebuilds the image, and leaves
// bootloader mode once the image is complete. Faults can be injected at
// random (seeded) or at fixed packets. Every event is printed as one line on
// standard output so that tests can follow it.

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "SimPty.h"
#include "bootloader/CRC8.h"

namespace {

volatile sig_atomic_t GStop = 0;

void OnSignal(int) {
    GStop = 1;
}

uint64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint64_t NowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

void SleepUntilUs(uint64_t Until) {
    for (;;) {
        const uint64_t Now = NowUs();
        if (Now >= Until || GStop) return;
        const uint64_t Left = Until - Now;
        timespec ts{static_cast<time_t>(Left / 1000000u),
                    static_cast<long>((Left % 1000000u) * 1000u)};
        nanosleep(&ts, nullptr);
    }
}

void Say(const char *Fmt, ...) __attribute__((format(printf, 1, 2)));
void Say(const char *Fmt, ...) {
    va_list ap;
    va_start(ap, Fmt);
    std::vprintf(Fmt, ap);
    va_end(ap);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

enum class TFault { None, Lose, Garble, Wrong };

struct TOptions {
    std::string Link;
    int Baud = 19200;
    unsigned SensorID = 1;
    bool Id16 = false;
    uint8_t VersionHi = 1;
    uint8_t VersionLo = 0;
    std::string Expect;
    bool Stay = false;
    long ReenterAfterMs = -1;
    unsigned Seed = 1;
    double LoseAck = 0, CorruptAck = 0, Noise = 0, WrongAck = 0;
    std::map<unsigned, std::pair<int, TFault>> FailPacket;  // packet -> (first K attempts, how)
    bool Silent = false;
    long HangupAfter = -1;
    long CompleteAt = 0;  // data packet answered "complete" whatever was received (0: none)
    bool Pace = false;
    bool Quiet = false;
};

const char *const CUsage =
    "usage: veldra-sim bootloader [OPTIONS]\n"
    "A sensor in bootloader mode on a pseudo-terminal. Prints \"PTY <path>\" first,\n"
    "then one line per event: IDENT 0C|0B, START, PACKET n [REPEAT], COMPLETE n,\n"
    "RESULT MATCH n | RESULT MISMATCH ... | RESULT RECEIVED n, LEFT BOOTLOADER,\n"
    "ENTERED BOOTLOADER, FAULT ..., WRONG BAUD n, BAD FRAME, HANGUP.\n"
    "\n"
    "  --link PATH          make PATH a symbolic link to the port\n"
    "  --baud 19200|57600   the only bit rate it answers at (default 19200)\n"
    "  --sensor-id N        sensor ID, decimal or 0x hex (default 1)\n"
    "  --id16               16-bit sensor ID: answered only to the 0x0B request\n"
    "                       (which hosts send at 57600 baud), not to 0x0C\n"
    "  --version H.L        firmware version, e.g. 2.5 = major 2, minor 5 (default 1.0)\n"
    "  --expect FILE        compare the received image with FILE byte for byte\n"
    "                       (a mismatching image keeps the sensor in bootloader mode)\n"
    "  --stay               stay in bootloader mode after a completed upload\n"
    "  --reenter-after MS   after leaving bootloader mode, come back once the line\n"
    "                       has been quiet for MS (the next sensor plugged in)\n"
    "  --seed N             seed of the random faults (default 1)\n"
    "  --lose-ack P         probability that a data packet's answer is lost\n"
    "  --corrupt-ack P      probability of an answer with a wrong CRC\n"
    "  --noise P            probability of noise bytes before an answer\n"
    "  --wrong-ack P        probability of an answer with a wrong packet number\n"
    "                       (random faults spare the answer that completes the image)\n"
    "  --lose-ack-at LIST   comma-separated packet numbers whose first attempt\n"
    "                       gets no answer\n"
    "  --fail-packet N:K[:garble]  the first K attempts of packet N get no answer\n"
    "                       (or a garbled one); may be given several times\n"
    "  --silent             never answer\n"
    "  --hangup-after N     hang up (simulated unplug) when data packet N+1 arrives\n"
    "  --complete-at N      report the image complete on data packet N, whether or\n"
    "                       not it is the last (a faulty bootloader)\n"
    "  --pace               take 11 bit times per character at the configured rate\n"
    "                       and answer 1 ms after a packet (for benchmarks)\n"
    "  --quiet              no PACKET lines\n";

[[noreturn]] void BadArg(const std::string &What) {
    throw std::invalid_argument(What);
}

unsigned long ParseUnsigned(const std::string &Text, const std::string &Opt, unsigned long Max) {
    if (Text.empty() || Text[0] == '-' || Text[0] == '+') BadArg(Opt + ": not a number: " + Text);
    errno = 0;
    char *End = nullptr;
    const unsigned long V = std::strtoul(Text.c_str(), &End, 0);
    if (errno != 0 || *End != '\0' || V > Max) BadArg(Opt + ": bad value: " + Text);
    return V;
}

double ParseProbability(const std::string &Text, const std::string &Opt) {
    char *End = nullptr;
    const double V = std::strtod(Text.c_str(), &End);
    if (Text.empty() || *End != '\0' || !(V >= 0.0 && V <= 1.0))
        BadArg(Opt + ": probability 0..1 expected: " + Text);
    return V;
}

TOptions ParseOptions(int argc, char **argv, bool &Help) {
    TOptions O;
    Help = false;
    for (int i = 1; i < argc; ++i) {
        std::string Opt = argv[i], Val;
        bool HasVal = false;
        const auto Eq = Opt.find('=');
        if (Opt.rfind("--", 0) == 0 && Eq != std::string::npos) {
            Val = Opt.substr(Eq + 1);
            Opt = Opt.substr(0, Eq);
            HasVal = true;
        }
        auto Value = [&]() -> std::string {
            if (HasVal) return Val;
            if (i + 1 >= argc) BadArg(Opt + " needs a value");
            return argv[++i];
        };
        if (Opt == "--help" || Opt == "-h")
            Help = true;
        else if (Opt == "--link")
            O.Link = Value();
        else if (Opt == "--baud") {
            O.Baud = static_cast<int>(ParseUnsigned(Value(), Opt, 4000000));
            if (O.Baud != 19200 && O.Baud != 57600) BadArg("--baud: 19200 or 57600");
        } else if (Opt == "--sensor-id")
            O.SensorID = static_cast<unsigned>(ParseUnsigned(Value(), Opt, 0xFFFF));
        else if (Opt == "--id16")
            O.Id16 = true;
        else if (Opt == "--version") {
            const std::string V = Value();
            const auto Dot = V.find('.');
            if (Dot == std::string::npos) BadArg("--version: H.L expected: " + V);
            O.VersionHi = static_cast<uint8_t>(ParseUnsigned(V.substr(0, Dot), Opt, 255));
            O.VersionLo = static_cast<uint8_t>(ParseUnsigned(V.substr(Dot + 1), Opt, 255));
        } else if (Opt == "--expect")
            O.Expect = Value();
        else if (Opt == "--stay")
            O.Stay = true;
        else if (Opt == "--reenter-after")
            O.ReenterAfterMs = static_cast<long>(ParseUnsigned(Value(), Opt, 86400000));
        else if (Opt == "--seed")
            O.Seed = static_cast<unsigned>(ParseUnsigned(Value(), Opt, 0xFFFFFFFFu));
        else if (Opt == "--lose-ack")
            O.LoseAck = ParseProbability(Value(), Opt);
        else if (Opt == "--corrupt-ack")
            O.CorruptAck = ParseProbability(Value(), Opt);
        else if (Opt == "--noise")
            O.Noise = ParseProbability(Value(), Opt);
        else if (Opt == "--wrong-ack")
            O.WrongAck = ParseProbability(Value(), Opt);
        else if (Opt == "--lose-ack-at") {
            const std::string List = Value();
            size_t Pos = 0;
            while (Pos <= List.size()) {
                const auto Comma = List.find(',', Pos);
                const std::string Item =
                    List.substr(Pos, Comma == std::string::npos ? std::string::npos : Comma - Pos);
                O.FailPacket[static_cast<unsigned>(ParseUnsigned(Item, Opt, 0xFFFF))] = {
                    1, TFault::Lose};
                if (Comma == std::string::npos) break;
                Pos = Comma + 1;
            }
        } else if (Opt == "--fail-packet") {
            const std::string V = Value();
            const auto C1 = V.find(':');
            if (C1 == std::string::npos) BadArg("--fail-packet: N:K[:garble] expected: " + V);
            const auto C2 = V.find(':', C1 + 1);
            const unsigned N = static_cast<unsigned>(ParseUnsigned(V.substr(0, C1), Opt, 0xFFFF));
            const int K = static_cast<int>(ParseUnsigned(
                V.substr(C1 + 1, C2 == std::string::npos ? std::string::npos : C2 - C1 - 1), Opt,
                1000000));
            TFault How = TFault::Lose;
            if (C2 != std::string::npos) {
                const std::string Kind = V.substr(C2 + 1);
                if (Kind == "garble")
                    How = TFault::Garble;
                else if (Kind != "lose")
                    BadArg("--fail-packet: kind is lose or garble: " + Kind);
            }
            O.FailPacket[N] = {K, How};
        } else if (Opt == "--silent")
            O.Silent = true;
        else if (Opt == "--hangup-after")
            O.HangupAfter = static_cast<long>(ParseUnsigned(Value(), Opt, 0xFFFF));
        else if (Opt == "--complete-at")
            O.CompleteAt = static_cast<long>(ParseUnsigned(Value(), Opt, 0xFFFD));
        else if (Opt == "--pace")
            O.Pace = true;
        else if (Opt == "--quiet")
            O.Quiet = true;
        else
            BadArg("unknown option: " + Opt);
    }
    if (!O.Id16 && O.SensorID > 255) BadArg("--sensor-id above 255 needs --id16");
    return O;
}

uint32_t Le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Length of the whole file the received bytes belong to, from its header;
// 0 while too little has come to tell.
uint64_t ImageLength(const std::vector<uint8_t> &Image) {
    static const uint8_t Magic[8] = {'\r', '\n', 'O', 'R', 'V', 'c', 'o', 'd'};
    if (Image.size() >= 8 && std::memcmp(Image.data(), Magic, 8) == 0) {
        return Image.size() >= 32 ? 32 + static_cast<uint64_t>(Le32(Image.data() + 28)) : 0;
    }
    return Image.size() >= 16 ? 16 + static_cast<uint64_t>(Le32(Image.data() + 3)) : 0;
}

class TBootloaderSim {
public:
    TBootloaderSim(const TOptions &O, TSimPty &Pty) : FOpt(O), FPty(Pty), FRandom(O.Seed) {}

    // Runs until SIGTERM/SIGINT or a simulated unplug.
    void Run();

private:
    void HandleFrame(const std::vector<uint8_t> &Frame);
    void HandleData(uint16_t Number, const uint8_t *Data, size_t Count);
    void Complete();
    void Reply(uint8_t Command, const std::vector<uint8_t> &Payload, TFault Fault = TFault::None);
    bool Chance(double P) {
        return P > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(FRandom) < P;
    }
    uint64_t CharUs() const { return 11000000u / static_cast<uint64_t>(FOpt.Baud); }
    void EnterBootloader();

    const TOptions &FOpt;
    TSimPty &FPty;
    std::mt19937 FRandom;
    bool FInBootloader = true;
    bool FHungUp = false;
    uint64_t FLeftAt = 0;
    int FLastWrongBaud = -1;
    // Framing.
    std::vector<uint8_t> FRx;
    uint64_t FLastByteMs = 0;
    uint64_t FFrameStartUs = 0;
    // Upload.
    bool FStarted = false;
    bool FCompleted = false;
    uint16_t FNext = 1;
    std::vector<uint8_t> FImage;
    std::map<uint16_t, int> FAttempts;
    long FDataPackets = 0;
};

void TBootloaderSim::EnterBootloader() {
    FInBootloader = true;
    FStarted = false;
    FCompleted = false;
    FNext = 1;
    FImage.clear();
    FAttempts.clear();
    FDataPackets = 0;
}

void TBootloaderSim::Run() {
    uint8_t Buf[1024];
    while (!GStop && !FHungUp) {
        const int N = FPty.ReadSome(Buf, sizeof Buf, 50);
        const uint64_t Now = NowMs();
        if (!FInBootloader && FOpt.ReenterAfterMs >= 0 &&
            Now - FLeftAt >= static_cast<uint64_t>(FOpt.ReenterAfterMs)) {
            EnterBootloader();
            Say("ENTERED BOOTLOADER");
        }
        // A partial frame followed by silence is forgotten, like a receiver
        // that resynchronises on a gap.
        if (!FRx.empty() && Now - FLastByteMs > 100) FRx.clear();
        if (N <= 0) continue;
        FLastByteMs = Now;
        // While away, requests keep the next sensor from appearing: the host
        // is still checking that this one has gone.
        if (!FInBootloader) FLeftAt = Now;
        if (!FInBootloader || FOpt.Silent) continue;
        const int HostBaud = FPty.HostBaud();
        if (HostBaud != FOpt.Baud) {
            // At another rate the bytes are garbage to the sensor.
            if (HostBaud != FLastWrongBaud) Say("WRONG BAUD %d", HostBaud);
            FLastWrongBaud = HostBaud;
            FRx.clear();
            continue;
        }
        FLastWrongBaud = -1;
        if (FRx.empty()) FFrameStartUs = NowUs();
        FRx.insert(FRx.end(), Buf, Buf + N);
        for (;;) {
            size_t Skip = 0;
            while (Skip < FRx.size() && FRx[Skip] != 0xF5) ++Skip;
            if (Skip > 0) FRx.erase(FRx.begin(), FRx.begin() + static_cast<long>(Skip));
            if (FRx.size() < 2) break;
            const size_t Total = static_cast<size_t>(FRx[1]) + 1;
            if (Total < 6) {
                Say("BAD FRAME");
                FRx.erase(FRx.begin());
                continue;
            }
            if (FRx.size() < Total) break;
            std::vector<uint8_t> Frame(FRx.begin(), FRx.begin() + static_cast<long>(Total));
            if (Frame.back() != CalcCRC8(Frame.data() + 1, Total - 2)) {
                Say("BAD FRAME");
                FRx.erase(FRx.begin());
                continue;
            }
            FRx.erase(FRx.begin(), FRx.begin() + static_cast<long>(Total));
            if (FOpt.Pace) SleepUntilUs(FFrameStartUs + Total * CharUs() + 1000);
            HandleFrame(Frame);
            if (FHungUp || !FInBootloader) {
                FRx.clear();
                break;
            }
            FFrameStartUs = NowUs();
        }
    }
}

void TBootloaderSim::Reply(uint8_t Command, const std::vector<uint8_t> &Payload, TFault Fault) {
    if (Fault == TFault::Lose) return;
    std::vector<uint8_t> Out;
    if (Chance(FOpt.Noise)) {
        const int Count = 1 + static_cast<int>(FRandom() % 4);
        for (int i = 0; i < Count; ++i) {
            uint8_t B = static_cast<uint8_t>(FRandom());
            if (B == 0xF5) B = 0x55;
            Out.push_back(B);
        }
    }
    const size_t Start = Out.size();
    Out.push_back(0xF5);
    Out.push_back(static_cast<uint8_t>(Payload.size() + 3));
    Out.push_back(static_cast<uint8_t>(Command | 0x80));
    Out.insert(Out.end(), Payload.begin(), Payload.end());
    uint8_t Crc = CalcCRC8(Out.data() + Start + 1, Out.size() - Start - 1);
    if (Fault == TFault::Garble) Crc = static_cast<uint8_t>(Crc ^ 0x5A);
    Out.push_back(Crc);
    if (FOpt.Pace) SleepUntilUs(NowUs() + Out.size() * CharUs());
    FPty.WriteAll(Out.data(), Out.size());
}

void TBootloaderSim::HandleFrame(const std::vector<uint8_t> &Frame) {
    const uint8_t Command = Frame[2];
    const uint16_t Number = static_cast<uint16_t>(Frame[3] | (Frame[4] << 8));
    switch (Command) {
        case 0x0C:
            Say("IDENT 0C");
            if (!FOpt.Id16)
                Reply(Command,
                      {FOpt.VersionHi, FOpt.VersionLo, static_cast<uint8_t>(FOpt.SensorID)});
            break;
        case 0x0B:
            Say("IDENT 0B");
            if (FOpt.Id16)
                Reply(Command,
                      {FOpt.VersionHi, FOpt.VersionLo, static_cast<uint8_t>(FOpt.SensorID & 0xFF),
                       static_cast<uint8_t>(FOpt.SensorID >> 8)});
            break;
        case 0x0D:
            HandleData(Number, Frame.data() + 5, Frame.size() - 6);
            break;
        default:
            Say("UNKNOWN %02X", Command);
            break;
    }
}

void TBootloaderSim::HandleData(uint16_t Number, const uint8_t *Data, size_t Count) {
    if (Number == 0 && Count == 0) {
        EnterBootloader();
        FStarted = true;
        Say("START");
        Reply(0x0D, {0, 0});
        return;
    }
    if (!FStarted) {
        Say("PACKET %u WITHOUT START", Number);
        return;
    }
    if (FOpt.HangupAfter >= 0 && FDataPackets >= FOpt.HangupAfter && Number == FNext) {
        Say("HANGUP");
        FPty.HangUp();
        FHungUp = true;
        return;
    }
    const int Attempt = ++FAttempts[Number];
    bool Completing = false;
    if (Number == FNext && !FCompleted) {
        FImage.insert(FImage.end(), Data, Data + Count);
        ++FNext;
        ++FDataPackets;
        if (!FOpt.Quiet) Say("PACKET %u", Number);
        const uint64_t Length = ImageLength(FImage);
        Completing = (Length != 0 && FImage.size() >= Length) ||
                     (FOpt.CompleteAt != 0 && Number == FOpt.CompleteAt);
    } else if (Number + 1u == FNext) {
        if (!FOpt.Quiet) Say("PACKET %u REPEAT", Number);
    } else {
        Say("PACKET %u OUT OF ORDER (expected %u)", Number, FNext);
        return;
    }

    // Decide how this attempt is answered.
    TFault Fault = TFault::None;
    if (auto It = FOpt.FailPacket.find(Number);
        It != FOpt.FailPacket.end() && Attempt <= It->second.first)
        Fault = It->second.second;
    else if (!Completing && !(FCompleted && Number + 1u == FNext)) {
        if (Chance(FOpt.LoseAck))
            Fault = TFault::Lose;
        else if (Chance(FOpt.CorruptAck))
            Fault = TFault::Garble;
        else if (Chance(FOpt.WrongAck))
            Fault = TFault::Wrong;
    }
    const bool Done = Completing || (FCompleted && Number + 1u == FNext);
    uint16_t Ack = Done ? 0xFFFE : Number;
    if (Fault == TFault::Wrong)
        Ack = static_cast<uint16_t>(Number + 1u == 0xFFFE ? 0x1234 : Number + 1u);
    if (Fault != TFault::None)
        Say("FAULT %s %u",
            Fault == TFault::Lose     ? "LOST"
            : Fault == TFault::Garble ? "GARBLED"
                                      : "WRONG",
            Number);
    if (Completing) {
        FCompleted = true;
        Say("COMPLETE %zu", FImage.size());
    }
    Reply(0x0D, {static_cast<uint8_t>(Ack & 0xFF), static_cast<uint8_t>(Ack >> 8)}, Fault);
    if (Completing) Complete();
}

void TBootloaderSim::Complete() {
    bool Good = true;
    if (!FOpt.Expect.empty()) {
        std::ifstream In(FOpt.Expect, std::ios::binary);
        const std::vector<uint8_t> Want((std::istreambuf_iterator<char>(In)),
                                        std::istreambuf_iterator<char>());
        size_t At = 0;
        while (At < Want.size() && At < FImage.size() && Want[At] == FImage[At]) ++At;
        if (!In.good() && Want.empty()) {
            Say("RESULT MISMATCH cannot read %s", FOpt.Expect.c_str());
            Good = false;
        } else if (At == Want.size() && At == FImage.size()) {
            Say("RESULT MATCH %zu", FImage.size());
        } else if (At < Want.size() && At < FImage.size()) {
            Say("RESULT MISMATCH at byte %zu: got %02X, expected %02X", At, FImage[At], Want[At]);
            Good = false;
        } else {
            Say("RESULT MISMATCH size %zu, expected %zu", FImage.size(), Want.size());
            Good = false;
        }
    } else {
        Say("RESULT RECEIVED %zu", FImage.size());
    }
    // A damaged image does not boot: the sensor stays in its bootloader.
    if (Good && !FOpt.Stay) {
        FInBootloader = false;
        FLeftAt = NowMs();
        Say("LEFT BOOTLOADER");
    }
}

}  // namespace

int RunBootloaderSim(int argc, char **argv) {
    TOptions Opt;
    try {
        bool Help = false;
        Opt = ParseOptions(argc, argv, Help);
        if (Help) {
            std::fputs(CUsage, stdout);
            return 0;
        }
    } catch (const std::exception &E) {
        std::fprintf(stderr, "veldra-sim bootloader: %s\n%s", E.what(), CUsage);
        return 2;
    }

    InstallStopSignals(OnSignal);

    try {
        TSimPty Pty(Opt.Link);
        AnnounceReady(Pty);
        TBootloaderSim Sim(Opt, Pty);
        Sim.Run();
    } catch (const std::exception &E) {
        std::fprintf(stderr, "veldra-sim bootloader: %s\n", E.what());
        return 1;
    }
    return 0;
}
