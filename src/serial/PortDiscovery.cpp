#include "serial/PortDiscovery.h"

#include "serial/UdevHandles.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TPortQuery &PortQueryOverride() {
    static TPortQuery Query;
    return Query;
}

std::string Text(const char *P) { return P ? std::string(P) : std::string(); }

// udev writes unsafe bytes of *_ENC properties as \xHH (a blank as \x20).
std::string DecodeUdevEscapes(const std::string &S) {
    std::string Out;
    Out.reserve(S.size());
    for (size_t I = 0; I < S.size(); ++I) {
        if (S[I] == '\\' && I + 3 < S.size() && S[I + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(S[I + 2])) &&
            std::isxdigit(static_cast<unsigned char>(S[I + 3]))) {
            Out += static_cast<char>(std::strtol(S.substr(I + 2, 2).c_str(), nullptr, 16));
            I += 3;
        } else {
            Out += S[I];
        }
    }
    return Out;
}

// Control characters become blanks; blanks at both ends go.
std::string CleanText(std::string S) {
    for (char &C : S)
        if (static_cast<unsigned char>(C) < 0x20 || C == 0x7F) C = ' ';
    const size_t B = S.find_first_not_of(' ');
    if (B == std::string::npos) return {};
    const size_t E = S.find_last_not_of(' ');
    return S.substr(B, E - B + 1);
}

std::string Property(udev_device *Dev, const char *Name) {
    return Dev ? Text(udev_device_get_property_value(Dev, Name)) : std::string();
}

std::string SysAttr(udev_device *Dev, const char *Name) {
    return Dev ? Text(udev_device_get_sysattr_value(Dev, Name)) : std::string();
}

// The first non-empty candidate, cleaned.
std::string FirstOf(std::initializer_list<std::string> Candidates) {
    for (const std::string &C : Candidates) {
        std::string T = CleanText(C);
        if (!T.empty()) return T;
    }
    return {};
}

// The driver of the nearest ancestor that is not a serial core port or
// controller node (those carry the generic drivers "port" and "ctrl").
std::string DriverName(udev_device *Parent) {
    for (udev_device *D = Parent; D; D = udev_device_get_parent(D)) {
        if (Text(udev_device_get_subsystem(D)) == "serial-base") continue;
        const std::string Driver = Text(udev_device_get_driver(D));
        if (!Driver.empty()) return Driver;
    }
    return {};
}

bool HasSerial8250Ancestor(udev_device *Parent) {
    int Depth = 0;
    for (udev_device *D = Parent; D && Depth < 4; D = udev_device_get_parent(D), ++Depth)
        if (Text(udev_device_get_driver(D)) == "serial8250") return true;
    return false;
}

// Legacy 8250 ports are registered whether or not a UART is behind them.
bool Has8250Uart(const std::string &DevNode) {
    const int Fd = ::open(DevNode.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (Fd < 0) return false;
    serial_struct Info{};
    const bool Ok = ::ioctl(Fd, TIOCGSERIAL, &Info) == 0 && Info.type != PORT_UNKNOWN;
    ::close(Fd);
    return Ok;
}

std::string DescribeTty(udev_device *Dev, udev_device *Parent) {
    udev_device *Usb = udev_device_get_parent_with_subsystem_devtype(Dev, "usb", "usb_device");
    const std::string Model = FirstOf({DecodeUdevEscapes(Property(Dev, "ID_MODEL_ENC")),
                                       Property(Dev, "ID_MODEL_FROM_DATABASE"), Property(Dev, "ID_MODEL"),
                                       SysAttr(Usb, "product")});
    if (!Model.empty()) return Model;
    const std::string Vendor = FirstOf({DecodeUdevEscapes(Property(Dev, "ID_VENDOR_ENC")),
                                        Property(Dev, "ID_VENDOR_FROM_DATABASE"), Property(Dev, "ID_VENDOR"),
                                        SysAttr(Usb, "manufacturer")});
    if (!Vendor.empty()) return Vendor;
    const std::string Driver = FirstOf({Property(Dev, "ID_USB_DRIVER"), DriverName(Parent)});
    return Driver.empty() ? std::string("Serial port") : Driver;
}

void QueryUdevPorts(std::vector<TComListData> &Ports) {
    TUdevPtr Udev(udev_new());
    if (!Udev) return;
    TUdevEnumeratePtr Enum(udev_enumerate_new(Udev.get()));
    if (!Enum) return;
    if (udev_enumerate_add_match_subsystem(Enum.get(), "tty") < 0 || udev_enumerate_scan_devices(Enum.get()) < 0)
        return;
    udev_list_entry *Entry;
    udev_list_entry_foreach(Entry, udev_enumerate_get_list_entry(Enum.get())) {
        TUdevDevicePtr Dev(udev_device_new_from_syspath(Udev.get(), udev_list_entry_get_name(Entry)));
        if (!Dev) continue;
        const std::string DevNode = Text(udev_device_get_devnode(Dev.get()));
        if (DevNode.empty()) continue;
        // Virtual consoles, ptmx and the like have no device behind them.
        udev_device *Parent = udev_device_get_parent(Dev.get());
        if (!Parent) continue;
        if (HasSerial8250Ancestor(Parent) && !Has8250Uart(DevNode)) continue;
        Ports.push_back({DevNode, DescribeTty(Dev.get(), Parent) + " (" + DevNode + ")"});
    }
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
        if (!Listed) Ports.push_back({Path, "Virtual port (" + Path + ")"});
    }
}

char Fold(char C) { return static_cast<char>(std::tolower(static_cast<unsigned char>(C))); }
bool IsDigit(char C) { return C >= '0' && C <= '9'; }

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
    Ports.swap(Found);
}

void SetPortQuery(TPortQuery Query) { PortQueryOverride() = std::move(Query); }
