// Bootloader replies from an arbitrary line: single transactions, opening
// with identification, and whole uploads, all on a virtual clock.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "FuzzPort.h"
#include "bootloader/XComm.h"

namespace {

struct TImage {
    std::string Path;
    std::vector<uint8_t> Bytes;
    TCODFileData Hdr;
};
TImage Small, Esp;

void WriteFile(const std::string &Path, const std::vector<uint8_t> &Bytes) {
    std::ofstream(Path, std::ios::binary)
        .write(reinterpret_cast<const char *>(Bytes.data()),
               static_cast<std::streamsize>(Bytes.size()));
}

// 16-byte header, 8-byte packets: 12 data bytes give 4 packets (8, 8, 8, 4).
std::vector<uint8_t> SmallImage() {
    std::vector<uint8_t> f(16 + 12);
    f[3] = 12;
    f[7] = 1;
    f[8] = 2;
    f[9] = 7;
    f[10] = 'A';
    f[11] = 'V';
    f[12] = 'R';
    uint8_t sum = 2;
    for (int i = 0; i < 15; ++i) sum = static_cast<uint8_t>(sum + f[i]);
    f[15] = sum;
    for (size_t i = 16; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i * 7);
    return f;
}

// 32-byte header: 32 + 500 bytes give 3 packets of 240, 240, 52.
std::vector<uint8_t> EspImage() {
    std::vector<uint8_t> f(32 + 500);
    const char *magic = "\r\nORVcod";
    for (int i = 0; i < 8; ++i) f[i] = static_cast<uint8_t>(magic[i]);
    f[22] = 0x2C;
    f[23] = 0x01;
    f[24] = 5;
    f[25] = 2;
    uint16_t sum = 0;
    for (size_t i = 32; i < f.size(); ++i) {
        f[i] = static_cast<uint8_t>(i * 13 + 1);
        sum = static_cast<uint16_t>(sum + f[i]);
    }
    f[26] = static_cast<uint8_t>(sum);
    f[27] = static_cast<uint8_t>(sum >> 8);
    f[28] = static_cast<uint8_t>(500 & 0xFF);
    f[29] = static_cast<uint8_t>(500 >> 8);
    return f;
}

void Prepare(TImage &Image, const std::string &Dir, const char *Name, std::vector<uint8_t> Bytes) {
    Image.Path = Dir + "/" + Name;
    Image.Bytes = std::move(Bytes);
    WriteFile(Image.Path, Image.Bytes);
    FUZZ_REQUIRE(ValidateFile(Image.Path, Image.Hdr));
}

std::string TempDir;
void RemoveTemp() {
    unlink(Small.Path.c_str());
    unlink(Esp.Path.c_str());
    rmdir(TempDir.c_str());
}

// Every data request carries its packet number and the matching file slice.
void CheckDataRequests(const TFuzzPort &Port, const TImage &Image) {
    const size_t P = Image.Hdr.IsESP32() ? 240 : 8;
    for (const auto &R : Port.Requests()) {
        FUZZ_REQUIRE(R.size() >= 6 && R[0] == 0xF5 && R[1] == R.size() - 1);
        FUZZ_REQUIRE(R.back() == RefCrc8(R.data() + 1, R.size() - 2));
        if (R[2] != 0x0D) continue;
        const size_t No = static_cast<size_t>(R[3] | (R[4] << 8));
        const size_t N = R.size() - 6;
        if (No == 0) {
            FUZZ_REQUIRE(N == 0);
            continue;
        }
        const size_t Off = (No - 1) * P;
        FUZZ_REQUIRE(Off < Image.Bytes.size());
        FUZZ_REQUIRE(N == std::min(P, Image.Bytes.size() - Off));
        FUZZ_REQUIRE(
            std::equal(R.begin() + 5, R.end() - 1, Image.Bytes.begin() + static_cast<long>(Off)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char Tmpl[] = "/tmp/veldra-fuzz-boot.XXXXXX";
    FUZZ_REQUIRE(mkdtemp(Tmpl) != nullptr);
    TempDir = Tmpl;
    Prepare(Small, TempDir, "small.cod", SmallImage());
    Prepare(Esp, TempDir, "esp.cod", EspImage());
    std::atexit(RemoveTemp);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    TFuzzInput In(Data, Size);
    const uint8_t Mode = In.Byte();
    auto Own = std::make_unique<TFuzzPort>(In);
    TFuzzPort *Port = Own.get();
    TXComm X(*Own);
    X.SetClock(*Port);
    try {
        switch (Mode % 4) {
            case 0: {  // one exchange, judged against the reference
                static const uint8_t Cmds[] = {CCmdIdent, CCmdIdent16, CCmdData};
                const uint8_t Cmd = Cmds[In.Byte() % 3];
                if (Port->Open(LinkAt(br19200, "fuzz"))) return 0;
                TByteArray Reply;
                const bool Ok = X.Transact(BuildRequest(Cmd, In.Word()), Reply, 500);
                std::vector<uint8_t> Payload;
                FUZZ_REQUIRE(Ok == RefBootReply(Port->Delivered(), Cmd, Payload));
                if (Ok) FUZZ_REQUIRE(Reply == Payload);
                break;
            }
            case 1: {  // finding and identifying the sensor
                const bool Ok = X.Open("fuzz");
                if (Ok)
                    FUZZ_REQUIRE(X.Connected() == (X.SensorID() != 0));
                else
                    FUZZ_REQUIRE(!X.Connected() && X.SensorID() == 0 && X.COMPort().empty());
                break;
            }
            default: {  // a whole upload
                const TImage &Image = (Mode % 4 == 2) ? Small : Esp;
                X.SetMaxRetry(In.Byte() % 8);
                X.SetMaxFails(In.Byte() % 24);
                if (Port->Open(LinkAt(br19200, "fuzz"))) return 0;
                int LastSent = 0, LastFail = 0, Reports = 0;
                const bool Ok =
                    X.UploadFile(Image.Path, Image.Hdr, [&](int Sent, int Fail, int Progress) {
                        FUZZ_REQUIRE(Progress >= 0 && Progress <= 100);
                        FUZZ_REQUIRE(Sent >= LastSent && Fail >= LastFail);
                        FUZZ_REQUIRE(Fail <= X.MaxFails());
                        LastSent = Sent;
                        LastFail = Fail;
                        ++Reports;
                    });
                CheckDataRequests(*Port, Image);
                if (Ok) {
                    // Success: the completion was acknowledged, and every
                    // identification request after the last data packet went
                    // without a valid answer.
                    const auto &Reqs = Port->Requests();
                    size_t LastData = Reqs.size();
                    for (size_t i = 0; i < Reqs.size(); ++i)
                        if (Reqs[i][2] == CCmdData) LastData = i;
                    FUZZ_REQUIRE(LastData + CFinalIdentAttempts < Reqs.size() && Reports > 0);
                    std::vector<uint8_t> Payload;
                    FUZZ_REQUIRE(RefBootReply(Port->DeliveredAfter(LastData), CCmdData, Payload) &&
                                 Payload.size() == 2 && Payload[0] == 0xFE && Payload[1] == 0xFF);
                    for (size_t i = LastData + 1; i < Reqs.size(); ++i) {
                        FUZZ_REQUIRE(Reqs[i][2] == CCmdIdent || Reqs[i][2] == CCmdIdent16);
                        // An identification answer counts only with its own payload size.
                        const size_t Want = Reqs[i][2] == CCmdIdent ? 3 : 4;
                        FUZZ_REQUIRE(!RefBootReply(Port->DeliveredAfter(i), Reqs[i][2], Payload) ||
                                     Payload.size() != Want);
                    }
                }
                break;
            }
        }
    } catch (const EComPort &) {
        // The line went away: the caller sees the port's error.
    }
    return 0;
}
