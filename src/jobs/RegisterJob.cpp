#include "jobs/RegisterJob.h"

#include "jobs/ValueDisplay.h"
#include "serial/Interrupt.h"

namespace {

// The target's line opened for its master; false with the reason when the
// port does not open.
bool OpenLine(TModbusLine &Line, const TModbusTarget &Target, std::optional<EComPort> &Error) {
    if (Line.Open(Target.Params)) return true;
    Error = Line.Master().OpenError() ? *Line.Master().OpenError() : EComPort(CError_OpenFailed);
    return false;
}

bool IsBlankOrControl(unsigned char C) {
    return C <= 0x20 || C == 0x7F;
}

}  // namespace

TJobReason ModbusFailureReason(const TModbusFailureInfo &Failure) {
    switch (Failure.Kind) {
        case TModbusFailure::None:
            return {};
        case TModbusFailure::NoAnswer:
            return TJobText::ModbusNoAnswer;
        case TModbusFailure::BadCrc:
            return TJobText::ModbusBadCrc;
        case TModbusFailure::WrongAddress:
            return TJobText::ModbusWrongAddress;
        case TModbusFailure::WrongFunction:
            return TJobText::ModbusWrongFunction;
        case TModbusFailure::WrongLength:
            return TJobText::ModbusWrongLength;
        case TModbusFailure::WrongEcho:
            return TJobText::ModbusWrongEcho;
        case TModbusFailure::TooLong:
            return TJobText::ModbusTooLong;
        case TModbusFailure::Exception:
            break;
    }
    switch (Failure.ExceptionCode) {
        case 1:
            return TJobText::ModbusException1;
        case 2:
            return TJobText::ModbusException2;
        case 3:
            return TJobText::ModbusException3;
        case 4:
            return TJobText::ModbusException4;
        case 5:
            return TJobText::ModbusException5;
        case 6:
            return TJobText::ModbusException6;
        case 8:
            return TJobText::ModbusException8;
        case 10:
            return TJobText::ModbusException10;
        case 11:
            return TJobText::ModbusException11;
        default:
            return {TJobText::ModbusExceptionOther, {std::to_string(Failure.ExceptionCode)}};
    }
}

TRegReadResult ReadRegisterBlock(const TModbusTarget &Target, const TRegBlock &Block,
                                 const TLineMaker &Make) {
    TRegReadResult Result;
    TModbusLine Line(Make(Target.Port));
    Result.Opened = OpenLine(Line, Target, Result.OpenError);
    if (!Result.Opened) return Result;
    return ReadBlockOn(Line.Master(), static_cast<uint8_t>(Target.Addr), Block);
}

TRegReadResult ReadBlockOn(TModbusRTU &Master, uint8_t Addr, const TRegBlock &Block,
                           TNumberText NumberText) {
    TRegReadResult Result;
    Result.Opened = true;
    const auto Count = static_cast<size_t>(Block.Count);
    if (Block.Type == rdtBit) {
        Result.Bits.assign(Count, false);
        if (!Master.ReadDiscreteInputs(Addr, Block.Reg, Result.Bits)) {
            Result.Failure = TJobText::ReadError;
            Result.Why = Master.LastFailure();
            return Result;
        }
        Result.Text = FormatBits(Result.Bits);
        return Result;
    }
    Result.Regs.assign(Count, 0);
    if (!Master.ReadHoldingRegs(Addr, Block.Reg, Result.Regs)) {
        Result.Failure = TJobText::ReadError;
        Result.Why = Master.LastFailure();
        return Result;
    }
    if (Block.Type == rdtString) {
        Result.Text = DecodeText(Result.Regs);
        return Result;
    }
    double Value = 0;
    if (!DecodeRegisters(Block.Type, Block.Order, Result.Regs, Value)) {
        Result.Failure = TJobText::InvalidBCD;
        return Result;
    }
    Result.Number = Value;
    if (NumberText == TNumberText::With) Result.Text = FormatValue(Block.Type, Value);
    return Result;
}

std::string StripText(const std::string &Text) {
    size_t B = 0, E = Text.size();
    while (B < E && IsBlankOrControl(static_cast<unsigned char>(Text[B]))) ++B;
    while (E > B && IsBlankOrControl(static_cast<unsigned char>(Text[E - 1]))) --E;
    return Text.substr(B, E - B);
}

TRegWritePlan PlanTextWrite(const std::string &Stripped, int Count) {
    TRegWritePlan Plan;
    if (Stripped.empty())
        Plan.Refusal = TJobText::ValueNotSpecified;
    else if (TextRegisterCount(Stripped) > Count)
        Plan.Refusal = TJobText::TooFewRegisters;
    else
        Plan.Regs = EncodeText(Stripped, Count);
    return Plan;
}

