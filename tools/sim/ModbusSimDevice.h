#pragma once
// Slave devices of the simulated Modbus line: their registers, inputs and
// the answer each gives to a request frame. No I/O here.

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

using TSimFrame = std::vector<uint8_t>;

// Faults a device (or the whole line) shows in its answers.
struct TSimFaults {
    bool BadCrc = false;     // last CRC byte flipped
    bool WrongAddr = false;  // answers with address + 1 (valid CRC)
    bool Short = false;      // last byte of the answer missing
    bool WrongFunc = false;  // function code + 1 (valid CRC)
    bool BadCount = false;   // byte count of read answers + 2 (valid CRC)
    bool BadEcho = false;    // write echoes carry value / quantity + 1 (valid CRC)
};

struct TSimDevice {
    uint8_t Address = 1;
    std::string Profile = "plain";
    std::map<uint16_t, uint16_t> Holding;
    std::map<uint16_t, bool> Inputs;
    TSimFaults Faults;
    // The changing registers (SimLiveFirst..SimLiveLast) where Holding has
    // none of its own: every profile device has them.
    bool Live = false;
};

// The clock of the changing registers: the time since the line started and
// the wall-clock time, both taken when a request is answered.
struct TSimTime {
    uint64_t SinceStartMs = 0;
    int64_t UnixMs = 0;
};

// The changing registers, read-only (a write is exception 2):
//   1000       uint16  counter: tenths of a second since the start (wraps at 65536)
//   1001       int     triangle -100..100, one step per 100 ms (period 40 s,
//                      0 at the start, rising)
//   1002-1003  float   100 x sin(2 pi x t / 60 s), MSWF
//   1004-1005  uint32  wall-clock time: seconds since 1970-01-01 UTC, MSWF
//   1006-1007  uint32  milliseconds since the start (wraps after 49 days), MSWF
inline constexpr uint16_t SimLiveFirst = 1000;
inline constexpr uint16_t SimLiveLast = 1007;
// The value of changing register Reg at Time; none outside the block.
std::optional<uint16_t> LiveRegister(uint16_t Reg, const TSimTime &Time);

// The vendor text that the maker's sensors carry in their vendor registers.
extern const char *const SimVendorSignature;

// Builds a device of a named profile: "map18", "map300", "map800" or
// "plain". False for an unknown name.
bool MakeProfileDevice(uint8_t Address, const std::string &Profile, TSimDevice &Device);
// Stores Text (ISO 8859-1 bytes, two per register, zero-filled) in Count
// registers from Start.
void PutText(TSimDevice &Device, uint16_t Start, const std::string &Text, int Count);

// Length of the request starting in Buf when it can be told from the bytes
// so far: 0 while more bytes are needed to know, -1 for an unknown function.
int RequestLength(const uint8_t *Buf, size_t Count);

// Modbus limits per request unless NoLimits (then any quantity is answered,
// the byte count wrapping like a device that does not check).
struct TSimOptions {
    bool NoLimits = false;
};

// The answer of Device to a complete request whose CRC is good; empty when
// the device stays silent. Writes change the device's registers.
// Time is the clock of the changing registers.
TSimFrame Answer(TSimDevice &Device, const TSimFrame &Request, const TSimOptions &Options,
                 const TSimTime &Time = {});
// Applies faults to a finished answer.
void ApplyFaults(TSimFrame &Answer, const TSimFaults &Faults);
void SealFrame(TSimFrame &Frame);
