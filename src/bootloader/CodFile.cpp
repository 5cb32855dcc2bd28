#include "bootloader/CodFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "bootloader/CodFileIO.h"

const char CCodMagic[CCodMagicLen + 1] = "\r\nORVcod";

namespace {

uint16_t Le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// ISO 8859-1 to UTF-8, up to the first zero byte.
std::string Latin1ToUtf8(const uint8_t *p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n && p[i] != 0; ++i) {
        if (p[i] < 0x80) {
            s += static_cast<char>(p[i]);
        } else {
            s += static_cast<char>(0xC0 | (p[i] >> 6));
            s += static_cast<char>(0x80 | (p[i] & 0x3F));
        }
    }
    return s;
}

}  // namespace

std::string TCODFileData::ProcessorTypeText() const { return ProcessorType.empty() ? "(none)" : ProcessorType; }

std::string TCODFileData::LayoutText() const {
    return HeaderSize == 32 ? "32-byte header (ESP32)" : "16-byte header";
}

// --- TCodFileReader -------------------------------------------------------

bool CodFileExists(const std::string &FName) {
    struct stat st {};
    return !FName.empty() && stat(FName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TCodFileReader::TCodFileReader(const std::string &FName) : FName(FName) {
    do {
        FFd = open(FName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (FFd < 0 && errno == EINTR);
    if (FFd < 0) throw EFileError(errno, "Cannot open file \"" + FName + "\"");
    struct stat st {};
    if (fstat(FFd, &st) != 0) {
        const int e = errno;
        close(FFd);
        FFd = -1;
        throw EFileError(e, "Cannot open file \"" + FName + "\"");
    }
    FSize = static_cast<uint64_t>(st.st_size);
}

TCodFileReader::~TCodFileReader() {
    if (FFd >= 0) close(FFd);
}

size_t TCodFileReader::ReadRaw(uint8_t *Buf, size_t Count) {
    size_t Done = 0;
    while (Done < Count) {
        const ssize_t n = read(FFd, Buf + Done, Count - Done);
        if (n > 0) {
            Done += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        throw EFileError(errno, "Error reading file \"" + FName + "\"");
    }
    return Done;
}

size_t TCodFileReader::Read(uint8_t *Buf, size_t Count) {
    constexpr size_t CBlockSize = 1 << 16;
    size_t Done = 0;
    while (Done < Count) {
        if (FBlockPos == FBlockLen) {
            // Large reads bypass the block; small ones refill it.
            if (Count - Done >= CBlockSize) {
                Done += ReadRaw(Buf + Done, Count - Done);
                break;
            }
            FBlock.resize(CBlockSize);
            FBlockLen = ReadRaw(FBlock.data(), CBlockSize);
            FBlockPos = 0;
            if (FBlockLen == 0) break;
        }
        const size_t n = std::min(Count - Done, FBlockLen - FBlockPos);
        std::memcpy(Buf + Done, FBlock.data() + FBlockPos, n);
        FBlockPos += n;
        Done += n;
    }
    FPosition += Done;
    return Done;
}

void TCodFileReader::Rewind() {
    if (lseek(FFd, 0, SEEK_SET) != 0) throw EFileError(errno, "Error reading file \"" + FName + "\"");
    FPosition = 0;
    FBlockPos = FBlockLen = 0;
}

// --- ValidateFile ---------------------------------------------------------

std::string TCODFileData::TooBigText() const {
    return "The firmware file is too big to upload (" + std::to_string(PacketCount()) + " packets, at most " +
           std::to_string(CMaxDataPackets) + ")";
}

bool ValidateImage(const TByteArray &Image, TCODFileData &Data) {
    const int64_t Size = static_cast<int64_t>(Image.size());
    uint8_t Head[32] = {};
    std::memcpy(Head, Image.data(), std::min<size_t>(Image.size(), sizeof Head));  // short: the size checks catch it

    TCODFileData Result;
    Result.FileSize = Image.size();
    if (std::memcmp(Head, CCodMagic, CCodMagicLen) == 0) {
        // 32-byte header: 16-bit sum over the image.
        uint32_t Sum = 0;
        for (size_t i = std::min<size_t>(Image.size(), 32); i < Image.size(); ++i) Sum += Image[i];
        if (static_cast<uint16_t>(Sum) != Le16(Head + 26) || Size - 32 != static_cast<int64_t>(Le32(Head + 28)))
            return false;
        Result.DeviceID = Le16(Head + 22);
        Result.Version.Hi = Head[25];
        Result.Version.Lo = Head[24];
        Result.ProcessorType = "ESP32";
        Result.HeaderSize = 32;
    } else {
        // 16-byte header with its own checksum; the image is not covered.
        const uint8_t *H = Head;
        uint8_t Sum = 2;
        for (int i = 0; i < 15; ++i) Sum = static_cast<uint8_t>(Sum + H[i]);
        if (Sum != H[15] || Size - 16 != static_cast<int64_t>(Le32(H + 3))) return false;
        Result.DeviceID = H[9];
        Result.Version.Hi = H[7];
        Result.Version.Lo = H[8];
        Result.ProcessorType = Latin1ToUtf8(H + 10, 5);
        Result.HeaderSize = 16;
    }
    Data = Result;
    return true;
}

TCodLoad LoadFirmware(const std::string &FName, TByteArray &Image, TCODFileData &Data) {
    Image.clear();
    if (!CodFileExists(FName)) return TCodLoad::Missing;
    TCodFileReader File(FName);
    // Read to the end, not to the size stat() gave: the file may change
    // meanwhile, and what was read is what gets checked and sent.
    TByteArray Bytes;
    if (File.Size() <= CMaxCodFileBytes) Bytes.reserve(static_cast<size_t>(File.Size()));
    constexpr size_t CBlock = 1 << 16;
    while (Bytes.size() <= CMaxCodFileBytes) {
        const size_t Old = Bytes.size();
        Bytes.resize(Old + CBlock);
        const size_t N = File.Read(Bytes.data() + Old, CBlock);
        Bytes.resize(Old + N);
        if (N == 0) break;
    }
    if (Bytes.size() > CMaxCodFileBytes) {
        // Never uploadable: say how big from the header alone.
        TCODFileData Big;
        Big.FileSize = std::max<uint64_t>(File.Size(), Bytes.size());
        if (std::memcmp(Bytes.data(), CCodMagic, CCodMagicLen) == 0) Big.ProcessorType = "ESP32";
        Data = Big;
        return TCodLoad::TooBig;
    }
    TCODFileData Result;
    if (!ValidateImage(Bytes, Result)) return TCodLoad::Invalid;
    Data = Result;
    if (!Result.FitsUpload()) return TCodLoad::TooBig;
    Image = std::move(Bytes);
    return TCodLoad::Ok;
}

bool ValidateFile(const std::string &FName, TCODFileData &Data) {
    TByteArray Image;
    TCODFileData Result;
    const TCodLoad Load = LoadFirmware(FName, Image, Result);
    // A file too big to upload may still be sound; one too big to read is not judged.
    if (Load == TCodLoad::Ok || (Load == TCodLoad::TooBig && Result.HeaderSize != 0)) {
        Data = Result;
        return true;
    }
    return false;
}
