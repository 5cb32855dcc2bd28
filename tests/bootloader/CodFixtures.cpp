#include "CodFixtures.h"

#include <random>

namespace {

void PutLe(std::string &S, size_t At, uint64_t V, int Width) {
    for (int i = 0; i < Width; ++i)
        S[At + static_cast<size_t>(i)] = static_cast<char>((V >> (8 * i)) & 0xFF);
}

}  // namespace

std::string MakeImage(size_t Size, uint32_t Seed) {
    std::mt19937 Rng(Seed);
    std::string S(Size, '\0');
    for (auto &C : S) C = static_cast<char>(Rng() & 0xFF);
    return S;
}

void FixCod32Checksum(std::string &File) {
    uint16_t Sum = 0;
    for (size_t i = 32; i < File.size(); ++i)
        Sum = static_cast<uint16_t>(Sum + static_cast<uint8_t>(File[i]));
    PutLe(File, 26, Sum, 2);
}

std::string MakeCod32(uint16_t DeviceID, uint8_t VersionHi, uint8_t VersionLo,
                      const std::string &Image) {
    std::string F(32, '\0');
    F.replace(0, 8, "\r\nORVcod");
    for (size_t i = 8; i < 22; ++i) F[i] = static_cast<char>(0xA0 + i);  // uninterpreted bytes
    PutLe(F, 22, DeviceID, 2);
    F[24] = static_cast<char>(VersionLo);
    F[25] = static_cast<char>(VersionHi);
    PutLe(F, 28, Image.size(), 4);
    F += Image;
    FixCod32Checksum(F);
    return F;
}

void FixCod16Checksum(std::string &File) {
    uint8_t Sum = 2;
    for (size_t i = 0; i < 15 && i < File.size(); ++i)
        Sum = static_cast<uint8_t>(Sum + static_cast<uint8_t>(File[i]));
    File[15] = static_cast<char>(Sum);
}

std::string MakeCod16(uint8_t DeviceID, uint8_t VersionHi, uint8_t VersionLo,
                      const std::string &Processor, const std::string &Image) {
    std::string F(16, '\0');
    F[0] = 0x12;
    F[1] = 0x34;
    F[2] = 0x56;
    PutLe(F, 3, Image.size(), 4);
    F[7] = static_cast<char>(VersionHi);
    F[8] = static_cast<char>(VersionLo);
    F[9] = static_cast<char>(DeviceID);
    for (size_t i = 0; i < 5 && i < Processor.size(); ++i) F[10 + i] = Processor[i];
    FixCod16Checksum(F);
    return F + Image;
}
