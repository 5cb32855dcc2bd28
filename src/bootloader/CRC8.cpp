#include "bootloader/CRC8.h"

uint8_t UpdateCRC8(uint8_t Crc, uint8_t Byte) {
    for (int i = 0; i < 8; ++i) {
        const bool Mix = ((Crc ^ Byte) & 0x01) != 0;
        Crc = static_cast<uint8_t>(Crc >> 1);
        if (Mix) Crc ^= 0x8C;
        Byte = static_cast<uint8_t>(Byte >> 1);
    }
    return Crc;
}

uint8_t CalcCRC8(const uint8_t *Data, size_t Count) {
    uint8_t Crc = 0;
    for (size_t i = 0; i < Count; ++i) Crc = UpdateCRC8(Crc, Data[i]);
    return Crc;
}

uint8_t CalcCRC8(const TByteArray &Data, size_t Start, size_t Count) {
    if (Count == 0 || Start >= Data.size()) return 0;
    if (Count > Data.size() - Start) Count = Data.size() - Start;
    return CalcCRC8(Data.data() + Start, Count);
}
