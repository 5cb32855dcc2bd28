// The RTU framing's receive rules.
#include "modbus/ModbusFraming.h"

#include <algorithm>
#include <climits>

TFrame TRtuFraming::Begin(uint8_t Device, const TPdu &Pdu, size_t AnswerPduLen, bool AnyAnswer) {
    FDevice = Device;
    FFunction = Pdu.empty() ? 0 : Pdu[0];
    FAnyAnswer = AnyAnswer;
    FAnswer.assign(AnswerPduLen + ModbusFrame::Overhead, 0);
    FGot = 0;
    return ModbusFrame::Wrap(Device, Pdu);
}

bool TRtuFraming::Receive(TLink &Link) {
    // Never more than the answer: later bytes stay for the next purge.
    const int Want = static_cast<int>(std::min<size_t>(FAnswer.size() - FGot, INT_MAX));
    const int N = Link.Read(FAnswer.data() + FGot, Want);
    if (N <= 0) return false;
    FGot += static_cast<size_t>(N);
    return true;
}

bool TRtuFraming::Done() const {
    if (FGot >= FAnswer.size()) return true;
    return !FAnyAnswer && !ModbusFrame::CanStillPass(FAnswer.data(), FGot, FDevice, FFunction);
}

const uint8_t *TRtuFraming::AnswerPdu(size_t &Count) const {
    if (!ModbusFrame::CheckFrame(FAnswer.data(), FGot, FAnswer.size(), FDevice)) return nullptr;
    Count = FGot - ModbusFrame::Overhead;
    return FAnswer.data() + 1;
}
