// Firmware file check: both header layouts, their checksums and size fields.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "CodFixtures.h"
#include "TempDir.h"
#include "bootloader/CodFile.h"

namespace {

struct TValid {
    const char *Name;
    std::string Bytes;
    uint16_t DeviceID;
    uint8_t Hi, Lo;
    std::string Processor;
    int HeaderSize;
};

TEST(ValidateFile, ValidFilesDecodeTheirHeader) {
    std::string NoTerminator = MakeCod16(9, 1, 2, "ABCDE", "xyz");
    std::string Esp16 = MakeCod16(33, 4, 1, "ESP32", MakeImage(100));
    std::string Latin1 = MakeCod16(5, 1, 0,
                                   "\xC4"
                                   "B",
                                   "");
    const TValid Rows[] = {
        {"32-byte header", MakeCod32(0x1234, 2, 5, MakeImage(1000)), 0x1234, 2, 5, "ESP32", 32},
        {"32-byte header, empty image", MakeCod32(7, 1, 0, ""), 7, 1, 0, "ESP32", 32},
        {"32-byte header, sum wraps past 65535", MakeCod32(300, 3, 99, std::string(1000, '\xFF')),
         300, 3, 99, "ESP32", 32},
        {"16-byte header", MakeCod16(17, 2, 5, "PIC", MakeImage(100)), 17, 2, 5, "PIC", 16},
        {"16-byte header, two letters then zeros", MakeCod16(1, 0, 9, "AB", "12345678"), 1, 0, 9,
         "AB", 16},
        {"16-byte header, five letters, no zero", NoTerminator, 9, 1, 2, "ABCDE", 16},
        {"16-byte header naming ESP32", Esp16, 33, 4, 1, "ESP32", 16},
        {"16-byte header, empty image", MakeCod16(255, 255, 255, "X", ""), 255, 255, 255, "X", 16},
        {"processor text is Latin-1", Latin1, 5, 1, 0,
         "\xC3\x84"
         "B",
         16},
    };
    TTempDir Dir;
    for (const auto &R : Rows) {
        const std::string Path = Dir.Write("f.cod", R.Bytes);
        TCODFileData D;
        ASSERT_TRUE(ValidateFile(Path, D)) << R.Name;
        EXPECT_EQ(D.DeviceID, R.DeviceID) << R.Name;
        EXPECT_EQ(D.Version.Hi, R.Hi) << R.Name;
        EXPECT_EQ(D.Version.Lo, R.Lo) << R.Name;
        EXPECT_EQ(D.ProcessorType, R.Processor) << R.Name;
        EXPECT_EQ(D.HeaderSize, R.HeaderSize) << R.Name;
        EXPECT_EQ(D.FileSize, R.Bytes.size()) << R.Name;
        EXPECT_EQ(D.IsESP32(), R.Processor == "ESP32") << R.Name;
    }
}

TEST(ValidateFile, InvalidFilesLeaveTheRecordAlone) {
    const std::string Good32 = MakeCod32(0x1234, 2, 5, MakeImage(1000));
    const std::string Good16 = MakeCod16(17, 2, 5, "PIC", MakeImage(100));

    auto Flip = [](std::string S, size_t At) {
        S[At] = static_cast<char>(S[At] ^ 0x01);
        return S;
    };
    std::string MagicShort =
        std::string("\r\nORVcod") + std::string(20, '\0');  // magic, under 32 bytes
    std::string CaseMagic = Good32;
    CaseMagic[4] = 'v';  // "\r\nORvcod": read with the 16-byte header, which does not fit
    std::string SizeField32 = Good32;
    SizeField32[28] = static_cast<char>(SizeField32[28] + 1);
    std::string SizeField16 = Good16;
    SizeField16[3] = static_cast<char>(SizeField16[3] + 1);
    FixCod16Checksum(SizeField16);
    // Only the header checksum is wrong: the sum plus 2 would be right.
    std::string Sum16NoPlus2 = Good16;
    Sum16NoPlus2[15] = static_cast<char>(Sum16NoPlus2[15] - 2);

    using C = TCodCheck;
    const struct {
        const char *Name;
        std::string Bytes;
        TCodCheck Check;  // the check that refuses it, said by every road
    } Rows[] = {
        {"empty file", "", C::TooShort},
        {"15 bytes", std::string(15, '\0'), C::TooShort},
        {"magic but shorter than 32 bytes", MagicShort, C::TooShort},
        {"magic only", "\r\nORVcod", C::TooShort},
        {"image byte changed", Flip(Good32, 500), C::ImageChecksum},
        {"last image byte changed", Flip(Good32, Good32.size() - 1), C::ImageChecksum},
        {"checksum field changed", Flip(Good32, 26), C::ImageChecksum},
        {"32-byte header, size field wrong", SizeField32, C::WrongSize},
        {"32-byte header, one byte appended", Good32 + "x", C::WrongSize},
        {"32-byte header, last byte cut", Good32.substr(0, Good32.size() - 1), C::WrongSize},
        {"magic in other letter case", CaseMagic, C::HeaderChecksum},
        {"16-byte header, checksum byte changed", Flip(Good16, 15), C::HeaderChecksum},
        {"16-byte header, device ID changed", Flip(Good16, 9), C::HeaderChecksum},
        {"16-byte header, uninterpreted byte changed", Flip(Good16, 0), C::HeaderChecksum},
        {"16-byte header, checksum without the 2", Sum16NoPlus2, C::HeaderChecksum},
        {"16-byte header, size field wrong", SizeField16, C::WrongSize},
        {"16-byte header, one byte appended", Good16 + "x", C::WrongSize},
    };
    TTempDir Dir;
    for (const auto &R : Rows) {
        const std::string Path = Dir.Write("bad.cod", R.Bytes);
        TCODFileData D;
        D.DeviceID = 4711;
        D.ProcessorType = "keep";
        EXPECT_FALSE(ValidateFile(Path, D)) << R.Name;
        EXPECT_EQ(D.DeviceID, 4711) << R.Name;
        EXPECT_EQ(D.ProcessorType, "keep") << R.Name;
        // Which check failed: the same whether the file is kept, streamed
        // or judged in memory.
        TCodCheck Kept = C::None, Streamed = C::None, InMemory = C::None;
        TFirmwareBytes Image;
        EXPECT_EQ(LoadFirmware(Path, Image, D, &Kept), TCodLoad::Invalid) << R.Name;
        EXPECT_EQ(CheckFirmware(Path, D, &Streamed), TCodLoad::Invalid) << R.Name;
        const std::span<const uint8_t> Bytes(reinterpret_cast<const uint8_t *>(R.Bytes.data()),
                                             R.Bytes.size());
        EXPECT_FALSE(ValidateImage(Bytes, D, &InMemory)) << R.Name;
        EXPECT_EQ(Kept, R.Check) << R.Name;
        EXPECT_EQ(Streamed, R.Check) << R.Name;
        EXPECT_EQ(InMemory, R.Check) << R.Name;
    }
    // A sound file has no failed check.
    TCodCheck Check = C::TooShort;
    TCODFileData D;
    EXPECT_EQ(CheckFirmware(Dir.Write("good.cod", Good16), D, &Check), TCodLoad::Ok);
    EXPECT_EQ(Check, C::None);
}

TEST(ValidateFile, ChangesTheChecksumsCannotSee) {
    TTempDir Dir;
    TCODFileData D;
    // Two image bytes swapped keep the 16-bit sum.
    std::string Img = MakeImage(64);
    Img[10] = 'a';
    Img[20] = 'b';
    std::string Swapped = MakeCod32(1, 1, 1, Img);
    std::swap(Swapped[32 + 10], Swapped[32 + 20]);
    EXPECT_TRUE(ValidateFile(Dir.Write("s.cod", Swapped), D));
    // The image of a 16-byte-header file is not covered at all.
    std::string Changed = MakeCod16(3, 1, 1, "PIC", MakeImage(64));
    Changed[40] = static_cast<char>(Changed[40] ^ 0xFF);
    EXPECT_TRUE(ValidateFile(Dir.Write("c.cod", Changed), D));
    // Worked example: header bytes adding up to 0x1FE need checksum 0x00.
    std::string H(16, '\0');
    H[0] = static_cast<char>(0xFF);
    H[1] = static_cast<char>(0xFF);  // 0x1FE with the zero size field
    H[15] = 0;
    EXPECT_TRUE(ValidateFile(Dir.Write("w.cod", H), D));
    EXPECT_EQ(D.HeaderSize, 16);
}

TEST(ValidateFile, MissingAndUnreadableFiles) {
    TTempDir Dir;
    TCODFileData D;
    EXPECT_FALSE(ValidateFile(Dir.File("none.cod"), D));
    EXPECT_FALSE(ValidateFile("", D));
    EXPECT_FALSE(ValidateFile(Dir.Path(), D));  // a directory is no file
    if (geteuid() != 0) {
        const std::string Path = Dir.Write("locked.cod", MakeCod16(1, 1, 1, "PIC", "abc"));
        chmod(Path.c_str(), 0);
        EXPECT_THROW(ValidateFile(Path, D), EFileError);
    }
    // A file that opens but cannot be read raises as well (this one fails
    // with EIO at offset 0).
    EXPECT_THROW(ValidateFile("/proc/self/mem", D), EFileError);
}

TEST(ValidateFile, LeavesTheFileUntouched) {
    TTempDir Dir;
    const std::string Bytes = MakeCod32(2, 1, 0, MakeImage(5000));
    const std::string Path = Dir.Write("ro.cod", Bytes);
    chmod(Path.c_str(), 0444);
    struct stat Before {};
    stat(Path.c_str(), &Before);
    TCODFileData D;
    EXPECT_TRUE(ValidateFile(Path, D));
    struct stat After {};
    stat(Path.c_str(), &After);
    EXPECT_EQ(ReadFileText(Path), Bytes);
    EXPECT_EQ(Before.st_mtim.tv_sec, After.st_mtim.tv_sec);
    EXPECT_EQ(Before.st_mtim.tv_nsec, After.st_mtim.tv_nsec);
}

// Bytes this process has read through read() and friends so far
// (/proc/self/io, "rchar"); -1 where the kernel does not say.
long long BytesReadSoFar() {
    std::ifstream In("/proc/self/io");
    std::string Key;
    long long Value = -1;
    while (In >> Key >> Value)
        if (Key == "rchar:") return Value;
    return -1;
}

// Both roads of the check, keeping the file for an upload or streaming it,
// come to the same verdict and the same description.
TEST(LoadFirmware, KeptOrStreamedTheVerdictIsTheSame) {
    TTempDir Dir;
    std::string Damaged = MakeCod32(300, 3, 1, MakeImage(5000));
    Damaged[100] ^= 1;
    std::string BadHeader16 = MakeCod16(17, 2, 5, "AVR", MakeImage(65534 * 8 - 16));
    BadHeader16[15] ^= 1;
    struct Row {
        const char *Name;
        std::string Bytes;
        TCodLoad Load;
        int HeaderSize;    // 0: not judged (or invalid)
        uint64_t Packets;  // of the description, for Ok and TooBig
    };
    const Row Rows[] = {
        {"16-byte header", MakeCod16(17, 2, 5, "AVR", MakeImage(100)), TCodLoad::Ok, 16, 15},
        {"32-byte header", MakeCod32(300, 3, 1, MakeImage(5000)), TCodLoad::Ok, 32, 21},
        {"32-byte header, empty image", MakeCod32(300, 3, 1, ""), TCodLoad::Ok, 32, 1},
        {"32-byte header, damaged image", Damaged, TCodLoad::Invalid, 0, 0},
        {"magic text alone", "\r\nORVcod", TCodLoad::Invalid, 0, 0},
        {"shorter than a 16-byte header", "abc", TCodLoad::Invalid, 0, 0},
        {"largest 8-byte-packet upload", MakeCod16(17, 2, 5, "AVR", MakeImage(65533 * 8 - 16)),
         TCodLoad::Ok, 16, 65533},
        {"one 8-byte packet too many", MakeCod16(17, 2, 5, "AVR", MakeImage(65534 * 8 - 16)),
         TCodLoad::TooBig, 16, 65534},
        {"too big, broken 16-byte header", BadHeader16, TCodLoad::Invalid, 0, 0},
        {"one ESP32 packet too many", MakeCod32(300, 3, 1, MakeImage(65533 * 240 + 1 - 32)),
         TCodLoad::TooBig, 32, 65534},
        {"largest ESP32 upload", MakeCod32(300, 3, 1, MakeImage(65533 * 240 - 32)), TCodLoad::Ok,
         32, 65533},
    };
    for (const Row &R : Rows) {
        const std::string Path = Dir.Write("f.cod", R.Bytes);
        TCODFileData Kept, Streamed;
        TFirmwareBytes Image;
        EXPECT_EQ(LoadFirmware(Path, Image, Kept), R.Load) << R.Name;
        EXPECT_EQ(CheckFirmware(Path, Streamed), R.Load) << R.Name;
        if (R.Load == TCodLoad::Ok)
            EXPECT_EQ(std::string(Image.begin(), Image.end()), R.Bytes) << R.Name;
        else
            EXPECT_TRUE(Image.empty()) << R.Name;
        if (R.Load == TCodLoad::Invalid) continue;
        for (const TCODFileData *D : {&Kept, &Streamed}) {
            EXPECT_EQ(D->HeaderSize, R.HeaderSize) << R.Name;
            EXPECT_EQ(D->FileSize, R.Bytes.size()) << R.Name;
            EXPECT_EQ(D->PacketCount(), R.Packets) << R.Name;
        }
        EXPECT_EQ(Kept.DeviceID, Streamed.DeviceID) << R.Name;
        EXPECT_EQ(Kept.Version, Streamed.Version) << R.Name;
        EXPECT_EQ(Kept.ProcessorType, Streamed.ProcessorType) << R.Name;
    }
}

// A file that could never be uploaded is refused from its size and header:
// nothing of a 64 MiB file is read beyond its first block, whichever road.
// The processor its header names sets the packet size of the count.
TEST(LoadFirmware, FileTooBigToUploadIsNotReadBeyondItsHeader) {
    if (BytesReadSoFar() < 0) GTEST_SKIP() << "no /proc/self/io";
    TTempDir Dir;
    const uint64_t Size = 64ull << 20;
    struct Row {
        const char *Name;
        std::string Head;
        std::string Processor;
        uint64_t Packets;
    };
    const Row Rows[] = {
        {"32-byte header", MakeCod32(300, 3, 1, "").substr(0, 32), "ESP32", (Size + 239) / 240},
        {"16-byte header naming ESP32", MakeCod16(17, 2, 5, "ESP32", "").substr(0, 16), "ESP32",
         (Size + 239) / 240},
        {"16-byte header", MakeCod16(17, 2, 5, "AVR", "").substr(0, 16), "AVR", Size / 8},
    };
    for (const Row &R : Rows) {
        const std::string Path = Dir.Write("big.cod", R.Head);
        ASSERT_EQ(truncate(Path.c_str(), static_cast<off_t>(Size)), 0);  // sparse: cheap to make
        for (const bool Keep : {true, false}) {
            TCODFileData D;
            TFirmwareBytes Image;
            const long long Before = BytesReadSoFar();
            const TCodLoad Load = Keep ? LoadFirmware(Path, Image, D) : CheckFirmware(Path, D);
            const long long Read = BytesReadSoFar() - Before;
            // The 16-byte header's size field does not match here: either
            // verdict is a refusal, neither reads the file.
            EXPECT_NE(Load, TCodLoad::Ok) << R.Name;
            EXPECT_LT(Read, 64 << 10) << R.Name << (Keep ? ", kept" : ", streamed");
            EXPECT_TRUE(Image.empty()) << R.Name;
            if (Load == TCodLoad::TooBig) {
                EXPECT_EQ(D.FileSize, Size) << R.Name;
                EXPECT_EQ(D.ProcessorType, R.Processor) << R.Name;
                EXPECT_EQ(D.PacketCount(), R.Packets) << R.Name;
            }
        }
    }
    // A sound 16-byte header is judged whole from itself: too big, described,
    // counted in the packets of the processor it names.
    const struct {
        const char *Processor;
        uint64_t Packets;
    } Sound[] = {{"AVR", Size / 8}, {"ESP32", (Size + 239) / 240}};
    for (const auto &R : Sound) {
        std::string Head = MakeCod16(17, 2, 5, R.Processor, "").substr(0, 16);
        const uint32_t ImageSize = static_cast<uint32_t>(Size - 16);
        for (int i = 0; i < 4; ++i) Head[3 + i] = static_cast<char>(ImageSize >> (8 * i));
        FixCod16Checksum(Head);
        const std::string Path = Dir.Write("big16.cod", Head);
        ASSERT_EQ(truncate(Path.c_str(), static_cast<off_t>(Size)), 0);
        TCODFileData D;
        const long long Before = BytesReadSoFar();
        EXPECT_EQ(CheckFirmware(Path, D), TCodLoad::TooBig) << R.Processor;
        EXPECT_LT(BytesReadSoFar() - Before, 64 << 10) << R.Processor;
        EXPECT_EQ(D.HeaderSize, 16) << R.Processor;
        EXPECT_EQ(D.DeviceID, 17) << R.Processor;
        EXPECT_EQ(D.ProcessorType, R.Processor);
        EXPECT_EQ(D.PacketCount(), R.Packets) << R.Processor;
    }
}

// Of a 16-byte-header file only the header is read when nothing is kept.
TEST(LoadFirmware, StreamedCheckOfA16ByteHeaderReadsTheHeaderOnly) {
    if (BytesReadSoFar() < 0) GTEST_SKIP() << "no /proc/self/io";
    TTempDir Dir;
    const std::string Path =
        Dir.Write("f.cod", MakeCod16(17, 2, 5, "AVR", MakeImage(65533 * 8 - 16)));
    TCODFileData D;
    const long long Before = BytesReadSoFar();
    EXPECT_EQ(CheckFirmware(Path, D), TCodLoad::Ok);
    EXPECT_LT(BytesReadSoFar() - Before, 4096);
}

}  // namespace
