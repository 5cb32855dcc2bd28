#include "SimModbusLine.h"

#include <algorithm>

#include "modbus/CRC16.h"

namespace {

void Seal(std::vector<uint8_t> &F) {
    const uint16_t Crc = CalcCRC16(F.data(), static_cast<int>(F.size()));
    F.push_back(static_cast<uint8_t>(Crc >> 8));
    F.push_back(static_cast<uint8_t>(Crc & 0xFF));
}

uint16_t Be16(const std::vector<uint8_t> &F, size_t i) {
    return static_cast<uint16_t>(F[i] << 8 | F[i + 1]);
}

}  // namespace

TSimModbusLine::TSimModbusLine(uint32_t Seed, TModbusFaults Faults, uint32_t TimeoutMs)
    : FRng(Seed), FFaults(Faults), FTimeout(TimeoutMs) {
    Responder = [this](const std::vector<uint8_t> &Request) { return Answer(Request); };
}

bool TSimModbusLine::Chance(double P) {
    return P > 0 && std::uniform_real_distribution<double>(0, 1)(FRng) < P;
}

void TSimModbusLine::AddDevice(uint8_t Address) {
    TDevice &D = FDevices[Address];
    // Registers 0..199 and inputs 0..199 exist; anything else is refused.
    for (uint16_t r = 0; r < 200; ++r) {
        D.Regs[r] = static_cast<uint16_t>(FRng());
        D.Inputs[r] = FRng() & 1;
    }
}

uint16_t TSimModbusLine::Register(uint8_t Address, uint16_t Reg) const {
    return FDevices.at(Address).Regs.at(Reg);
}
bool TSimModbusLine::Input(uint8_t Address, uint16_t In) const {
    return FDevices.at(Address).Inputs.at(In);
}

// The answer a well-behaved device gives; writes take effect here.
std::vector<uint8_t> TSimModbusLine::Correct(TDevice &D, const std::vector<uint8_t> &Q,
                                             bool &Exception) {
    const uint8_t Fn = Q[1];
    const uint16_t Start = Be16(Q, 2);
    std::vector<uint8_t> A = {Q[0], Fn};
    auto Refuse = [&] {
        Exception = true;
        std::vector<uint8_t> E = {Q[0], static_cast<uint8_t>(Fn | 0x80), 2};
        Seal(E);
        return E;
    };
    switch (Fn) {
        case 0x03: {
            const uint16_t N = Be16(Q, 4);
            if (N == 0 || N > 125 || Start + N > 200) return Refuse();
            A.push_back(static_cast<uint8_t>(2 * N));
            for (uint16_t i = 0; i < N; ++i) {
                A.push_back(static_cast<uint8_t>(D.Regs[Start + i] >> 8));
                A.push_back(static_cast<uint8_t>(D.Regs[Start + i]));
            }
            break;
        }
        case 0x02: {
            const uint16_t N = Be16(Q, 4);
            if (N == 0 || N > 2000 || Start + N > 200) return Refuse();
            const size_t K = (N + 7u) / 8u;
            A.push_back(static_cast<uint8_t>(K));
            for (size_t k = 0; k < K; ++k) {
                uint8_t b = 0;
                for (int j = 0; j < 8 && k * 8 + j < N; ++j)
                    b |= static_cast<uint8_t>(D.Inputs[static_cast<uint16_t>(Start + k * 8 + j)]
                                              << j);
                A.push_back(b);
            }
            break;
        }
        case 0x06:
            if (Start >= 200) return Refuse();
            D.Regs[Start] = Be16(Q, 4);
            A.insert(A.end(), Q.begin() + 2, Q.begin() + 6);
            break;
        case 0x10: {
            const uint16_t N = Be16(Q, 4);
            if (N == 0 || N > 123 || Start + N > 200 || Q[6] != 2 * N || Q.size() != 9u + 2 * N)
                return Refuse();
            for (uint16_t i = 0; i < N; ++i) D.Regs[Start + i] = Be16(Q, 7 + 2 * i);
            A.insert(A.end(), Q.begin() + 2, Q.begin() + 6);
            break;
        }
        default:
            return Refuse();
    }
    Seal(A);
    return A;
}

std::vector<TChunk> TSimModbusLine::Answer(const std::vector<uint8_t> &Q) {
    ++FRequests;
    const int Count = static_cast<int>(Q.size());
    FFaithful = false;
    FAnswerBytes = 0;
    if (Q.size() < 8 ||
        !CheckCRC16(Q.data(), Count - 2, static_cast<uint16_t>(Q[Count - 2] << 8 | Q[Count - 1])))
        return {};
    auto It = FDevices.find(Q[0]);
    if (It == FDevices.end()) return {};  // nobody there: silence
    bool Exception = false;
    std::vector<uint8_t> A = Correct(It->second, Q, Exception);
    if (Chance(FFaults.Lost)) return {};
    const std::vector<uint8_t> Truth = Exception ? std::vector<uint8_t>{} : A;
    if (Chance(FFaults.Exception)) {
        A = {Q[0], static_cast<uint8_t>(Q[1] | 0x80), 4};
        Seal(A);
    }
    auto Reseal = [&A] {
        A.resize(A.size() - 2);
        Seal(A);
    };
    if (Chance(FFaults.WrongAddr)) {
        A[0] = static_cast<uint8_t>(A[0] + 1 + FRng() % 200);
        Reseal();
    }
    if (Chance(FFaults.WrongFunc)) {
        A[1] = static_cast<uint8_t>((A[1] + 1 + FRng() % 100) & 0x7F);
        Reseal();
    }
    if (Chance(FFaults.BadCount) && (Q[1] == 0x03 || Q[1] == 0x02) && A.size() > 5) {
        A[2] = static_cast<uint8_t>(A[2] + 2);
        Reseal();
    }
    if (Chance(FFaults.BadEcho) && (Q[1] == 0x06 || Q[1] == 0x10)) {
        A[5] = static_cast<uint8_t>(A[5] + 1 + FRng() % 255);
        Reseal();
    }
    if (Chance(FFaults.BitFlip)) A[FRng() % A.size()] ^= static_cast<uint8_t>(1u << (FRng() % 8));
    if (Chance(FFaults.Short)) A.pop_back();
    std::vector<uint8_t> Bytes;
    if (Chance(FFaults.NoiseBefore))
        for (int k = 1 + static_cast<int>(FRng() % 4); k > 0; --k)
            Bytes.push_back(static_cast<uint8_t>(FRng()));
    Bytes.insert(Bytes.end(), A.begin(), A.end());
    if (Chance(FFaults.NoiseAfter))
        for (int k = 1 + static_cast<int>(FRng() % 4); k > 0; --k)
            Bytes.push_back(static_cast<uint8_t>(FRng()));

    FFaithful = !Truth.empty() && Bytes.size() >= Truth.size() &&
                std::equal(Truth.begin(), Truth.end(), Bytes.begin());
    FAnswerBytes = Bytes.size();
    // In time, but a slow device may take up to half the time-out.
    return {{Chance(FFaults.Slow) ? FTimeout / 2 : 0, Bytes}};
}
