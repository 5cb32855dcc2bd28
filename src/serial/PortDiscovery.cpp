#include "serial/PortDiscovery.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_set>

#include "serial/UdevPorts.h"

namespace {

std::mutex NetworkPortsLock;
std::vector<TComListData> &NetworkPortList() {
    static std::vector<TComListData> List;
    return List;
}

TPortQuery &PortQueryOverride() {
    static TPortQuery Query;
    return Query;
}

void QueryUdevPorts(std::vector<TComListData> &Ports) {
    ScanTtyDevices([&](const TTtyDevice &Dev) {
        if (std::optional<TComListData> Entry = MakePortEntry(Dev, Has8250Uart))
            Ports.push_back(std::move(*Entry));
    });
}

// Paths named in VELDRA_EXTRA_PORTS (colon-separated) that exist.
void QueryExtraPorts(std::vector<TComListData> &Ports) {
    const char *Env = std::getenv("VELDRA_EXTRA_PORTS");
    if (!Env) return;
    const std::string List = Env;
    size_t Start = 0;
    while (Start <= List.size()) {
        size_t End = List.find(':', Start);
        if (End == std::string::npos) End = List.size();
        const std::string Path = List.substr(Start, End - Start);
        Start = End + 1;
        struct stat St {};
        if (Path.empty() || ::stat(Path.c_str(), &St) != 0) continue;
        const bool Listed = std::any_of(Ports.begin(), Ports.end(),
                                        [&](const TComListData &P) { return P.DeviceID == Path; });
        if (!Listed) Ports.push_back({Path, "Virtual port (" + Path + ")", TPortKind::Virtual, {}});
    }
}

char Fold(char C) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
}
bool IsDigit(char C) {
    return C >= '0' && C <= '9';
}

}  // namespace

void QueryComPorts(std::vector<TComListData> &Ports) {
    QueryUdevPorts(Ports);
    QueryExtraPorts(Ports);
}

int CompareNatural(const std::string &A, const std::string &B) {
    size_t I = 0, J = 0;
    while (I < A.size() && J < B.size()) {
        if (IsDigit(A[I]) && IsDigit(B[J])) {
            // Compare the runs by value: skip leading zeros, then the longer
            // run is larger, then digit by digit.
            size_t EI = I, EJ = J;
            while (EI < A.size() && IsDigit(A[EI])) ++EI;
            while (EJ < B.size() && IsDigit(B[EJ])) ++EJ;
            size_t ZI = I, ZJ = J;
            while (ZI + 1 < EI && A[ZI] == '0') ++ZI;
            while (ZJ + 1 < EJ && B[ZJ] == '0') ++ZJ;
            if (EI - ZI != EJ - ZJ) return EI - ZI < EJ - ZJ ? -1 : 1;
            const int Cmp = A.compare(ZI, EI - ZI, B, ZJ, EJ - ZJ);
            if (Cmp != 0) return Cmp < 0 ? -1 : 1;
            I = EI, J = EJ;
            continue;
        }
        const auto CA = static_cast<unsigned char>(Fold(A[I]));
        const auto CB = static_cast<unsigned char>(Fold(B[J]));
        if (CA != CB) return CA < CB ? -1 : 1;
        ++I, ++J;
    }
    if (I < A.size()) return 1;
    if (J < B.size()) return -1;
    return 0;
}

int ComparePortNames(const std::vector<TComListData> &Ports, int Index1, int Index2) {
    return CompareNatural(Ports.at(static_cast<size_t>(Index1)).DeviceID,
                          Ports.at(static_cast<size_t>(Index2)).DeviceID);
}

void EnumComPorts(std::vector<TComListData> &Ports) {
    Ports.clear();
    std::vector<TComListData> Found;
    if (const TPortQuery &Query = PortQueryOverride())
        Query(Found);
    else
        QueryComPorts(Found);
    // Equal names keep the order the system reported them in.
    std::stable_sort(Found.begin(), Found.end(), [](const TComListData &L, const TComListData &R) {
        return CompareNatural(L.DeviceID, R.DeviceID) < 0;
    });
    {
        // A name listed already (a local port, an earlier network port) is
        // not listed again; a set keeps long lists linear.
        const std::lock_guard Lock(NetworkPortsLock);
        std::unordered_set<std::string> Listed;
        Listed.reserve(Found.size() + NetworkPortList().size());
        for (const TComListData &F : Found) Listed.insert(F.DeviceID);
        Found.reserve(Found.size() + NetworkPortList().size());
        for (const TComListData &P : NetworkPortList())
            if (Listed.insert(P.DeviceID).second) Found.push_back(P);
    }
    Ports.swap(Found);
}

void SetNetworkPorts(std::vector<TComListData> Ports) {
    const std::lock_guard Lock(NetworkPortsLock);
    NetworkPortList() = std::move(Ports);
}

void SetPortQuery(TPortQuery Query) {
    PortQueryOverride() = std::move(Query);
}
