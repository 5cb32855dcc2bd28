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

uint16_t Le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
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

size_t TCodFileReader::Read(uint8_t *Buf, size_t Count) {
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

// --- Checks ----------------------------------------------------------------

namespace {

constexpr int CHead32 = 32;
constexpr int CHead16 = 16;

// Adds bytes to the 32-byte header's image sum (kept wide; only its low 16
// bits count).
uint32_t AddBytes(uint32_t Sum, const uint8_t *P, size_t N) {
    for (size_t i = 0; i < N; ++i) Sum += P[i];
    return Sum;
}

bool HasMagic(const uint8_t *Head) {
    return std::memcmp(Head, CCodMagic, CCodMagicLen) == 0;
}

// The 32-byte layout: Head is the header (zero-padded when the file is
// shorter), Size the whole file's size, Sum the image's sum.
TCodCheck Judge32(const uint8_t *Head, uint64_t Size, uint32_t Sum, TCODFileData &Data) {
    if (Size < CHead32) return TCodCheck::TooShort;
    if (Size - CHead32 != Le32(Head + 28)) return TCodCheck::WrongSize;
    if (static_cast<uint16_t>(Sum) != Le16(Head + 26)) return TCodCheck::ImageChecksum;
    TCODFileData Result;
    Result.FileSize = Size;
    Result.DeviceID = Le16(Head + 22);
    Result.Version.Hi = Head[25];
    Result.Version.Lo = Head[24];
    Result.ProcessorType = "ESP32";
    Result.HeaderSize = CHead32;
    Data = Result;
    return TCodCheck::None;
}

// The 16-byte layout: the header alone decides; the image is not covered.
TCodCheck Judge16(const uint8_t *H, uint64_t Size, TCODFileData &Data) {
    uint8_t Sum = 2;
    for (int i = 0; i < 15; ++i) Sum = static_cast<uint8_t>(Sum + H[i]);
    if (Size < CHead16) return TCodCheck::TooShort;
    if (Sum != H[15]) return TCodCheck::HeaderChecksum;
    if (Size - CHead16 != Le32(H + 3)) return TCodCheck::WrongSize;
    TCODFileData Result;
    Result.FileSize = Size;
    Result.DeviceID = H[9];
    Result.Version.Hi = H[7];
    Result.Version.Lo = H[8];
    Result.ProcessorType = Latin1ToUtf8(H + 10, 5);
    Result.HeaderSize = CHead16;
    Data = Result;
    return TCodCheck::None;
}

// A file that cannot be judged without reading more than an upload could
// ever carry: its size and the processor its header names, nothing else.
TCODFileData SizeOnly(const uint8_t *Head, uint64_t Size) {
    TCODFileData Big;
    Big.FileSize = Size;
    Big.ProcessorType = HasMagic(Head) ? std::string("ESP32") : Latin1ToUtf8(Head + 10, 5);
    return Big;
}

// Streams the rest of a 32-byte-header file (the header has been read)
// through a fixed buffer and judges it. Reads to the end of the file, not to
// the size taken when it was opened, and never beyond CMaxCodFileBytes.
TCodLoad Stream32(TCodFileReader &File, const uint8_t *Head, TCODFileData &Data,
                  TCodCheck &Failed) {
    constexpr size_t CBuffer = 128 << 10;
    const std::unique_ptr<uint8_t[]> Buf(new uint8_t[CBuffer]);
    uint64_t Size = CHead32;
    uint32_t Sum = 0;
    for (;;) {
        const size_t N = File.Read(Buf.get(), CBuffer);
        if (N == 0) break;
        Sum = AddBytes(Sum, Buf.get(), N);
        Size += N;
        if (Size > CMaxCodFileBytes) {
            Data = SizeOnly(Head, std::max(Size, File.Size()));
            return TCodLoad::TooBig;
        }
    }
    TCODFileData Result;
    Failed = Judge32(Head, Size, Sum, Result);
    if (Failed != TCodCheck::None) return TCodLoad::Invalid;
    Data = Result;
    return Result.FitsUpload() ? TCodLoad::Ok : TCodLoad::TooBig;
}

// Stream32 for a file whose header was read (HeadLen bytes of it).
TCodLoad Stream32Whole(TCodFileReader &File, const uint8_t *Head, size_t HeadLen,
                       TCODFileData &Data, TCodCheck &Failed) {
    if (HeadLen < CHead32) {
        Failed = TCodCheck::TooShort;
        return TCodLoad::Invalid;
    }
    return Stream32(File, Head, Data, Failed);
}

// Reads the whole file into Image: one allocation of the size the file had
// when opened, the header already read copied in, the rest read straight
// in. A file that grew since is read on to its end (never beyond
// CMaxCodFileBytes + 1 bytes), one that shrank is cut.
void ReadWhole(TCodFileReader &File, const uint8_t *Head, size_t HeadLen, TFirmwareBytes &Image) {
    const size_t Size =
        static_cast<size_t>(std::clamp<uint64_t>(File.Size(), HeadLen, CMaxCodFileBytes + 1));
    Image.resize(Size);  // no zero fill (TNoInitAllocator)
    // An empty file has no buffer at all: nothing to copy into it.
    if (HeadLen > 0) std::memcpy(Image.data(), Head, HeadLen);
    size_t Have = HeadLen + File.Read(Image.data() + HeadLen, Size - HeadLen);
    if (Have == Size) {
        // More than the size said? Looked at through a small buffer, so that
        // the usual end of the file costs no second allocation.
        uint8_t More[4096];
        for (;;) {
            const size_t N = File.Read(More, sizeof More);
            if (N == 0 || Have > CMaxCodFileBytes) break;
            Image.insert(Image.end(), More, More + N);
            Have += N;
        }
    }
    Image.resize(std::min<size_t>(Have, CMaxCodFileBytes + 1));
}

// The common road of LoadFirmware (Image set: keep the bytes) and
// CheckFirmware (Image null).
TCodLoad CheckCod(const std::string &FName, TFirmwareBytes *Image, TCODFileData &Data,
                  TCodCheck &Failed) {
    Failed = TCodCheck::None;
    if (Image) Image->clear();
    if (!CodFileExists(FName)) return TCodLoad::Missing;
    TCodFileReader File(FName);
    uint8_t Head[CHead32] = {};
    const size_t HeadLen = File.Read(Head, sizeof Head);
    const uint64_t Size = std::max<uint64_t>(File.Size(), HeadLen);

    // Refused from its size and header alone: more packets than an upload
    // can carry. A 16-byte header is judged whole from itself; a 32-byte
    // one is judged (streamed) only while the file is small enough to read.
    TCODFileData Facts = SizeOnly(Head, Size);
    if (!Facts.FitsUpload()) {
        if (!HasMagic(Head)) {
            Failed = Judge16(Head, Size, Facts);
            if (Failed != TCodCheck::None) return TCodLoad::Invalid;
            Data = Facts;
            return TCodLoad::TooBig;
        }
        if (Size > CMaxCodFileBytes) {
            Data = Facts;
            return TCodLoad::TooBig;
        }
        return Stream32Whole(File, Head, HeadLen, Data, Failed);
    }

    if (!Image) {
        if (HasMagic(Head)) return Stream32Whole(File, Head, HeadLen, Data, Failed);
        TCODFileData Result;
        Failed = Judge16(Head, Size, Result);
        if (Failed != TCodCheck::None) return TCodLoad::Invalid;
        Data = Result;
        return TCodLoad::Ok;
    }

    // Kept for an upload: the bytes read are the bytes judged.
    TFirmwareBytes Bytes;
    ReadWhole(File, Head, HeadLen, Bytes);
    if (Bytes.size() > CMaxCodFileBytes) {
        Data = SizeOnly(Bytes.data(), Bytes.size());
        return TCodLoad::TooBig;
    }
    TCODFileData Result;
    if (!ValidateImage(Bytes, Result, &Failed)) return TCodLoad::Invalid;
    Data = Result;
    if (!Result.FitsUpload()) return TCodLoad::TooBig;
    *Image = std::move(Bytes);
    return TCodLoad::Ok;
}

}  // namespace

bool ValidateImage(std::span<const uint8_t> Image, TCODFileData &Data, TCodCheck *Failed) {
    uint8_t Head[CHead32] = {};
    if (!Image.empty())  // short: the size checks catch it
        std::memcpy(Head, Image.data(), std::min<size_t>(Image.size(), sizeof Head));
    TCodCheck Check;
    if (HasMagic(Head)) {
        const size_t From = std::min<size_t>(Image.size(), CHead32);
        Check = Judge32(Head, Image.size(), AddBytes(0, Image.data() + From, Image.size() - From),
                        Data);
    } else {
        Check = Judge16(Head, Image.size(), Data);
    }
    if (Failed) *Failed = Check;
    return Check == TCodCheck::None;
}

TCodLoad LoadFirmware(const std::string &FName, TFirmwareBytes &Image, TCODFileData &Data,
                      TCodCheck *Failed) {
    TCodCheck Check;
    const TCodLoad Load = CheckCod(FName, &Image, Data, Check);
    if (Failed) *Failed = Check;
    return Load;
}

TCodLoad CheckFirmware(const std::string &FName, TCODFileData &Data, TCodCheck *Failed) {
    TCodCheck Check;
    const TCodLoad Load = CheckCod(FName, nullptr, Data, Check);
    if (Failed) *Failed = Check;
    return Load;
}

bool ValidateFile(const std::string &FName, TCODFileData &Data) {
    TCODFileData Result;
    const TCodLoad Load = CheckFirmware(FName, Result);
    // A file too big to upload may still be sound; one too big to read is not judged.
    if (Load == TCodLoad::Ok || (Load == TCodLoad::TooBig && Result.HeaderSize != 0)) {
        Data = Result;
        return true;
    }
    return false;
}
