#include "modbus/ModbusRTU.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "modbus/ModbusTcp.h"
#include "serial/FrameTrace.h"

using namespace ModbusPdu;

namespace {

std::unique_ptr<TModbusFraming> MakeFraming(TModbusFramingKind Kind) {
    if (Kind == TModbusFramingKind::Tcp) return std::make_unique<TModbusTcpFraming>();
    return std::make_unique<TRtuFraming>();
}

}  // namespace

TModbusRTU::TModbusRTU(TLink &Link, uint8_t DeviceAddr, TModbusFramingKind Framing)
    : FLink(Link), FFraming(MakeFraming(Framing)), FFramingKind(Framing), FDeviceAddr(DeviceAddr) {}

TModbusRTU::~TModbusRTU() {
    try {
        Close();
    } catch (...) {
        // Nothing sensible to do with a failing close while being freed.
    }
}

TLinkSettings TModbusRTU::LinkSettingsOf(const std::string &Port, const TPortParams &Params) {
    TLinkSettings S;
    S.Port = Port;
    S.DataBits = dbEight;
    S.Parity = Params.ParityBits;
    // For no parity the check stays as the line has it.
    if (Params.ParityBits != prNone) S.ParityCheck = true;
    S.StopBits = Params.StopBits;
    S.BaudRate = Params.BaudRate;
    S.ControlRTS = rtsToggle;
    S.ControlDTR = dtrEnable;
    // A negative time-out would turn into a wait of weeks as unsigned.
    FTimeout = static_cast<uint32_t>(std::max(Params.Timeout, 0));
    return S;
}

bool TModbusRTU::Open(const std::string &Port, const TPortParams &Params) {
    FOpenError.reset();
    const TLinkSettings S = LinkSettingsOf(Port, Params);
    try {
        Close();
    } catch (const EComPort &E) {
        FOpenError = E;
        return false;
    }
    FPort = Port;
    FQuietAt.reset();
    FOpenError = FLink.Open(S);
    return !FOpenError;
}

bool TModbusRTU::ChangeSettings(const TPortParams &Params) {
    FOpenError.reset();
    const std::string Port = FPort.empty() ? FLink.Settings().Port : FPort;
    FQuietAt.reset();
    FOpenError = FLink.Open(LinkSettingsOf(Port, Params));
    return !FOpenError;
}

void TModbusRTU::Close() {
    FQuietAt.reset();
    if (FLink.Connected()) FLink.Close();
}

void TModbusRTU::SetFraming(TModbusFramingKind Kind) {
    if (Kind == FFramingKind) return;
    FFramingKind = Kind;
    FFraming = MakeFraming(Kind);
    FFraming->SetLookPast(FBackToBack);
    FQuietAt.reset();
}

void TModbusRTU::SetBackToBack(bool On) {
    FBackToBack = On;
    FFraming->SetLookPast(On);
    FQuietAt.reset();
}

// One exchange: purge, write the framed request, collect the answer while
// the line is not silent for longer than FTimeout (the framing says which
// bytes break the silence) and until the framing has nothing more to wait
// for.
TModbusRTU::TAnswer TModbusRTU::Transaction(uint8_t Device, const TPdu &Pdu, size_t AnswerPduLen,
                                            bool AnyAnswer) {
    TModbusFraming &F = *FFraming;
    const TFrame Request = F.Begin(Device, Pdu, AnswerPduLen, AnyAnswer);

    // The purge finds nothing when the last answer left the line quiet
    // just now (back to back only).
    const bool Quiet = FQuietAt && FClock->Now() <= *FQuietAt + QuietWindowMs;
    FQuietAt.reset();
    if (!Quiet) FLink.Clear();
    const int Written = FLink.Write(Request.data(), static_cast<int>(Request.size()));
    const bool Trace = FrameTraceEnabled();
    const std::string PortName =
        Trace ? (FPort.empty() ? FLink.Settings().Port : FPort) : std::string();
    if (Trace) TraceFrame(PortName, TTraceDir::Tx, Request.data(), Request.size());
    if (FOnRequestSent) FOnRequestSent();

    if (Written == static_cast<int>(Request.size())) {
        uint64_t Deadline = FClock->Now() + FTimeout;
        for (;;) {
            // Sleeps until bytes wait or just past the deadline.
            const uint64_t Now = FClock->Now();
            const uint64_t Left = Now > Deadline ? 0 : Deadline - Now + 1;
            if (FLink.WaitForInput(static_cast<int>(std::min<uint64_t>(Left, INT_MAX))) &&
                F.Receive(FLink))
                Deadline = FClock->Now() + FTimeout;
            if (F.Done()) break;
            if (FClock->Now() > Deadline) break;
        }
    }
    if (Trace) TraceFrame(PortName, TTraceDir::Rx, F.Received(), F.ReceivedCount());

    FLastFailure = {};
    if (AnyAnswer) {
        if (!F.Arrived())
            FLastFailure.Kind =
                F.ReceivedCount() == 0 ? TModbusFailure::NoAnswer : TModbusFailure::WrongLength;
        return {F.Arrived(), {}};
    }
    size_t Count = 0;
    const uint8_t *Answer = F.AnswerPdu(Count);
    if (!Answer) {
        FLastFailure.Kind = F.FrameFailure();
        // The framing refused what its own checks cannot name.
        if (FLastFailure.Kind == TModbusFailure::None)
            FLastFailure.Kind = TModbusFailure::WrongLength;
        return {};
    }
    switch (ModbusPdu::CheckAnswer(Answer, Count, AnswerPduLen, Pdu[0])) {
        case ModbusPdu::TAnswerKind::Normal:
            if (F.EndedQuiet()) FQuietAt = FClock->Now();
            return {false, {Answer, Count}};
        case ModbusPdu::TAnswerKind::Exception:
            // A refusal: the operation fails like any other.
            FLastFailure = {TModbusFailure::Exception, ModbusPdu::ExceptionCode(Answer)};
            return {};
        case ModbusPdu::TAnswerKind::Malformed:
            break;
    }
    FLastFailure.Kind = Answer[0] != Pdu[0] && Answer[0] != (Pdu[0] | ExceptionBit)
                            ? TModbusFailure::WrongFunction
                            : TModbusFailure::WrongLength;
    return {};
}

