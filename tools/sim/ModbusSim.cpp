// Simulated Modbus RTU line: `veldra-sim modbus [OPTIONS]`.
//
// One or more slave devices behind a pseudo-terminal. The demo line
// (--profiles, also used when no device is given) is what GUI and command
// line tests rely on:
//   address 1  sensor, vendor text at 18,  device code 7    at 14,  version 0x0105 at 15
//   address 2  sensor, vendor text at 300, device code 1042 at 112, version 0x0210 at 113
//   address 3  sensor, vendor text at 800, device code 3100 at 832, version 0x0302 at 833
//   address 4  device with registers 0..99, no vendor text
//   address 5  like 4, every answer with a wrong CRC (found by a probe, never identified)
// Every profile has holding registers 0..63 holding 0x0100 + n (the "plain"
// profile 0..99), comm registers 120 (baud code), 121 (framing), 122 (address) and
// discrete inputs 0..15 from the pattern 0x2C0D (inputs 0..3: on, off, on, on),
// and the read-only registers 1000..1007 whose values change with time (see
// LiveRegister).
#include <poll.h>
#include <signal.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>

#include "ModbusSimDevice.h"
#include "SimPty.h"
#include "modbus/CRC16.h"

namespace {

volatile sig_atomic_t StopRequested = 0;

void OnSignal(int) {
    StopRequested = 1;
}

const char *const Help =
    "usage: veldra-sim modbus [OPTIONS]\n"
    "A Modbus RTU line on a pseudo-terminal; prints \"PTY <path>\" when ready.\n"
    "Answers functions 2, 3, 6 and 16; unknown registers give exception 2,\n"
    "unknown functions exception 1; absent addresses stay silent.\n"
    "\n"
    "Line:\n"
    "  --link PATH          symbolic link to the port\n"
    "  --baud B             bit rate of the devices (default 19200)\n"
    "  --stop-bits 1|2      stop bits of the devices (default 1)\n"
    "  --parity N|E|O|any   parity of the devices (default any: not looked at)\n"
    "                       a host with another rate, stop bits or parity gets\n"
    "                       no answer\n"
    "  --device-line ADDR:BAUD:FRAMING  the line settings of one device, e.g.\n"
    "                       17:38400:8O1 (its own rate, parity and stop bits;\n"
    "                       the device must exist: --device or the demo line)\n"
    "  --log                one line per request on stdout:\n"
    "                       \"REQ <hex> -> ANS <hex>\" or \"REQ <hex> -> SILENT <why>\"\n"
    "  --seed N             seed of the random faults\n"
    "  --no-limits          answer any quantity (byte count wraps) instead of exception 3\n"
    "Devices:\n"
    "  --profiles           the demo line:\n"
    "                         1 map18  (vendor text at 18, code 7 at 14, version 0x0105 at 15)\n"
    "                         2 map300 (vendor text at 300, code 1042 at 112, version 0x0210 at "
    "113)\n"
    "                         3 map800 (vendor text at 800, code 3100 at 832, version 0x0302 at "
    "833)\n"
    "                         4 plain  (registers 0..99, no vendor text)\n"
    "                         5 plain with a wrong CRC in every answer\n"
    "                       (the default when no device is given)\n"
    "  --device ADDR[:PROFILE]  add a device; profiles map18, map300, map800, plain\n"
    "  --registers FILE     JSON register file:\n"
    "                         {\"devices\": [{\"address\": 7, \"profile\": \"plain\",\n"
    "                           \"holding\": {\"100\": 5, \"200\": [1, 2, 3]},\n"
    "                           \"text\": {\"300\": [\"hello\", 4]},\n"
    "                           \"inputs\": {\"0\": [1, 0, 1]}}]}\n"
    "                       a device already defined is extended\n"
    "  Every profile: holding registers 0..63 = 0x0100 + n, comm registers 120\n"
    "  (baud code), 121 (framing), 122 (address; a write is kept but the line does\n"
    "  not change, as on a sensor before its restart), inputs 0..15 = bits of 0x2C0D.\n"
    "  Every profile also has read-only registers whose values change with the\n"
    "  time t since the simulator started (a register the file gives keeps the\n"
    "  file's value; a write is exception 2):\n"
    "    1000       uint16  counter: tenths of a second since the start (t / 100 ms)\n"
    "    1001       int     triangle -100..100, one step per 100 ms, 0 at the start,\n"
    "                       rising (period 40 s)\n"
    "    1002-1003  float   100 x sin(2 pi t / 60 s), MSWF\n"
    "    1004-1005  uint32  wall-clock time: seconds since 1970-01-01 UTC, MSWF\n"
    "    1006-1007  uint32  t in milliseconds, MSWF\n"
    "Faults:\n"
    "  --bad-crc ADDR       answers of ADDR with a wrong CRC\n"
    "  --wrong-addr ADDR    answers of ADDR carry ADDR + 1\n"
    "  --short ADDR         answers of ADDR lack their last byte\n"
    "  --wrong-func ADDR    answers of ADDR carry function + 1\n"
    "  --bad-count ADDR     read answers of ADDR carry byte count + 2\n"
    "  --bad-echo ADDR      write echoes of ADDR carry value + 1\n"
    "  --delay-ms N         wait N ms before every answer\n"
    "  --byte-gap-ms N      send answers byte by byte, N ms apart\n"
    "  --noise P            flip one random bit of an answer with probability P\n"
    "  --fault-rate P       with probability P a random fault per answer (silence,\n"
    "                       bad CRC, short, wrong address, bit flip, garbage byte first)\n"
    "  --hangup-after N     answer N requests, then hang up the line at the next one\n"
    "                       (printing HANGUP) and end\n";

// The line settings a device answers at; Parity 0: any.
struct TSimLineSettings {
    int Baud = 19200;
    int StopBits = 1;
    char Parity = 0;
};

struct TLine {
    std::map<uint8_t, TSimDevice> Devices;
    TSimOptions Options;
    TSimLineSettings Settings;                     // of every device without its own
    std::map<uint8_t, TSimLineSettings> OwnLines;  // --device-line
    bool Log = false;
    int DelayMs = 0;
    int ByteGapMs = 0;
    double Noise = 0;
    double FaultRate = 0;
    long HangupAfter = -1;
    std::mt19937 Rng{12345};
    // The start of the changing registers' clock.
    std::chrono::steady_clock::time_point Started = std::chrono::steady_clock::now();
};

TSimTime TimeOf(const TLine &Line) {
    using namespace std::chrono;
    TSimTime Time;
    Time.SinceStartMs = static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now() - Line.Started).count());
    Time.UnixMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return Time;
}

