#include "modbus/ModbusTcpLink.h"

#include <algorithm>
#include <cstring>

#include "modbus/CRC16.h"

std::optional<TNetLink::TAddress> TModbusTcpLink::ParseUrl(const std::string &Url) {
    if (Url.rfind("modbus-tcp://", 0) != 0) return std::nullopt;
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
    if (!A || A->Host.empty() || A->Service.empty())
        return EComPort(CError_OpenFailed, EINVAL, "no server address in " + Settings.Port);
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
    std::vector<uint8_t> Msg = {static_cast<uint8_t>(FTransaction >> 8), static_cast<uint8_t>(FTransaction), 0, 0,
                                static_cast<uint8_t>((Pdu + 1) >> 8), static_cast<uint8_t>(Pdu + 1), P[0]};
    Msg.insert(Msg.end(), P + 1, P + 1 + Pdu);
    FSocket.Write(Msg.data(), static_cast<int>(Msg.size()));
    return Count;
}

void TModbusTcpLink::Collect() {
    uint8_t Buf[512];
    for (int N; (N = FSocket.Read(Buf, sizeof Buf)) > 0;) FPending.insert(FPending.end(), Buf, Buf + N);
    while (FPending.size() >= 7) {
        const size_t Len = (static_cast<size_t>(FPending[4]) << 8) | FPending[5];
        if (Len < 2 || Len > 254) {  // not Modbus TCP: give the bytes up
            FPending.clear();
            return;
        }
        if (FPending.size() < 6 + Len) return;
        const uint16_t Id = static_cast<uint16_t>((FPending[0] << 8) | FPending[1]);
        // Answers to earlier requests (after a time-out) are dropped.
        if (Id == FTransaction && FPending[2] == 0 && FPending[3] == 0) {
            const size_t Start = FInput.size();
            FInput.insert(FInput.end(), FPending.begin() + 6, FPending.begin() + 6 + static_cast<long>(Len));
            const uint16_t Crc = CalcCRC16(FInput.data() + Start, static_cast<int>(Len));
            // In the order the frame functions put and check it.
            FInput.push_back(static_cast<uint8_t>(Crc >> 8));
            FInput.push_back(static_cast<uint8_t>(Crc & 0xFF));
        }
        FPending.erase(FPending.begin(), FPending.begin() + 6 + static_cast<long>(Len));
    }
}

int TModbusTcpLink::Read(void *Buffer, int Count) {
    Collect();
    const size_t N = std::min(FInput.size(), static_cast<size_t>(std::max(Count, 0)));
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
