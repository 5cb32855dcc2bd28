#include "bootloader/XComm.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <stdexcept>

#include "bootloader/CRC8.h"
#include "serial/FrameTrace.h"

// --- Packets ----------------------------------------------------------------

TByteArray BuildRequest(uint8_t Command, uint16_t PacketNo, const uint8_t *Data, size_t Count) {
    if (Count > 250) throw std::invalid_argument("bootloader packet data too long");
    TByteArray Packet;
    Packet.reserve(Count + 6);
    Packet.push_back(CBootStart);
    Packet.push_back(static_cast<uint8_t>(Count + 5));
    Packet.push_back(Command);
    Packet.push_back(static_cast<uint8_t>(PacketNo & 0xFF));
    Packet.push_back(static_cast<uint8_t>(PacketNo >> 8));
    if (Count > 0) Packet.insert(Packet.end(), Data, Data + Count);
    Packet.push_back(CalcCRC8(Packet, 1, Packet.size() - 1));
    return Packet;
}

bool CheckReply(const TByteArray &Reply, uint8_t Command, TByteArray &Payload) {
    // Start, length, command echo and CRC at least; the length byte must
    // describe exactly what came.
    if (Reply.size() < 4) return false;
    if (Reply[0] != CBootStart) return false;
    if (Reply[1] != Reply.size() - 1) return false;
    if (Reply[2] != (Command | CReplyFlag)) return false;
    if (Reply.back() != CalcCRC8(Reply, 1, Reply.size() - 2)) return false;
    Payload.assign(Reply.begin() + 3, Reply.end() - 1);
    return true;
}

// --- TXComm -----------------------------------------------------------------

namespace {

// The clock of SetPause: the system's time, the caller's pause.
class TPauseClock final : public TClock {
public:
    explicit TPauseClock(TXComm::TPause Sleep) : FSleep(std::move(Sleep)) {}
    uint64_t Now() const override { return SystemClock().Now(); }
    void Pause(uint32_t Ms) override { FSleep(Ms); }

private:
    TXComm::TPause FSleep;
};

}  // namespace

TXComm::TXComm(TLink &Link) : FLink(Link) {}

TXComm::~TXComm() {
    try {
        FLink.Close();
    } catch (...) {
        // Nothing sensible to do with a failing close while being freed.
    }
}

void TXComm::SetClock(TClock &Clock) {
    FClock = &Clock;
    FOwnClock.reset();
}

void TXComm::SetPause(TPause Pause) {
    if (!Pause) {
        SetClock(SystemClock());
        return;
    }
    FOwnClock = std::make_unique<TPauseClock>(std::move(Pause));
    FClock = FOwnClock.get();
}

void TXComm::SetMaxRetry(int Value) {
    FMaxRetry = std::max(Value, 3);
}
void TXComm::SetMaxFails(int Value) {
    FMaxFails = std::max(Value, 5);
}
void TXComm::SetDefTimeout(uint32_t Value) {
    FDefTimeout = std::clamp<uint32_t>(Value, 500, CMaxDefTimeout);
}

bool TXComm::Connected() const {
    return FLink.Connected() && FSensorID != 0;
}

std::string TXComm::COMPort() const {
    return FLink.Connected() ? FLink.Settings().Port : std::string();
}

int TXComm::BaudRate() const {
    return FLink.Connected() ? BaudRateToInt(FLink.Settings().BaudRate) : 0;
}

void TXComm::SetFirstBaud(int Rate) {
    FFirstBaud = Rate == 19200 || Rate == 57600 ? Rate : 0;
}

void TXComm::Close() {
    FLink.Close();
    FSensorID = 0;
    FVersionHi = 0;
    FVersionLo = 0;
    FIdentCommand = 0;
    FIdentMs = 0;
}

// 8 data bits, even parity (checked), one stop bit, RTS toggling the RS-485
// transmitter, DTR on.
TLinkSettings TXComm::LineSettings(TBaudRate Rate) const {
    TLinkSettings S;
    S.BaudRate = Rate;
    S.DataBits = dbEight;
    S.Parity = prEven;
    S.ParityCheck = true;
    S.StopBits = sbOneStopBit;
    S.ControlRTS = rtsToggle;
    S.ControlDTR = dtrEnable;
    return S;
}

