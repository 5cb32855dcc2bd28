#pragma once
// Reading and writing one sensor's registers as a typed value (the register
// page and `read`/`write`), and the three settings of the comm setup.
//
// Every job makes its line with the maker it is given (the link factory's
// MakeLine unless a test scripts one), opens it for its master, does its
// transactions and closes it on return.

#include <array>
#include <optional>
#include <string>

#include "jobs/JobTexts.h"
#include "modbus/ModbusLine.h"
#include "modbus/ModbusRTU.h"
#include "modbus/RegisterCodecs.h"
#include "serial/LineTypes.h"

// Where a job talks: port, line settings and the sensor's address.
struct TModbusTarget {
    std::string Port;
    TPortParams Params;
    int Addr = 1;
};

// A block of registers read or written as one type.
struct TRegBlock {
    uint16_t Reg = 0;
    TRegDataType Type = rdtInt;
    TWordOrder Order = woMSWF;
    int Count = 1;  // registers (inputs for "bit")
};

// The words for why a Modbus operation failed (the line after ReadError or
// WriteError); empty for None.
TJobReason ModbusFailureReason(const TModbusFailureInfo &Failure);

struct TRegReadResult {
    bool Opened = false;
    std::optional<EComPort> OpenError;  // why the port did not open
    TJobText Failure = TJobText::None;  // ReadError or InvalidBCD
    TModbusFailureInfo Why;             // ReadError: what the answer showed
    TModbusRegisters Regs;              // as read (not for "bit")
    TModbusBits Bits;                   // "bit" only
    std::optional<double> Number;       // the numeric types
    std::string Text;                   // string and bit: the text; numbers: FormatValue
    bool Ok() const { return Opened && Failure == TJobText::None; }
};

// Reads a block: discrete inputs (function 2) for "bit", holding registers
// (function 3) otherwise, decoded as the type. Port errors raise EComPort, a
// stop request EInterrupted (the port closed by then).
TRegReadResult ReadRegisterBlock(const TModbusTarget &Target, const TRegBlock &Block,
                                 const TLineMaker &Make = MakeLine);
// Whether a number read comes with its text (FormatValue).
enum class TNumberText { With, Without };
// The same read through a master whose line is open (Opened is true): a
// watch reads its rows this way, round after round on one open line, and
// leaves the text of a number for later.
TRegReadResult ReadBlockOn(TModbusRTU &Master, uint8_t Addr, const TRegBlock &Block,
                           TNumberText NumberText = TNumberText::With);

// Leading and trailing blanks and control characters (codes up to 0x20 and
// DEL) of a text to be written.
std::string StripText(const std::string &Text);

// What a write sends: the registers and the function (6 for the
// one-register numbers, 16 for everything else, strings of one register
// too).
struct TRegWritePlan {
    TJobText Refusal = TJobText::None;  // ValueNotSpecified, TooFewRegisters
    TModbusRegisters Regs;
    int Function = 16;
};

// A string, already stripped (StripText).
TRegWritePlan PlanTextWrite(const std::string &Stripped, int Count);
// A number of a numeric type; raises ERegConvertError for a value the type
// cannot hold (OutOfRange for a whole number outside ValueRange).
TRegWritePlan PlanNumberWrite(TRegDataType Type, TWordOrder Order, double Value);

struct TRegWriteResult {
    bool Opened = false;
    std::optional<EComPort> OpenError;
    bool Saved = false;
    TModbusFailureInfo Why;  // not saved: what the answer showed
    TJobText Text() const { return Saved ? TJobText::Saved : TJobText::WriteError; }
};

// Sends a planned write to Reg. Port errors raise EComPort.
TRegWriteResult WriteRegisterBlock(const TModbusTarget &Target, uint16_t Reg,
                                   const TRegWritePlan &Plan, const TLineMaker &Make = MakeLine);

// ---- comm setup: baud rate, framing and address settings of a sensor

inline constexpr int CommSettingCount = 3;

struct TCommSetting {
    std::optional<long long> Reg;    // none: the row is left out
    std::optional<long long> Value;  // writes only
};
using TCommSettings = std::array<TCommSetting, CommSettingCount>;

struct TCommRowResult {
    bool Done = false;                  // the row was read or written
    bool Ok = false;                    // the sensor answered as it should
    uint16_t Value = 0;                 // read, or sent (its low 16 bits)
    TModbusFailureInfo Why;             // done, not ok: what the answer showed
    std::optional<EComPort> OpenError;  // the port did not open for this row
};

struct TCommResult {
    std::array<TCommRowResult, CommSettingCount> Rows{};
    // The port failed in the middle of a row (the rows after it were left
    // alone), or (OpenFailed) it opened for none of the rows: the first
    // row's open error.
    std::optional<EComPort> PortError;
    bool OpenFailed = false;
    // A stop request (serial/Interrupt.h) ended it: the signal; the rows
    // after the one in progress were left alone.
    int StoppedBy = 0;
    int Saved() const;
    // Why the first row that was done failed; None when none failed.
    TModbusFailureInfo FirstFailure() const;
    // The first port failure of any kind: PortError, else the open error
    // of the first row the port did not open for.
    std::optional<EComPort> FirstPortError() const;
};

// Reads one register per row that names one. Each row opens the port anew
// (as the comm setup page always did): a row the port does not open for
// fails alone, the rows after it are still tried.
TCommResult ReadCommSettings(const TModbusTarget &Target, const TCommSettings &Rows,
                             const TLineMaker &Make = MakeLine);
// The first row with a register and a value that no comm setting register
// can hold (CommValueRange, 0..65535); nullopt when every value fits. Both
// faces refuse such a write before the port is opened.
std::optional<size_t> CommValueOutOfRange(const TCommSettings &Rows);
// Writes the value of each row that has a register and a value, with
// function 6, opening the port anew for each row as the read does. A value
// outside CommValueRange is never sent (its row is left out, not wrapped to
// 16 bits).
TCommResult WriteCommSettings(const TModbusTarget &Target, const TCommSettings &Rows,
                              const TLineMaker &Make = MakeLine);
