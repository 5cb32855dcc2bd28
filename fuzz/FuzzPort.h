#pragma once
// A scripted line played from fuzzer input, on its virtual clock.
//
// Every Open takes one byte of the script (0xEE: the device does not open).
// Every Write takes the next reply "segment": a flags byte and a list of
// pieces, each a delay (virtual ms after the write, added up) and some
// bytes. Bytes can be read once the clock reaches their time; waiting moves
// the clock to the next arrival or by the wait asked for. So a reply may
// trickle in, stop half way, come late or never, and a whole upload runs in
// microseconds.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "ScriptedLink.h"

class TFuzzInput {
public:
    TFuzzInput(const uint8_t *Data, size_t Size) : FData(Data), FSize(Size) {}
    bool Empty() const { return FPos >= FSize; }
    uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    // Up to Count bytes (fewer at the end of the input).
    std::vector<uint8_t> Bytes(size_t Count) {
        Count = std::min(Count, FSize - std::min(FPos, FSize));
        std::vector<uint8_t> Taken(FData + FPos, FData + FPos + Count);
        FPos += Count;
        return Taken;
    }

private:
    const uint8_t *FData;
    size_t FSize;
    size_t FPos = 0;
};

class TFuzzPort : public TScriptedLink {
public:
    enum : uint8_t {
        SegShortWrite = 0x01,  // the write takes one byte less than asked
        SegHangUp = 0x02,      // the device goes away at the write
        SegUnused = 0x04,      // once a real-clock silence; the clock is virtual now
    };

    explicit TFuzzPort(TFuzzInput &In) : FIn(In) {
        OnOpen = [this](const TLinkSettings &) -> std::optional<EComPort> {
            if (Connected()) return std::nullopt;
            if (FIn.Byte() == 0xEE) return EComPort(CError_OpenFailed, 2);
            return std::nullopt;
        };
        Responder = [this](const std::vector<uint8_t> &) { return Segment(); };
    }

    const std::vector<std::vector<uint8_t>> &Requests() const { return Sent; }

private:
    std::vector<TChunk> Segment() {
        const uint8_t Flags = FIn.Byte();
        if (Flags & SegHangUp) {
            HangUp();
            return {};
        }
        if (Flags & SegShortWrite) ShortOnce = 1;
        std::vector<TChunk> Chunks;
        const int Pieces = FIn.Byte() % 8;
        uint64_t Delay = 0;
        for (int i = 0; i < Pieces && !FIn.Empty(); ++i) {
            Delay += FIn.Byte() * 8u;
            Chunks.push_back({Delay, FIn.Bytes(FIn.Byte() % 64)});
        }
        return Chunks;
    }

    TFuzzInput &FIn;
};