std::string Hex(const uint8_t *p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

bool ParseLong(const std::string &Text, long &Value) {
    char *End = nullptr;
    errno = 0;
    Value = std::strtol(Text.c_str(), &End, 0);
    return !Text.empty() && *End == '\0' && errno == 0;
}

bool ParseAddr(const std::string &Text, uint8_t &Addr) {
    long v = 0;
    if (!ParseLong(Text, v) || v < 1 || v > 247) return false;
    Addr = static_cast<uint8_t>(v);
    return true;
}

// "N", "E", "O" (or none, even, odd) or "any".
bool ParseParity(const std::string &Text, char &Parity) {
    std::string T;
    for (char C : Text) T += static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
    if (T == "ANY") {
        Parity = 0;
        return true;
    }
    if (T == "N" || T == "NONE" || T == "E" || T == "EVEN" || T == "O" || T == "ODD") {
        Parity = T[0];
        return true;
    }
    return false;
}

// ADDR:BAUD:FRAMING, the framing as 8N1, 8E1, 8O1, 8N2, ...
bool ParseOwnLine(const std::string &Text, uint8_t &Addr, TSimLineSettings &Own) {
    const size_t A = Text.find(':');
    const size_t B = A == std::string::npos ? A : Text.find(':', A + 1);
    if (B == std::string::npos) return false;
    long Baud = 0;
    const std::string Framing = Text.substr(B + 1);
    if (!ParseAddr(Text.substr(0, A), Addr) || !ParseLong(Text.substr(A + 1, B - A - 1), Baud) ||
        Baud <= 0 || Framing.size() != 3 || Framing[0] != '8' ||
        (Framing[2] != '1' && Framing[2] != '2') ||
        !ParseParity(std::string(1, Framing[1]), Own.Parity))
        return false;
    Own.Baud = static_cast<int>(Baud);
    Own.StopBits = Framing[2] - '0';
    return true;
}

bool AddDevice(TLine &Line, uint8_t Addr, const std::string &Profile) {
    TSimDevice Device;
    if (!MakeProfileDevice(Addr, Profile, Device)) return false;
    Line.Devices[Addr] = std::move(Device);
    return true;
}

void AddDemoLine(TLine &Line) {
    AddDevice(Line, 1, "map18");
    AddDevice(Line, 2, "map300");
    AddDevice(Line, 3, "map800");
    AddDevice(Line, 4, "plain");
    AddDevice(Line, 5, "plain");
    Line.Devices[5].Faults.BadCrc = true;
}

// Register file (see --help). Throws on malformed content.
void LoadRegisters(TLine &Line, const std::string &Path) {
    std::ifstream In(Path);
    if (!In) throw std::runtime_error("cannot read " + Path);
    const nlohmann::json Doc = nlohmann::json::parse(In);
    for (const auto &Dev : Doc.at("devices")) {
        const int A = Dev.at("address").get<int>();
        if (A < 1 || A > 247) throw std::runtime_error("address out of range 1..247");
        const auto Addr = static_cast<uint8_t>(A);
        auto Found = Line.Devices.find(Addr);
        if (Found == Line.Devices.end() || Dev.contains("profile")) {
            const std::string Profile = Dev.value("profile", std::string("plain"));
            if (!AddDevice(Line, Addr, Profile))
                throw std::runtime_error("unknown profile " + Profile);
            if (!Dev.contains("profile")) {
                // A file device without a profile has only what the file gives.
                Line.Devices[Addr].Holding.clear();
                Line.Devices[Addr].Live = false;
                Line.Devices[Addr].Inputs.clear();
            }
        }
        TSimDevice &Device = Line.Devices[Addr];
        auto Start = [](const std::string &Key) {
            const long v = std::stol(Key, nullptr, 0);
            if (v < 0 || v > 0xFFFF) throw std::runtime_error("register out of range: " + Key);
            return static_cast<uint16_t>(v);
        };
        if (Dev.contains("holding")) {
            for (const auto &[Key, Val] : Dev["holding"].items()) {
                const uint16_t S = Start(Key);
                if (Val.is_array()) {
                    for (size_t i = 0; i < Val.size(); ++i)
                        Device.Holding[static_cast<uint16_t>(S + i)] = Val[i].get<uint16_t>();
                } else {
                    Device.Holding[S] = Val.get<uint16_t>();
                }
            }
        }
        if (Dev.contains("text")) {
            for (const auto &[Key, Val] : Dev["text"].items())
                PutText(Device, Start(Key), Val.at(0).get<std::string>(), Val.at(1).get<int>());
        }
        if (Dev.contains("inputs")) {
            for (const auto &[Key, Val] : Dev["inputs"].items()) {
                const uint16_t S = Start(Key);
                if (Val.is_array()) {
                    for (size_t i = 0; i < Val.size(); ++i)
                        Device.Inputs[static_cast<uint16_t>(S + i)] = Val[i].get<int>() != 0;
                } else {
                    Device.Inputs[S] = Val.get<int>() != 0;
                }
            }
        }
    }
}

// Random fault for --noise / --fault-rate. Returns false when the answer is
// to be swallowed.
bool RandomFault(TLine &Line, TSimFrame &Frame, std::string &What) {
    std::uniform_real_distribution<double> U(0.0, 1.0);
    auto FlipBit = [&] {
        std::uniform_int_distribution<size_t> Byte(0, Frame.size() - 1);
        std::uniform_int_distribution<int> Bit(0, 7);
        Frame[Byte(Line.Rng)] ^= static_cast<uint8_t>(1u << Bit(Line.Rng));
    };
    if (Line.Noise > 0 && U(Line.Rng) < Line.Noise) {
        FlipBit();
        What = "noise";
    }
    if (Line.FaultRate > 0 && U(Line.Rng) < Line.FaultRate) {
        TSimFaults F;
        switch (std::uniform_int_distribution<int>(0, 5)(Line.Rng)) {
            case 0:
                What = "fault silence";
                return false;
            case 1:
                F.BadCrc = true;
                What = "fault bad-crc";
                break;
            case 2:
                F.Short = true;
                What = "fault short";
                break;
            case 3:
                F.WrongAddr = true;
                What = "fault wrong-addr";
                break;
            case 4:
                FlipBit();
                What = "fault noise";
                break;
            default:
                Frame.insert(Frame.begin(), static_cast<uint8_t>(Line.Rng()));
                What = "fault garbage";
                break;
        }
        ApplyFaults(Frame, F);
    }
    return true;
}

void LogLine(const TLine &Line, const std::string &Text) {
    if (!Line.Log) return;
    std::fputs(Text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Handles one complete frame; returns false when the line hung up.
bool HandleFrame(TLine &Line, TSimPty &Pty, const TSimFrame &Req, long &Answered) {
    // Formatting costs more than the rest of the request: only for --log.
    const std::string ReqText = Line.Log ? "REQ " + Hex(Req.data(), Req.size()) + " -> " : "";
    if (Req.size() < 4 ||
        !CheckCRC16(Req.data(), static_cast<int>(Req.size() - 2),
                    static_cast<uint16_t>(Req[Req.size() - 2] << 8 | Req.back()))) {
        LogLine(Line, ReqText + "SILENT bad-crc");
        return true;
    }
    const auto Own = Line.OwnLines.find(Req[0]);
    const TSimLineSettings &Want = Own == Line.OwnLines.end() ? Line.Settings : Own->second;
    const int HostBaud = Pty.HostBaud();
    const int HostStop = Pty.HostStopBits();
    const char HostParity = Pty.HostParity();
    if (HostBaud != Want.Baud || HostStop != Want.StopBits ||
        (Want.Parity && HostParity != Want.Parity)) {
        LogLine(Line, ReqText + "SILENT line " + std::to_string(HostBaud) + "/" +
                          std::to_string(HostStop) + (Want.Parity ? "/" : "") +
                          (Want.Parity ? std::string(1, HostParity) : ""));
        return true;
    }
    if (Line.HangupAfter >= 0 && Answered >= Line.HangupAfter) {
        LogLine(Line, ReqText + "HANGUP");
        std::puts("HANGUP");
        std::fflush(stdout);
        Pty.HangUp();
        return false;
    }
    auto It = Line.Devices.find(Req[0]);
    if (It == Line.Devices.end()) {
        LogLine(Line, ReqText + "SILENT no-device");
        return true;
    }
    TSimFrame Ans = Answer(It->second, Req, Line.Options, TimeOf(Line));
    ApplyFaults(Ans, It->second.Faults);
    std::string What;
    if (!RandomFault(Line, Ans, What)) {
        LogLine(Line, ReqText + "SILENT " + What);
        return true;
    }
    if (Line.DelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(Line.DelayMs));
    if (Line.ByteGapMs > 0) {
        for (size_t i = 0; i < Ans.size(); ++i) {
            if (i) std::this_thread::sleep_for(std::chrono::milliseconds(Line.ByteGapMs));
            Pty.WriteAll(&Ans[i], 1);
        }
    } else {
        Pty.WriteAll(Ans.data(), Ans.size());
    }
    if (Line.Log)
        LogLine(Line,
                ReqText + "ANS " + Hex(Ans.data(), Ans.size()) + (What.empty() ? "" : " " + What));
    ++Answered;
    return true;
}

int Serve(TLine &Line, TSimPty &Pty) {
    std::vector<uint8_t> Buf;
    uint8_t Chunk[1024];
    long Answered = 0;
    while (!StopRequested) {
        // An incomplete frame is dropped after a pause, as a slave resyncs on
        // the silence between frames.
        const int Got = Pty.ReadSome(Chunk, sizeof Chunk, Buf.empty() ? 200 : 50);
        if (Got <= 0) {
            if (!Buf.empty()) {
                // Unknown function or truncated request: take what came as one frame.
                TSimFrame Req(Buf.begin(), Buf.end());
                Buf.clear();
                if (!HandleFrame(Line, Pty, Req, Answered)) return 0;
            }
            continue;
        }
        Buf.insert(Buf.end(), Chunk, Chunk + Got);
        for (;;) {
            const int Len = RequestLength(Buf.data(), Buf.size());
            if (Len <= 0 || Buf.size() < static_cast<size_t>(Len)) break;
            TSimFrame Req(Buf.begin(), Buf.begin() + Len);
            Buf.erase(Buf.begin(), Buf.begin() + Len);
            if (!HandleFrame(Line, Pty, Req, Answered)) return 0;
        }
    }
    return 0;
}

}  // namespace

int RunModbusSim(int argc, char **argv) {
    TLine Line;
    std::string LinkPath;
    bool Demo = false;
    std::vector<std::pair<std::string, std::string>> Faults;
    std::vector<std::string> Files;
    std::vector<std::string> OwnLines;
    for (int i = 1; i < argc; ++i) {
        const std::string Arg = argv[i];
        auto Value = [&](std::string &Out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "veldra-sim modbus: %s needs a value\n", Arg.c_str());
                return false;
            }
            Out = argv[++i];
            return true;
        };
        std::string V;
        long N = 0;
        if (Arg == "--help" || Arg == "-h") {
            std::fputs(Help, stdout);
            return 0;
        } else if (Arg == "--log") {
            Line.Log = true;
        } else if (Arg == "--profiles") {
            Demo = true;
        } else if (Arg == "--no-limits") {
            Line.Options.NoLimits = true;
        } else if (!Value(V)) {
            return 2;
        } else if (Arg == "--link") {
            LinkPath = V;
        } else if (Arg == "--baud" && ParseLong(V, N) && N > 0) {
            Line.Settings.Baud = static_cast<int>(N);
        } else if (Arg == "--stop-bits" && ParseLong(V, N) && (N == 1 || N == 2)) {
            Line.Settings.StopBits = static_cast<int>(N);
        } else if (Arg == "--parity" && ParseParity(V, Line.Settings.Parity)) {
        } else if (Arg == "--device-line") {
            OwnLines.push_back(V);
        } else if (Arg == "--seed" && ParseLong(V, N)) {
            Line.Rng.seed(static_cast<unsigned>(N));
        } else if (Arg == "--delay-ms" && ParseLong(V, N) && N >= 0) {
            Line.DelayMs = static_cast<int>(N);
        } else if (Arg == "--byte-gap-ms" && ParseLong(V, N) && N >= 0) {
            Line.ByteGapMs = static_cast<int>(N);
        } else if (Arg == "--hangup-after" && ParseLong(V, N) && N >= 0) {
            Line.HangupAfter = N;
        } else if (Arg == "--noise" || Arg == "--fault-rate") {
            char *End = nullptr;
            const double P = std::strtod(V.c_str(), &End);
            if (*End != '\0' || !(P >= 0 && P <= 1)) {
                std::fprintf(stderr, "veldra-sim modbus: %s takes a probability 0..1\n",
                             Arg.c_str());
                return 2;
            }
            (Arg == "--noise" ? Line.Noise : Line.FaultRate) = P;
        } else if (Arg == "--device") {
            const size_t Colon = V.find(':');
            uint8_t Addr = 0;
            const std::string Profile = Colon == std::string::npos ? "plain" : V.substr(Colon + 1);
            if (!ParseAddr(V.substr(0, Colon), Addr) || !AddDevice(Line, Addr, Profile)) {
                std::fprintf(stderr, "veldra-sim modbus: bad --device %s\n", V.c_str());
                return 2;
            }
        } else if (Arg == "--registers") {
            Files.push_back(V);
        } else if (Arg == "--bad-crc" || Arg == "--wrong-addr" || Arg == "--short" ||
                   Arg == "--wrong-func" || Arg == "--bad-count" || Arg == "--bad-echo") {
            Faults.emplace_back(Arg, V);
        } else {
            std::fprintf(stderr, "veldra-sim modbus: bad option %s %s (see --help)\n", Arg.c_str(),
                         V.c_str());
            return 2;
        }
    }
    try {
        for (const std::string &File : Files) LoadRegisters(Line, File);
    } catch (const std::exception &E) {
        std::fprintf(stderr, "veldra-sim modbus: register file: %s\n", E.what());
        return 2;
    }
    if (Demo || Line.Devices.empty()) {
        TLine Demoline;
        AddDemoLine(Demoline);
        for (auto &[Addr, Dev] : Demoline.Devices) Line.Devices.try_emplace(Addr, std::move(Dev));
    }
    for (const auto &[Kind, Text] : Faults) {
        uint8_t Addr = 0;
        if (!ParseAddr(Text, Addr) || !Line.Devices.count(Addr)) {
            std::fprintf(stderr, "veldra-sim modbus: %s %s: no such device\n", Kind.c_str(),
                         Text.c_str());
            return 2;
        }
        TSimFaults &F = Line.Devices[Addr].Faults;
        if (Kind == "--bad-crc")
            F.BadCrc = true;
        else if (Kind == "--wrong-addr")
            F.WrongAddr = true;
        else if (Kind == "--short")
            F.Short = true;
        else if (Kind == "--wrong-func")
            F.WrongFunc = true;
        else if (Kind == "--bad-count")
            F.BadCount = true;
        else
            F.BadEcho = true;
    }

    for (const std::string &Text : OwnLines) {
        uint8_t Addr = 0;
        TSimLineSettings Own;
        if (!ParseOwnLine(Text, Addr, Own) || !Line.Devices.count(Addr)) {
            std::fprintf(stderr, "veldra-sim modbus: bad --device-line %s\n", Text.c_str());
            return 2;
        }
        Line.OwnLines[Addr] = Own;
    }

    InstallStopSignals(OnSignal);

    try {
        TSimPty Pty(LinkPath);
        AnnounceReady(Pty);
        return Serve(Line, Pty);
    } catch (const std::exception &E) {
        std::fprintf(stderr, "veldra-sim modbus: %s\n", E.what());
        return 1;
    }
}
