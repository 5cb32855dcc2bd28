#pragma once
// A Modbus RTU line with several slaves on a scripted line, in the test's
// own process and on the line's virtual clock (give it to the master). Answers
// are spoiled at random; the line records what the answering device truly
// holds and whether the bytes it put on the line began with the exact,
// correct answer, so a test can tell what the master was entitled to accept.

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "ScriptedLink.h"

struct TModbusFaults {
    // Chances per answer, 0..1.
    double Lost = 0;
    double BitFlip = 0;      // one bit of the answer flipped (CRC no longer fits)
    double WrongAddr = 0;    // another address, CRC fitting
    double WrongFunc = 0;    // another function code, CRC fitting
    double BadCount = 0;     // byte count off by two, CRC fitting
    double BadEcho = 0;      // write echo with another value, CRC fitting
    double Short = 0;        // last byte missing
    double NoiseBefore = 0;  // stray bytes ahead of the answer
    double NoiseAfter = 0;   // stray bytes after it
    double Exception = 0;    // exception answer instead
    double Slow = 0;         // answer comes late, yet within the time-out
};

class TSimModbusLine : public TScriptedLink {
public:
    TSimModbusLine(uint32_t Seed, TModbusFaults Faults, uint32_t TimeoutMs);

    // A device at Address holding registers and inputs.
    void AddDevice(uint8_t Address);
    bool HasDevice(uint8_t Address) const { return FDevices.count(Address) != 0; }
    uint16_t Register(uint8_t Address, uint16_t Reg) const;
    bool Input(uint8_t Address, uint16_t In) const;
    // The last request got bytes on the line that begin with the exact
    // correct answer.
    bool LastAnswerFaithful() const { return FFaithful; }
    // Bytes put on the line for the last request (0: silence).
    size_t LastAnswerBytes() const { return FAnswerBytes; }
    int Requests() const { return FRequests; }

private:
    struct TDevice {
        std::map<uint16_t, uint16_t> Regs;
        std::map<uint16_t, bool> Inputs;
    };
    bool Chance(double P);
    std::vector<TChunk> Answer(const std::vector<uint8_t> &Request);
    std::vector<uint8_t> Correct(TDevice &D, const std::vector<uint8_t> &Q, bool &Exception);

    std::mt19937 FRng;
    TModbusFaults FFaults;
    uint32_t FTimeout;
    std::map<uint8_t, TDevice> FDevices;
    bool FFaithful = false;
    size_t FAnswerBytes = 0;
    int FRequests = 0;
};