bool TXComm::Open(const std::string &Port) {
    Close();
    FOpenError.reset();
    // 19200 and then 57600 baud, unless the caller knows better.
    const TBaudRate Order[2][2] = {{br19200, br57600}, {br57600, br19200}};
    for (TBaudRate Rate : Order[FFirstBaud == 57600 ? 1 : 0]) {
        TLinkSettings S = LineSettings(Rate);
        S.Port = Port;
        // A link left open by an error of the previous attempt is simply
        // switched to the next rate and asked again.
        if (auto Error = FLink.Open(S)) {
            // Kept for the caller: the port itself refused. Only a refused
            // line setting may be the rate's fault; a port that cannot be
            // opened, or a server that cannot be reached or does not
            // answer, will not be at the next rate either.
            FOpenError = std::move(Error);
            if (FOpenError->Code() == CError_OpenFailed || FOpenError->OsError() == ETIMEDOUT)
                break;
            continue;
        }
        FOpenError.reset();
        try {
            if (GetDeviceInfo(FSensorID, FVersionHi, FVersionLo)) return true;
            FLink.Close();
        } catch (const EComPort &E) {
            // A line that has gone meanwhile (an adapter pulled out, a
            // server that dropped the connection) ends the search as a
            // port error; one still open is asked again at the next rate.
            if (!FLink.Connected()) {
                FOpenError = E;
                break;
            }
        }
    }
    // Whatever happened above, a failed open leaves the link closed.
    try {
        FLink.Close();
    } catch (const EComPort &) {
    }
    FSensorID = 0;
    FVersionHi = 0;
    FVersionLo = 0;
    FIdentCommand = 0;
    FIdentMs = 0;
    return false;
}

bool TXComm::AskIdentity(uint8_t Command, uint32_t TimeoutMs, uint16_t &SensorID,
                         uint8_t &VersionHi, uint8_t &VersionLo) {
    TByteArray Reply;
    if (!Transact(BuildRequest(Command, 0), Reply, TimeoutMs)) return false;
    if (Command == CCmdIdent && Reply.size() == 3) {
        SensorID = Reply[2];
    } else if (Command == CCmdIdent16 && Reply.size() == 4) {
        SensorID = static_cast<uint16_t>(Reply[2] | (Reply[3] << 8));
    } else {
        return false;
    }
    VersionHi = Reply[0];
    VersionLo = Reply[1];
    return true;
}

bool TXComm::GetDeviceInfo(uint16_t &SensorID, uint8_t &VersionHi, uint8_t &VersionLo) {
    if (!FLink.Connected()) return false;
    // Sensors with a 16-bit ID answer only 0x0B, and only at 57600.
    const bool Both = FLink.Settings().BaudRate == br57600;
    for (uint8_t Command : {CCmdIdent, CCmdIdent16}) {
        if (Command == CCmdIdent16 && !Both) break;
        const uint64_t Start = Now();
        if (AskIdentity(Command, FDefTimeout, SensorID, VersionHi, VersionLo)) {
            FIdentCommand = Command;
            FIdentMs = static_cast<uint32_t>(std::min<uint64_t>(Now() - Start, CMaxDefTimeout));
            return true;
        }
    }
    return false;
}

uint32_t TXComm::QuietTimeout() const {
    // The request and the longest reply at 11 bits a character, rounded up.
    const uint64_t Rate =
        static_cast<uint64_t>(std::max(BaudRateToInt(FLink.Settings().BaudRate), 300));
    const uint64_t Line = ((6 + CMaxReplyBytes) * 11ULL * 1000ULL + Rate - 1) / Rate;
    uint64_t Timeout = Line + CQuietTurnaroundMs + CQuietAdapterMs + CQuietMarginMs;
    if (FIdentCommand != 0) Timeout = std::max<uint64_t>(Timeout, 2ULL * FIdentMs + CQuietMarginMs);
    return static_cast<uint32_t>(std::min<uint64_t>(Timeout, FDefTimeout));
}

