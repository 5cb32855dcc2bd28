// Firmware-file check on arbitrary file contents, against a reference of
// the two header layouts.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "FuzzCheck.h"
#include "bootloader/CodFile.h"

namespace {

std::string FilePath;
void RemoveFile() {
    unlink(FilePath.c_str());
}

uint32_t Le32(const uint8_t *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool Reference(const uint8_t *d, size_t n, TCODFileData &Out) {
    if (n >= 8 && std::memcmp(d, "\r\nORVcod", 8) == 0) {
        if (n < 32) return false;
        uint16_t Sum = 0;
        for (size_t i = 32; i < n; ++i) Sum = static_cast<uint16_t>(Sum + d[i]);
        if (Sum != (d[26] | (d[27] << 8)) || n - 32 != Le32(d + 28)) return false;
        Out.DeviceID = static_cast<uint16_t>(d[22] | (d[23] << 8));
        Out.Version = {d[25], d[24]};
        Out.ProcessorType = "ESP32";
        return true;
    }
    if (n < 16) return false;
    uint8_t Sum = 2;
    for (int i = 0; i < 15; ++i) Sum = static_cast<uint8_t>(Sum + d[i]);
    if (Sum != d[15] || n - 16 != Le32(d + 3)) return false;
    Out.DeviceID = d[9];
    Out.Version = {d[7], d[8]};
    for (int i = 10; i < 15 && d[i] != 0; ++i) {
        // ISO 8859-1 as UTF-8.
        if (d[i] < 0x80) {
            Out.ProcessorType += static_cast<char>(d[i]);
        } else {
            Out.ProcessorType += static_cast<char>(0xC0 | (d[i] >> 6));
            Out.ProcessorType += static_cast<char>(0x80 | (d[i] & 0x3F));
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char Tmpl[] = "/tmp/veldra-fuzz-cod.XXXXXX";
    const int fd = mkstemp(Tmpl);
    FUZZ_REQUIRE(fd >= 0);
    close(fd);
    FilePath = Tmpl;
    std::atexit(RemoveFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    {
        std::ofstream f(FilePath, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(Data), static_cast<std::streamsize>(Size));
    }
    TCODFileData Got, Want;
    Got.DeviceID = 0xDEAD;
    const bool Ok = ValidateFile(FilePath, Got);
    FUZZ_REQUIRE(Ok == Reference(Data, Size, Want));
    if (Ok) {
        FUZZ_REQUIRE(Got.DeviceID == Want.DeviceID && Got.Version == Want.Version);
        FUZZ_REQUIRE(Got.ProcessorType == Want.ProcessorType);
        FUZZ_REQUIRE(Got.FileSize == Size);
    } else {
        FUZZ_REQUIRE(Got.DeviceID == 0xDEAD);  // untouched on failure
    }
    return 0;
}
