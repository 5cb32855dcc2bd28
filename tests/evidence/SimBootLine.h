#pragma once
// A sensor in bootloader mode on a scripted line, in the test's own
// process and on the line's virtual clock: it keeps what it was sent, knows whether
// it holds the whole image and has left bootloader mode, and spoils its
// replies at random (lost, corrupted, late, noisy, wrongly numbered) or
// goes away altogether.

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "ScriptedLink.h"

struct TBootFaults {
    // Chances per reply, 0..1.
    double Lost = 0;
    double Corrupt = 0;
    double Late = 0;                // reply comes after up to twice the time-out
    double Noise = 0;               // random bytes before the reply
    double WrongNumber = 0;         // data acknowledgement with a number never sent
    double HangUp = 0;              // per request: the adapter is unplugged
    bool StayInBootloader = false;  // still answers after completing
    // Longest run of spoiled replies (lost, corrupted, late, noisy or
    // wrongly numbered); the next one then comes through clean.
    int MaxBurst = 1000;
    // Identification replies lost right after the image is complete.
    int LoseIdentAfterComplete = 0;
};

class TSimBootLine : public TScriptedLink {
public:
    TSimBootLine(std::vector<uint8_t> Image, uint16_t SensorID, uint32_t Seed, TBootFaults Faults,
                 uint32_t LateLimitMs);

    // Faults from now on (identification may run on a clean line first).
    void SetFaults(const TBootFaults &Faults) { FFaults = Faults; }

    // What the simulated sensor knows.
    bool HoldsWholeImage() const { return FStored == FImage; }
    // Everything it stored matches the image so far.
    bool StoredIsPrefix() const;
    bool InBootloader() const { return FInBoot; }
    bool Gone() const { return Unplugged(); }
    // Transmissions of each data packet number (start packet included).
    const std::map<uint16_t, int> &Transmissions() const { return FTransmissions; }
    int WrongNumbersSent() const { return FWrongSent; }

    // The line is the clock: TXComm's deadlines and pause run on Now().

private:
    bool Chance(double P);
    std::vector<TChunk> Answer(const std::vector<uint8_t> &Request);
    std::vector<uint8_t> Respond(const std::vector<uint8_t> &Request, bool &DataAck);
    std::vector<TChunk> Spoil(std::vector<uint8_t> Reply, bool DataAck, uint16_t Number);

    std::vector<uint8_t> FImage;
    uint16_t FSensorID;
    std::mt19937 FRng;
    TBootFaults FFaults;
    uint32_t FLateLimit;

    bool FInBoot = true;
    bool FStarted = false;
    uint16_t FNextNo = 0;
    std::vector<uint8_t> FStored;
    std::map<uint16_t, int> FTransmissions;
    int FWrongSent = 0;
    int FSpoiledRun = 0;
    bool FComplete = false;
    int FIdentLost = 0;
};

// A firmware file image of Size bytes in all: with a 32-byte header
// (ESP32) or a 16-byte one naming the processor "AVR".
std::vector<uint8_t> MakeCodImage(bool Esp32, uint16_t DeviceID, size_t Size, uint32_t Seed);