bool TXComm::StillInBootloader() {
    uint16_t Id = 0;
    uint8_t Hi = 0, Lo = 0;
    const uint32_t Timeout = QuietTimeout();
    if (FIdentCommand != 0) return AskIdentity(FIdentCommand, Timeout, Id, Hi, Lo);
    // Not found through this object (a link opened by the caller): every
    // request GetDeviceInfo would make at this rate.
    if (AskIdentity(CCmdIdent, Timeout, Id, Hi, Lo)) return true;
    return FLink.Settings().BaudRate == br57600 && AskIdentity(CCmdIdent16, Timeout, Id, Hi, Lo);
}

bool TXComm::Transact(const TByteArray &Request, TByteArray &Reply, uint32_t TimeoutMs) {
    Reply.clear();
    FLink.Clear();
    const int Written = FLink.Write(Request.data(), static_cast<int>(Request.size()));
    const bool Trace = FrameTraceEnabled();
    const std::string PortName = Trace ? FLink.Settings().Port : std::string();
    if (Trace) TraceFrame(PortName, TTraceDir::Tx, Request.data(), Request.size());
    if (Written != static_cast<int>(Request.size())) return false;

    // Silence time-out: every byte received restarts it; the wait ends as
    // soon as the length announced by the reply is in. A line that never
    // falls silent (noise, another talker) must still end the exchange: the
    // whole of it is bounded by the time-out plus twice the time the largest
    // reply takes on the line, plus a margin.
    TByteArray Raw;
    size_t Expected = 0;  // 0: not known yet
    const uint64_t Start = Now();
    uint64_t Deadline = Start + TimeoutMs;
    const uint64_t Limit = Start + TimeoutMs + ReplyAllowance();
    for (;;) {
        // Nothing can be waiting yet right after the purge: wait first,
        // then take what has come in one read. Bytes beyond a complete
        // reply are dropped here, as the next exchange's purge would.
        const uint64_t T = Now();
        if (T > Deadline) break;
        if (!FLink.WaitForInput(static_cast<int>(std::min<uint64_t>(Deadline - T + 1, 60000))))
            continue;
        uint8_t Buf[256];
        const int Got = FLink.Read(Buf, sizeof Buf);
        for (int i = 0; i < Got; ++i) {
            const uint8_t Byte = Buf[i];
            if (Trace && Raw.size() < CMaxTraceBytes) Raw.push_back(Byte);
            if (Expected != 0 && Reply.size() == Expected) continue;
            if (Byte == CBootStart || !Reply.empty()) {
                Reply.push_back(Byte);
                if (Reply.size() == 2) {
                    // Start, length, command and CRC at least: a shorter
                    // length cannot be a reply, and the exchange ends
                    // here as failed (waiting on would take whatever
                    // follows, without end).
                    Expected = Reply[1] < 3 ? Reply.size() : static_cast<size_t>(Reply[1]) + 1;
                }
            }
        }
        if (Expected != 0 && Reply.size() == Expected) break;
        // Noise before the start byte is dropped but counts as activity.
        if (Got > 0) Deadline = std::min(Now() + TimeoutMs, Limit);
    }
    if (Trace) TraceFrame(PortName, TTraceDir::Rx, Raw.data(), Raw.size());

    if (Expected == 0 || Reply.size() != Expected || Request.size() < 3) return false;
    TByteArray Payload;
    if (!CheckReply(Reply, Request[2], Payload)) return false;
    Reply = std::move(Payload);
    return true;
}

uint32_t TXComm::ReplyAllowance() const {
    // 11 bits a character (8 data bits, parity, start and stop bit).
    const int Rate = BaudRateToInt(FLink.Settings().BaudRate);
    const uint64_t Line =
        CMaxReplyBytes * 11ULL * 1000ULL / static_cast<uint64_t>(std::max(Rate, 300));
    return static_cast<uint32_t>(2 * Line + CReplyMarginMs);
}