bool TModbusRTU::Result(bool Ok, TModbusFailure Why) {
    if (!Ok && FLastFailure.Kind == TModbusFailure::None) FLastFailure.Kind = Why;
    return Ok;
}

bool TModbusRTU::Scan(uint8_t Device, uint16_t Address) {
    return Transaction(Device, BuildRequest(FnReadHoldingRegs, Address, 1), ReadRegsAnswerLength(1),
                       true)
        .Arrived;
}

bool TModbusRTU::ReadDiscreteInputs(uint8_t Device, uint16_t Register, TModbusBits &Bits) {
    if (Bits.empty()) {
        FLastFailure = {};
        return true;
    }
    const size_t Q = Bits.size();
    const TAnswer A =
        Transaction(Device, BuildRequest(FnReadDiscreteInputs, Register, static_cast<uint16_t>(Q)),
                    ReadBitsAnswerLength(Q), false);
    return Result(!A.Pdu.empty() && ParseReadBits(A.Pdu.data(), A.Pdu.size(), Bits),
                  TModbusFailure::WrongLength);
}

bool TModbusRTU::ReadHoldingRegs(uint8_t Device, uint16_t Register, TModbusRegisters &Regs) {
    if (Regs.empty()) {
        FLastFailure = {};
        return true;
    }
    const size_t N = Regs.size();
    const TAnswer A =
        Transaction(Device, BuildRequest(FnReadHoldingRegs, Register, static_cast<uint16_t>(N)),
                    ReadRegsAnswerLength(N), false);
    return Result(!A.Pdu.empty() && ParseReadRegs(A.Pdu.data(), A.Pdu.size(), Regs),
                  TModbusFailure::WrongLength);
}

bool TModbusRTU::WriteHoldingReg(uint8_t Device, uint16_t Register, uint16_t Value) {
    const TAnswer A = Transaction(Device, BuildRequest(FnWriteHoldingReg, Register, Value),
                                  WriteAnswerLength, false);
    return Result(!A.Pdu.empty() && CheckWriteEcho(A.Pdu.data(), A.Pdu.size(), Register, Value),
                  TModbusFailure::WrongEcho);
}

bool TModbusRTU::WriteHoldingRegs(uint8_t Device, uint16_t Register, const TModbusRegisters &Regs) {
    if (Regs.empty()) {
        FLastFailure = {};
        return true;
    }
    // The byte count is one byte: beyond 127 registers the frame would lie
    // about its own length.
    if (Regs.size() > 127) {
        FLastFailure = {TModbusFailure::TooLong, 0};
        return false;
    }
    const TAnswer A =
        Transaction(Device, BuildWriteMultiple(Register, Regs), WriteAnswerLength, false);
    return Result(!A.Pdu.empty() && CheckWriteEcho(A.Pdu.data(), A.Pdu.size(), Register,
                                                   static_cast<uint16_t>(Regs.size())),
                  TModbusFailure::WrongEcho);
}
