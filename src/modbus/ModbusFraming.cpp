// The RTU framing's receive rules.
#include "modbus/ModbusFraming.h"

#include <algorithm>
#include <climits>

#include "modbus/CRC16.h"

namespace {
// Address, function | 0x80, code, CRC.
constexpr size_t ExceptionFrameLength = ModbusPdu::ExceptionAnswerLength + ModbusFrame::Overhead;
}  // namespace

TFrame TRtuFraming::Begin(uint8_t Device, const TPdu &Pdu, size_t AnswerPduLen, bool AnyAnswer) {
    FDevice = Device;
    FFunction = Pdu.empty() ? 0 : Pdu[0];
    FAnyAnswer = AnyAnswer;
    FLength = AnswerPduLen + ModbusFrame::Overhead;
    FAnswer.assign(FLength + (FLookPast ? LookPastRoom : 0), 0);
    FGot = 0;
    FPast = 0;
    return ModbusFrame::Wrap(Device, Pdu);
}

bool TRtuFraming::Receive(TLink &Link) {
    // Never more than the answer: later bytes stay for the next purge.
    // An exception answer is read to its end and no further.
    const size_t Size = ExceptionBegun() ? std::min(FLength, ExceptionFrameLength) : FLength;
    if (FGot >= Size) return false;
    // With look-past the read may run into the room after the answer: what
    // lands there was queued behind the answer.
    const size_t Want = Size - FGot;
    const size_t Room = FLookPast ? FAnswer.size() - FGot : Want;
    const int N =
        Link.Read(FAnswer.data() + FGot, static_cast<int>(std::min<size_t>(Room, INT_MAX)));
    if (N <= 0) return false;
    const size_t Got = std::min(static_cast<size_t>(N), Want);
    FGot += Got;
    FPast += static_cast<size_t>(N) - Got;
    return true;
}

bool TRtuFraming::Done() const {
    if (FGot >= FLength) return true;
    if (FAnyAnswer) return false;
    if (ExceptionBegun()) return FGot >= ExceptionFrameLength;
    return !ModbusFrame::CanStillPass(FAnswer.data(), FGot, FDevice, FFunction);
}

bool TRtuFraming::EndedQuiet() const {
    return FLookPast && FGot == FLength && FPast == 0;
}

bool TRtuFraming::ExceptionBegun() const {
    return !FAnyAnswer && FGot >= 2 && FAnswer[0] == FDevice &&
           FAnswer[1] == (FFunction | ModbusPdu::ExceptionBit);
}

const uint8_t *TRtuFraming::AnswerPdu(size_t &Count) const {
    // A whole exception answer goes to ModbusPdu like a normal one (bytes
    // that came with it in the same read are not part of it).
    const bool Exception = ExceptionBegun() && FGot >= ExceptionFrameLength;
    const size_t Got = Exception ? ExceptionFrameLength : FGot;
    const size_t Expected = Exception ? ExceptionFrameLength : FLength;
    if (!ModbusFrame::CheckFrame(FAnswer.data(), Got, Expected, FDevice)) return nullptr;
    Count = Got - ModbusFrame::Overhead;
    return FAnswer.data() + 1;
}

TModbusFailure TRtuFraming::FrameFailure() const {
    if (FGot == 0) return TModbusFailure::NoAnswer;
    if (FAnswer[0] != FDevice) return TModbusFailure::WrongAddress;
    if (FGot >= 2 && FAnswer[1] != FFunction && FAnswer[1] != (FFunction | ModbusPdu::ExceptionBit))
        return TModbusFailure::WrongFunction;
    const bool Exception = ExceptionBegun();
    const size_t Expected = Exception ? ExceptionFrameLength : FLength;
    if (FGot < Expected) return TModbusFailure::WrongLength;
    // A read answer that announces another byte count than asked for is
    // too long or too short, whatever its last bytes hold.
    const bool Read =
        FFunction == ModbusPdu::FnReadHoldingRegs || FFunction == ModbusPdu::FnReadDiscreteInputs;
    if (!Exception && Read && FAnswer[2] != FLength - ModbusFrame::Overhead - 2)
        return TModbusFailure::WrongLength;
    const uint16_t Crc = static_cast<uint16_t>(FAnswer[Expected - 2] << 8 | FAnswer[Expected - 1]);
    if (!CheckCRC16(FAnswer.data(), static_cast<int>(Expected - 2), Crc))
        return TModbusFailure::BadCrc;
    return TModbusFailure::None;
}