bool TXComm::SendDataPacket(uint16_t PacketNo, const uint8_t *Data, size_t Count,
                            uint32_t TimeoutMs, uint16_t &Ack) {
    TByteArray Reply;
    if (!Transact(BuildRequest(CCmdData, PacketNo, Data, Count), Reply, TimeoutMs) ||
        Reply.size() != 2)
        return false;
    Ack = static_cast<uint16_t>(Reply[0] | (Reply[1] << 8));
    return true;
}

bool TXComm::UploadFile(const std::string &FName, const TCODFileData &Hdr,
                        const TOnProgress &OnProgress) {
    FEarlyCompletion.reset();
    if (!FLink.Connected()) return false;
    TFirmwareBytes Image;
    TCODFileData Check;
    if (LoadFirmware(FName, Image, Check) != TCodLoad::Ok) return false;
    return UploadImage(Image, Hdr, OnProgress);
}

bool TXComm::UploadImage(std::span<const uint8_t> Image, const TCODFileData &Hdr,
                         const TOnProgress &OnProgress) {
    // The bytes are checked once more: they are what will be sent.
    FEarlyCompletion.reset();
    if (!FLink.Connected()) return false;
    TCODFileData Check;
    if (!ValidateImage(Image, Check) || Check.DeviceID != Hdr.DeviceID) return false;

    const uint64_t Size = Image.size();
    const bool Esp32 = Hdr.IsESP32();
    const size_t PacketSize = Esp32 ? CESP32PacketSize : CDefPacketSize;
    // The packet number must never reach the completion code (nor wrap into
    // the start packet's 0): refuse images that need more packets.
    const uint64_t Packets = (Size + PacketSize - 1) / PacketSize;
    if (Packets > static_cast<uint64_t>(CMaxDataPackets)) return false;

    auto Report = [&OnProgress](int Sent, int Fails, int Progress) {
        if (OnProgress) OnProgress(Sent, Fails, Progress);
    };

    uint16_t Ack = 0xFFFF;
    if (!SendDataPacket(0, nullptr, 0, FDefTimeout, Ack) || Ack != 0) return false;

    uint16_t PacketNo = 1;
    uint32_t Timeout = Esp32 ? CESP32SlowTimeout : FDefTimeout;
    int Fails = 0;
    uint64_t Position = 0;
    while (Position < Size) {
        const uint8_t *Slice = Image.data() + Position;
        const size_t Count = static_cast<size_t>(std::min<uint64_t>(PacketSize, Size - Position));
        Position += Count;
        if (Position > CESP32SlowBytes && Timeout != FDefTimeout && Esp32) Timeout = FDefTimeout;
        const int Progress = static_cast<int>(
            std::nearbyint(static_cast<double>(Position) / static_cast<double>(Size) * 100.0));

        int Attempts = 0;
        for (;;) {
            if (!SendDataPacket(PacketNo, Slice, Count, Timeout, Ack)) {
                ++Attempts;
                ++Fails;
                Report(PacketNo - 1, Fails, Progress);
                if (Attempts < FMaxRetry && Fails < FMaxFails) continue;
                return false;
            }
            if (Ack == CAckComplete && Position < Size) {
                // Complete before the image is: the sensor holds part of it.
                Report(PacketNo - 1, Fails, Progress);
                FEarlyCompletion = TEarlyCompletion{PacketNo, static_cast<int>(Packets)};
                return false;
            }
            if (Ack == CAckComplete) {
                Report(PacketNo - 1, Fails, 100);
                FClock->Pause(CRebootPause);
                // Success means the sensor has left bootloader mode. One
                // unanswered identification proves little on a noisy line:
                // a sensor still in its bootloader whose answer got lost
                // would pass for updated. Ask again; any answer is failure.
                // Each request is the one the sensor answered when it was
                // found, expected to go unanswered: it waits the quiet
                // time-out, not the settings' one.
                for (int i = 0; i < CFinalIdentAttempts; ++i)
                    if (StillInBootloader()) return false;
                return true;
            }
            if (Ack != PacketNo) return false;
            ++PacketNo;
            Report(PacketNo - 1, Fails, Progress);
            break;
        }
    }
    return false;
}
