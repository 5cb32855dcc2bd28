#include "ModbusSimDevice.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "modbus/CRC16.h"

const char *const SimVendorSignature = "www.veldrasens.com";

namespace {

struct TProfileMap {
    const char *Name;
    int VendorReg;  // -1: no signature
    int SensorIDReg;
    int VersionReg;
    uint16_t SensorID;
    uint16_t Version;  // two BCD bytes, major then minor
};

constexpr TProfileMap Profiles[] = {
    {"map18", 18, 14, 15, 7, 0x0105},
    {"map300", 300, 112, 113, 1042, 0x0210},
    {"map800", 800, 832, 833, 3100, 0x0302},
    {"plain", -1, -1, -1, 0, 0},
};

uint16_t Word(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void PutWord(TSimFrame &Frame, uint16_t Value) {
    Frame.push_back(static_cast<uint8_t>(Value >> 8));
    Frame.push_back(static_cast<uint8_t>(Value & 0xFF));
}

TSimFrame Exception(uint8_t Address, uint8_t Function, uint8_t Code) {
    TSimFrame Frame{Address, static_cast<uint8_t>(Function | 0x80), Code};
    SealFrame(Frame);
    return Frame;
}

}  // namespace

std::optional<uint16_t> LiveRegister(uint16_t Reg, const TSimTime &Time) {
    const uint64_t Tenths = Time.SinceStartMs / 100;
    auto High = [](uint32_t V) { return static_cast<uint16_t>(V >> 16); };
    auto Low = [](uint32_t V) { return static_cast<uint16_t>(V & 0xFFFF); };
    switch (Reg) {
        case 1000:
            return static_cast<uint16_t>(Tenths & 0xFFFF);
        case 1001: {
            const int Step = static_cast<int>(Tenths % 400);
            const int V = Step <= 100 ? Step : Step <= 300 ? 200 - Step : Step - 400;
            return static_cast<uint16_t>(static_cast<int16_t>(V));
        }
        case 1002:
        case 1003: {
            const double Phase = static_cast<double>(Time.SinceStartMs % 60000) / 60000.0;
            const float V = static_cast<float>(100.0 * std::sin(2 * std::numbers::pi * Phase));
            uint32_t Bits = 0;
            std::memcpy(&Bits, &V, sizeof Bits);
            return Reg == 1002 ? High(Bits) : Low(Bits);
        }
        case 1004:
        case 1005: {
            const auto Seconds = static_cast<uint32_t>(Time.UnixMs / 1000);
            return Reg == 1004 ? High(Seconds) : Low(Seconds);
        }
        case 1006:
        case 1007: {
            const auto Ms = static_cast<uint32_t>(Time.SinceStartMs & 0xFFFFFFFF);
            return Reg == 1006 ? High(Ms) : Low(Ms);
        }
        default:
            return std::nullopt;
    }
}

void SealFrame(TSimFrame &Frame) {
    PutWord(Frame, CalcCRC16(Frame.data(), static_cast<int>(Frame.size())));
}

void PutText(TSimDevice &Device, uint16_t Start, const std::string &Text, int Count) {
    for (int i = 0; i < Count; ++i) {
        const size_t p = 2 * static_cast<size_t>(i);
        const uint8_t Hi = p < Text.size() ? static_cast<uint8_t>(Text[p]) : 0;
        const uint8_t Lo = p + 1 < Text.size() ? static_cast<uint8_t>(Text[p + 1]) : 0;
        Device.Holding[static_cast<uint16_t>(Start + i)] = static_cast<uint16_t>(Hi << 8 | Lo);
    }
}

bool MakeProfileDevice(uint8_t Address, const std::string &Profile, TSimDevice &Device) {
    for (const TProfileMap &Map : Profiles) {
        if (Profile != Map.Name) continue;
        Device = TSimDevice{};
        Device.Address = Address;
        Device.Profile = Profile;
        Device.Live = true;
        // Measurement block 0..63: 0x0100 + n, so reads show known values.
        for (uint16_t r = 0; r < 64; ++r) Device.Holding[r] = static_cast<uint16_t>(0x0100 + r);
        // Comm settings: baud code, framing, own address. A write is kept and
        // would apply after a restart; the simulated line never changes.
        Device.Holding[120] = 4;
        Device.Holding[121] = 0;
        Device.Holding[122] = Address;
        if (Map.VendorReg >= 0) {
            PutText(Device, static_cast<uint16_t>(Map.VendorReg), SimVendorSignature, 32);
            Device.Holding[static_cast<uint16_t>(Map.SensorIDReg)] = Map.SensorID;
            Device.Holding[static_cast<uint16_t>(Map.VersionReg)] = Map.Version;
        } else {
            for (uint16_t r = 64; r < 100; ++r)
                Device.Holding[r] = static_cast<uint16_t>(0x0100 + r);
        }
        // Discrete inputs 0..15 from the pattern 0x2C0D (input 0 = bit 0):
        // inputs 0..3 read on, off, on, on.
        for (uint16_t k = 0; k < 16; ++k) Device.Inputs[k] = (0x2C0D >> k) & 1;
        return true;
    }
    return false;
}

int RequestLength(const uint8_t *Buf, size_t Count) {
    if (Count < 2) return 0;
    switch (Buf[1]) {
        case 0x02:
        case 0x03:
        case 0x06:
            return 8;
        case 0x10:
            if (Count < 7) return 0;
            return 9 + Buf[6];
        default:
            return -1;
    }
}

TSimFrame Answer(TSimDevice &Device, const TSimFrame &Request, const TSimOptions &Options,
                 const TSimTime &Time) {
    const uint8_t Addr = Device.Address;
    const uint8_t Fn = Request[1];
    TSimFrame Out{Addr, Fn};
    switch (Fn) {
        case 0x02: {
            const uint16_t Start = Word(&Request[2]);
            const uint16_t Q = Word(&Request[4]);
            if (!Options.NoLimits && (Q < 1 || Q > 2000)) return Exception(Addr, Fn, 3);
            const size_t K = (Q + 7u) / 8u;
            Out.push_back(static_cast<uint8_t>(K));
            std::vector<uint8_t> Status(K, 0);
            for (uint32_t k = 0; k < Q; ++k) {
                auto It = Device.Inputs.find(static_cast<uint16_t>(Start + k));
                if (It == Device.Inputs.end() || Start + k > 0xFFFF) return Exception(Addr, Fn, 2);
                if (It->second) Status[k / 8] = static_cast<uint8_t>(Status[k / 8] | 1u << (k % 8));
            }
            Out.insert(Out.end(), Status.begin(), Status.end());
            break;
        }
        case 0x03: {
            const uint16_t Start = Word(&Request[2]);
            const uint16_t N = Word(&Request[4]);
            if (!Options.NoLimits && (N < 1 || N > 125)) return Exception(Addr, Fn, 3);
            Out.push_back(static_cast<uint8_t>(2 * N));
            for (uint32_t i = 0; i < N; ++i) {
                if (Start + i > 0xFFFF) return Exception(Addr, Fn, 2);
                const auto Reg = static_cast<uint16_t>(Start + i);
                auto It = Device.Holding.find(Reg);
                if (It != Device.Holding.end()) {
                    PutWord(Out, It->second);
                    continue;
                }
                const auto Live = Device.Live ? LiveRegister(Reg, Time) : std::nullopt;
                if (!Live) return Exception(Addr, Fn, 2);
                PutWord(Out, *Live);
            }
            break;
        }
        case 0x06: {
            const uint16_t Reg = Word(&Request[2]);
            auto It = Device.Holding.find(Reg);
            if (It == Device.Holding.end()) return Exception(Addr, Fn, 2);
            It->second = Word(&Request[4]);
            Out.insert(Out.end(), Request.begin() + 2, Request.begin() + 6);
            break;
        }
        case 0x10: {
            const uint16_t Start = Word(&Request[2]);
            const uint16_t N = Word(&Request[4]);
            const uint8_t Bytes = Request[6];
            if (!Options.NoLimits && (N < 1 || N > 123)) return Exception(Addr, Fn, 3);
            if (Bytes != static_cast<uint8_t>(2 * N) || Request.size() < 9 + 2 * size_t{N})
                return Exception(Addr, Fn, 3);
            for (uint32_t i = 0; i < N; ++i)
                if (Start + i > 0xFFFF || !Device.Holding.count(static_cast<uint16_t>(Start + i)))
                    return Exception(Addr, Fn, 2);
            for (uint32_t i = 0; i < N; ++i)
                Device.Holding[static_cast<uint16_t>(Start + i)] = Word(&Request[7 + 2 * i]);
            Out.insert(Out.end(), Request.begin() + 2, Request.begin() + 6);
            break;
        }
        default:
            return Exception(Addr, Fn, 1);
    }
    SealFrame(Out);
    return Out;
}

void ApplyFaults(TSimFrame &Frame, const TSimFaults &Faults) {
    if (Frame.size() < 5) return;
    const bool IsException = Frame[1] & 0x80;
    bool Reseal = false;
    if (Faults.WrongAddr) {
        Frame[0] = static_cast<uint8_t>(Frame[0] + 1);
        Reseal = true;
    }
    if (Faults.WrongFunc) {
        Frame[1] = static_cast<uint8_t>((Frame[1] & 0x80) | ((Frame[1] + 1) & 0x7F));
        Reseal = true;
    }
    if (Faults.BadCount && !IsException && (Frame[1] == 0x02 || Frame[1] == 0x03)) {
        Frame[2] = static_cast<uint8_t>(Frame[2] + 2);
        Reseal = true;
    }
    if (Faults.BadEcho && !IsException && (Frame[1] == 0x06 || Frame[1] == 0x10) &&
        Frame.size() == 8) {
        Frame[5] = static_cast<uint8_t>(Frame[5] + 1);
        Reseal = true;
    }
    if (Reseal) {
        Frame.resize(Frame.size() - 2);
        SealFrame(Frame);
    }
    if (Faults.BadCrc) Frame.back() ^= 0xFF;
    if (Faults.Short) Frame.pop_back();
}
