#include "modbus/ModbusTcpLink.h"

#include <algorithm>
#include <cstring>

#include "modbus/CRC16.h"
#include "serial/FrameTrace.h"

std::optional<TNetLink::TAddress> TModbusTcpLink::ParseUrl(const std::string &Url) {
    if (!TNetLink::HasScheme(Url, "modbus-tcp://")) return std::nullopt;
    TNetLink::TAddress A;
    A.Kind = TNetLink::TKind::Raw;
    A.Service = "502";
    TNetLink::SplitHostPort(Url.substr(13), A);
    return A;
}

std::optional<EComPort> TModbusTcpLink::Open(const TLinkSettings &Settings) {
    FSettings = Settings;
    FPending.clear();
    FInput.clear();
    const auto A = ParseUrl(Settings.Port);
    if (!A) return EComPort(CError_OpenFailed, EINVAL, "no server address in " + Settings.Port);
    if (auto Error = TNetLink::AddressError(*A, Settings.Port)) return Error;
    // The socket is a raw one to the same address; the line settings mean
    // nothing to a gateway.
    TLinkSettings Raw = Settings;
    const bool V6 = A->Host.find(':') != std::string::npos;
    Raw.Port = "tcp://" + (V6 ? "[" + A->Host + "]" : A->Host) + ":" + A->Service;
    return FSocket.Open(Raw);
}

int TModbusTcpLink::Write(const void *Buffer, int Count) {
    // An RTU frame: address, PDU, CRC.
    if (Count < 4) return FSocket.Write(Buffer, 0);
    const auto *P = static_cast<const uint8_t *>(Buffer);
    const size_t Pdu = static_cast<size_t>(Count) - 3;
    ++FTransaction;
    std::vector<uint8_t> Msg = {
        static_cast<uint8_t>(FTransaction >> 8), static_cast<uint8_t>(FTransaction), 0,   0,
        static_cast<uint8_t>((Pdu + 1) >> 8),    static_cast<uint8_t>(Pdu + 1),      P[0]};
    Msg.insert(Msg.end(), P + 1, P + 1 + Pdu);
    FSocket.Write(Msg.data(), static_cast<int>(Msg.size()));
    return Count;
}

// Takes at most what one answer still needs from the socket at a time and
// at most CMaxCollectBytes in one call: a gateway that never pauses cannot
// hold the master beyond its deadline, and FPending never exceeds one
// answer (CMaxAdu).
void TModbusTcpLink::Collect() {
    size_t Dropped = 0;
    for (size_t Taken = 0; Taken < CMaxCollectBytes;) {
        // The header first (7 bytes), then the rest of the announced length.
        size_t Need = 7;
        if (FPending.size() >= 6)
            Need = 6 + ((static_cast<size_t>(FPending[4]) << 8) | FPending[5]);
        if (FPending.size() >= 6 &&
            (Need < 6 + 2 || Need > CMaxAdu)) {  // not Modbus TCP: give the bytes up
            Dropped += FPending.size();
            FPending.clear();
            continue;
        }
        uint8_t Buf[CMaxAdu];
        const int N = FSocket.Read(Buf, static_cast<int>(Need - FPending.size()));
        if (N <= 0) break;
        Taken += static_cast<size_t>(N);
        FPending.insert(FPending.end(), Buf, Buf + N);
        if (FPending.size() < Need || Need == 7) continue;
        const size_t Len = Need - 6;
        const uint16_t Id = static_cast<uint16_t>((FPending[0] << 8) | FPending[1]);
        // Answers to earlier requests (after a time-out) are dropped; so are
        // answers beyond what the master can still read.
        if (Id == FTransaction && FPending[2] == 0 && FPending[3] == 0 &&
            FInput.size() + Len + 2 <= CMaxInput) {
            const size_t Start = FInput.size();
            FInput.insert(FInput.end(), FPending.begin() + 6, FPending.end());
            const uint16_t Crc = CalcCRC16(FInput.data() + Start, static_cast<int>(Len));
            // In the order the frame functions put and check it.
            FInput.push_back(static_cast<uint8_t>(Crc >> 8));
            FInput.push_back(static_cast<uint8_t>(Crc & 0xFF));
        } else {
            Dropped += FPending.size();
        }
        FPending.clear();
    }
    if (Dropped > 0 && FrameTraceEnabled()) TraceDroppedBytes(FSettings.Port, Dropped);
}

int TModbusTcpLink::Read(void *Buffer, int Count) {
    Collect();
    const size_t N = std::min(FInput.size(), static_cast<size_t>(std::max(Count, 0)));
    if (N == 0) return 0;  // nothing to copy (an empty buffer has no data)
    std::memcpy(Buffer, FInput.data(), N);
    FInput.erase(FInput.begin(), FInput.begin() + static_cast<long>(N));
    return static_cast<int>(N);
}

bool TModbusTcpLink::WaitForInput(int TimeoutMs) {
    Collect();
    if (!FInput.empty()) return true;
    // Bytes of an incomplete answer count as silence broken: the master
    // then reads nothing and waits again, as it does between characters.
    return FSocket.WaitForInput(TimeoutMs);
}

void TModbusTcpLink::Clear() {
    FSocket.Clear();
    FPending.clear();
    FInput.clear();
}