TRegWritePlan PlanNumberWrite(TRegDataType Type, TWordOrder Order, double Value) {
    TRegWritePlan Plan;
    Plan.Regs = EncodeValue(Type, Order, Value);
    Plan.Function = RegisterCount(Type) == 1 ? 6 : 16;
    return Plan;
}

TRegWriteResult WriteRegisterBlock(const TModbusTarget &Target, uint16_t Reg,
                                   const TRegWritePlan &Plan, const TLineMaker &Make) {
    TRegWriteResult Result;
    if (Plan.Refusal != TJobText::None || Plan.Regs.empty()) return Result;
    TModbusLine Line(Make(Target.Port));
    TModbusRTU &Master = Line.Master();
    const auto Addr = static_cast<uint8_t>(Target.Addr);
    Result.Opened = OpenLine(Line, Target, Result.OpenError);
    if (!Result.Opened) return Result;
    Result.Saved = Plan.Function == 6 ? Master.WriteHoldingReg(Addr, Reg, Plan.Regs[0])
                                      : Master.WriteHoldingRegs(Addr, Reg, Plan.Regs);
    if (!Result.Saved) Result.Why = Master.LastFailure();
    return Result;
}

int TCommResult::Saved() const {
    int N = 0;
    for (const TCommRowResult &R : Rows) N += R.Done && R.Ok;
    return N;
}

TModbusFailureInfo TCommResult::FirstFailure() const {
    for (const TCommRowResult &R : Rows)
        if (R.Done && !R.Ok && R.Why.Kind != TModbusFailure::None) return R.Why;
    return {};
}

std::optional<EComPort> TCommResult::FirstPortError() const {
    if (PortError) return PortError;
    for (const TCommRowResult &R : Rows)
        if (R.OpenError) return R.OpenError;
    return std::nullopt;
}

namespace {

template <class F>
TCommResult ForEachCommRow(const TModbusTarget &Target, const TCommSettings &Rows, bool Writing,
                           const TLineMaker &Make, F Transact) {
    TCommResult Result;
    TModbusLine Line(Make(Target.Port));
    TModbusRTU &Master = Line.Master();
    const auto Addr = static_cast<uint8_t>(Target.Addr);
    bool Tried = false, Opened = false;
    try {
        for (size_t I = 0; I < Rows.size(); ++I) {
            const TCommSetting &Row = Rows[I];
            if (!Row.Reg || (Writing && !Row.Value)) continue;
            Tried = true;
            // Every row opens anew: one that finds the port closed to it
            // fails alone.
            if (!OpenLine(Line, Target, Result.Rows[I].OpenError)) continue;
            Opened = true;
            Result.Rows[I].Done = Transact(Master, Addr, Row, Result.Rows[I]);
        }
    } catch (const EComPort &E) {
        Result.PortError = E;
        return Result;
    } catch (const EInterrupted &E) {
        Result.StoppedBy = E.Signal();
        return Result;
    }
    if (Tried && !Opened) {
        Result.OpenFailed = true;
        Result.PortError = Result.FirstPortError();
    }
    return Result;
}

}  // namespace

TCommResult ReadCommSettings(const TModbusTarget &Target, const TCommSettings &Rows,
                             const TLineMaker &Make) {
    return ForEachCommRow(
        Target, Rows, false, Make,
        [](TModbusRTU &Master, uint8_t Addr, const TCommSetting &Row, TCommRowResult &Out) {
            TModbusRegisters One(1);
            Out.Ok = Master.ReadHoldingRegs(Addr, static_cast<uint16_t>(*Row.Reg), One);
            if (Out.Ok)
                Out.Value = One[0];
            else
                Out.Why = Master.LastFailure();
            return true;
        });
}

std::optional<size_t> CommValueOutOfRange(const TCommSettings &Rows) {
    for (size_t I = 0; I < Rows.size(); ++I)
        if (Rows[I].Reg && Rows[I].Value && !CommValueRange.Holds(*Rows[I].Value)) return I;
    return std::nullopt;
}

TCommResult WriteCommSettings(const TModbusTarget &Target, const TCommSettings &Rows,
                              const TLineMaker &Make) {
    return ForEachCommRow(
        Target, Rows, true, Make,
        [](TModbusRTU &Master, uint8_t Addr, const TCommSetting &Row, TCommRowResult &Out) {
            if (!CommValueRange.Holds(*Row.Value)) return false;
            Out.Value = static_cast<uint16_t>(*Row.Value);
            Out.Ok = Master.WriteHoldingReg(Addr, static_cast<uint16_t>(*Row.Reg), Out.Value);
            if (!Out.Ok) Out.Why = Master.LastFailure();
            return true;
        });
}
