#include "SimBootLine.h"

#include <algorithm>
#include <cstring>

#include "bootloader/CRC8.h"
#include "bootloader/XComm.h"

namespace {

std::vector<uint8_t> MakeReply(uint8_t Command, const std::vector<uint8_t> &Payload) {
    std::vector<uint8_t> R = {0xF5, static_cast<uint8_t>(Payload.size() + 3),
                              static_cast<uint8_t>(Command | 0x80)};
    R.insert(R.end(), Payload.begin(), Payload.end());
    R.push_back(CalcCRC8(R.data() + 1, R.size() - 1));
    return R;
}

}  // namespace

std::vector<uint8_t> MakeCodImage(bool Esp32, uint16_t DeviceID, size_t Size, uint32_t Seed) {
    std::mt19937 Rng(Seed);
    std::vector<uint8_t> F(Size);
    const size_t Hdr = Esp32 ? 32 : 16;
    for (size_t i = Hdr; i < Size; ++i) F[i] = static_cast<uint8_t>(Rng());
    const uint32_t ImageSize = static_cast<uint32_t>(Size - Hdr);
    if (Esp32) {
        std::memcpy(F.data(), "\r\nORVcod", 8);
        uint16_t Sum = 0;
        for (size_t i = 32; i < Size; ++i) Sum = static_cast<uint16_t>(Sum + F[i]);
        F[22] = static_cast<uint8_t>(DeviceID);
        F[23] = static_cast<uint8_t>(DeviceID >> 8);
        F[24] = 1;
        F[25] = 3;
        F[26] = static_cast<uint8_t>(Sum);
        F[27] = static_cast<uint8_t>(Sum >> 8);
        for (int k = 0; k < 4; ++k) F[28 + k] = static_cast<uint8_t>(ImageSize >> (8 * k));
    } else {
        for (int k = 0; k < 4; ++k) F[3 + k] = static_cast<uint8_t>(ImageSize >> (8 * k));
        F[7] = 3;
        F[8] = 1;
        F[9] = static_cast<uint8_t>(DeviceID);
        std::memcpy(F.data() + 10, "AVR\0\0", 5);
        uint8_t Sum = 2;
        for (int i = 0; i < 15; ++i) Sum = static_cast<uint8_t>(Sum + F[i]);
        F[15] = Sum;
    }
    return F;
}

TSimBootLine::TSimBootLine(std::vector<uint8_t> Image, uint16_t SensorID, uint32_t Seed,
                           TBootFaults Faults, uint32_t LateLimitMs)
    : FImage(std::move(Image)),
      FSensorID(SensorID),
      FRng(Seed),
      FFaults(Faults),
      FLateLimit(LateLimitMs) {
    Responder = [this](const std::vector<uint8_t> &Request) { return Answer(Request); };
}

bool TSimBootLine::StoredIsPrefix() const {
    return FStored.size() <= FImage.size() &&
           std::equal(FStored.begin(), FStored.end(), FImage.begin());
}

bool TSimBootLine::Chance(double P) {
    return P > 0 && std::uniform_real_distribution<double>(0, 1)(FRng) < P;
}

std::vector<TChunk> TSimBootLine::Answer(const std::vector<uint8_t> &Request) {
    if (Chance(FFaults.HangUp)) {
        Unplug();
        return {};
    }
    bool DataAck = false;
    std::vector<uint8_t> Reply = Respond(Request, DataAck);
    if (Reply.empty()) return {};
    const uint16_t No = static_cast<uint16_t>(Request[3] | (Request[4] << 8));
    return Spoil(std::move(Reply), DataAck, No);
}

// The bootloader's side: ignores what it cannot parse, answers
// identification while in bootloader mode and takes data packets in order.
std::vector<uint8_t> TSimBootLine::Respond(const std::vector<uint8_t> &Q, bool &DataAck) {
    if (!FInBoot) return {};
    if (Q.size() < 6 || Q[0] != 0xF5 || Q[1] != Q.size() - 1 ||
        Q.back() != CalcCRC8(Q.data() + 1, Q.size() - 2))
        return {};
    const uint16_t No = static_cast<uint16_t>(Q[3] | (Q[4] << 8));
    switch (Q[2]) {
        case CCmdIdent:
            if (FSensorID > 255) return {};
            if (FComplete && FIdentLost < FFaults.LoseIdentAfterComplete) {
                ++FIdentLost;
                return {};
            }
            return MakeReply(CCmdIdent, {3, 1, static_cast<uint8_t>(FSensorID)});
        case CCmdIdent16:
            return MakeReply(CCmdIdent16, {3, 1, static_cast<uint8_t>(FSensorID),
                                           static_cast<uint8_t>(FSensorID >> 8)});
        case CCmdData: {
            ++FTransmissions[No];
            DataAck = true;
            if (No == 0 && Q.size() == 6) {
                FStarted = true;
                FStored.clear();
                FNextNo = 1;
                return MakeReply(CCmdData, {0, 0});
            }
            if (!FStarted) return {};
            uint16_t Ack = No;
            if (No == FNextNo) {
                FStored.insert(FStored.end(), Q.begin() + 5, Q.end() - 1);
                ++FNextNo;
                if (FStored.size() >= FImage.size()) {
                    Ack = CAckComplete;
                    FComplete = true;
                    // It reboots into the application unless told to stay.
                    if (!FFaults.StayInBootloader) FInBoot = false;
                }
            } else if (No + 1 != FNextNo) {
                return {};  // neither the next packet nor a repeat of the last
            }
            return MakeReply(CCmdData, {static_cast<uint8_t>(Ack), static_cast<uint8_t>(Ack >> 8)});
        }
        default:
            return {};
    }
}

std::vector<TChunk> TSimBootLine::Spoil(std::vector<uint8_t> Reply, bool DataAck, uint16_t Number) {
    bool Spoiled = false;
    uint64_t Delay = 1 + FRng() % 5;
    std::vector<uint8_t> Noise;
    if (FSpoiledRun < FFaults.MaxBurst) {
        if (Chance(FFaults.Lost)) {
            ++FSpoiledRun;
            return {};
        }
        if (DataAck && Chance(FFaults.WrongNumber)) {
            // A number that is neither the packet's nor the completion code.
            uint16_t Wrong = Number;
            while (Wrong == Number || Wrong == CAckComplete) Wrong = static_cast<uint16_t>(FRng());
            Reply = MakeReply(CCmdData,
                              {static_cast<uint8_t>(Wrong), static_cast<uint8_t>(Wrong >> 8)});
            ++FWrongSent;
            Spoiled = true;
        }
        if (Chance(FFaults.Corrupt)) {
            const size_t i = FRng() % Reply.size();
            Reply[i] ^= static_cast<uint8_t>(1u << (FRng() % 8));
            Spoiled = true;
        }
        if (Chance(FFaults.Late)) {
            Delay = FRng() % (2 * FLateLimit + 1);
            Spoiled = true;
        }
        if (Chance(FFaults.Noise)) {
            const int n = 1 + static_cast<int>(FRng() % 5);
            for (int k = 0; k < n; ++k) Noise.push_back(static_cast<uint8_t>(FRng()));
            Spoiled = true;
        }
    }
    FSpoiledRun = Spoiled ? FSpoiledRun + 1 : 0;
    // A byte takes well under a millisecond at the bootloader's rates.
    Noise.insert(Noise.end(), Reply.begin(), Reply.end());
    return {{Delay, Noise}};
}
