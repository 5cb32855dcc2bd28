// Register codecs and both CRCs on arbitrary values: decoding never fails
// where it must not, encoding what was decoded gives the registers back,
// text blocks keep their size, and the CRCs agree with bit-by-bit versions.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "FuzzPort.h"
#include "bootloader/CRC8.h"
#include "jobs/ValueDisplay.h"
#include "modbus/CRC16.h"
#include "modbus/RegisterCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    // CRCs over the whole input.
    FUZZ_REQUIRE(CalcCRC8(Data, Size) == RefCrc8(Data, Size));
    if (Size >= 2) {
        const uint16_t Crc = CalcCRC16(Data, static_cast<int>(Size) - 2);
        const bool Ok = CheckCRC16(Data, static_cast<int>(Size) - 2,
                                   static_cast<uint16_t>(Data[Size - 2] << 8 | Data[Size - 1]));
        FUZZ_REQUIRE(Ok == RefCrc16Ok(Data, Size));
        FUZZ_REQUIRE(Ok == (Crc == (Data[Size - 2] << 8 | Data[Size - 1])));
    }

    TFuzzInput In(Data, Size);
    const TWordOrder Order = (In.Byte() & 1) ? woMSWF : woLSWF;
    const TModbusRegisters Regs = {In.Word(), In.Word()};

    // Decode, then encode again: the same registers (NaNs aside, whose
    // payload a double may not keep).
    for (TRegDataType T : {rdtFloat, rdtInt, rdtUInt16, rdtBCD, rdtUInt32}) {
        double V = 0;
        const bool Ok = DecodeRegisters(T, Order, Regs, V);
        bool BcdDigits = true;
        for (int s = 0; s < 16; s += 4) BcdDigits = BcdDigits && ((Regs[0] >> s) & 0xF) <= 9;
        FUZZ_REQUIRE(Ok == (T != rdtBCD || BcdDigits));
        (void)FormatValue(T, V);
        if (!Ok || std::isnan(V) || std::isinf(V)) continue;
        // A uint32 pattern with its top bit set reads as a negative number,
        // which a write refuses (uint32 takes 0 to 4294967295 only).
        if (T == rdtUInt32 && V < 0) {
            bool Refused = false;
            try {
                (void)EncodeValue(T, Order, V);
            } catch (const ERegConvertError &) {
                Refused = true;
            }
            FUZZ_REQUIRE(Refused);
            continue;
        }
        const TModbusRegisters Back = EncodeValue(T, Order, V);
        FUZZ_REQUIRE(static_cast<int>(Back.size()) == RegisterCount(T));
        for (size_t i = 0; i < Back.size(); ++i) FUZZ_REQUIRE(Back[i] == Regs[i]);
    }

    // Encoding an arbitrary number either works with the right size or
    // fails with the conversion error.
    double V = 0;
    const std::vector<uint8_t> Raw = In.Bytes(sizeof V);
    if (!Raw.empty()) std::memcpy(&V, Raw.data(), Raw.size());
    for (TRegDataType T : {rdtFloat, rdtInt, rdtUInt16, rdtBCD, rdtUInt32}) {
        try {
            FUZZ_REQUIRE(static_cast<int>(EncodeValue(T, Order, V).size()) == RegisterCount(T));
        } catch (const ERegConvertError &) {
        }
    }

    // Text: any bytes (valid UTF-8 or not) into a block of any size.
    const int Count = In.Byte() % 40;
    const std::vector<uint8_t> TextBytes = In.Bytes(64);
    std::string Text(TextBytes.begin(), TextBytes.end());
    Text.erase(std::remove(Text.begin(), Text.end(), '\0'),
               Text.end());  // an edit box holds no NULs
    const TModbusRegisters Block = EncodeText(Text, Count);
    FUZZ_REQUIRE(static_cast<int>(Block.size()) == Count);
    const std::string Decoded = DecodeText(Block);
    (void)TextRegisterCount(Text);
    // Text read back encodes to the same block.
    FUZZ_REQUIRE(EncodeText(Decoded, Count) == Block);

    TModbusBits Bits;
    for (uint8_t b : In.Bytes(32)) Bits.push_back(b & 1);
    const std::string Row = FormatBits(Bits);
    FUZZ_REQUIRE(Row.size() == Bits.size());
    for (size_t k = 0; k < Bits.size(); ++k)
        FUZZ_REQUIRE(Row[Row.size() - 1 - k] == (Bits[k] ? '1' : '0'));
    return 0;
}
