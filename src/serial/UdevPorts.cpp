#include "serial/UdevPorts.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/UdevHandles.h"

namespace {

constexpr char kVirtualDevices[] = "/sys/devices/virtual/";

std::string Text(const char *P) {
    return P ? std::string(P) : std::string();
}

int HexValue(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
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

// The first candidate that is not blank, cleaned.
std::string FirstOf(std::initializer_list<std::string> Candidates) {
    for (const std::string &C : Candidates) {
        std::string T = CleanText(C);
        if (!T.empty()) return T;
    }
    return {};
}

std::string Property(udev_device *Dev, const char *Name) {
    return Text(udev_device_get_property_value(Dev, Name));
}

std::string SysAttr(udev_device *Dev, const char *Name) {
    return Dev ? Text(udev_device_get_sysattr_value(Dev, Name)) : std::string();
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

// The 8250 platform device sits a few levels above its tty (directly, or
// behind the serial core's port and controller nodes).
bool HasSerial8250Ancestor(udev_device *Parent) {
    int Depth = 0;
    for (udev_device *D = Parent; D && Depth < 4; D = udev_device_get_parent(D), ++Depth)
        if (Text(udev_device_get_driver(D)) == "serial8250") return true;
    return false;
}

// The sysfs "type" attribute holds the PORT_* number; PORT_UNKNOWN is 0.
bool PortTypeKnown(const std::string &Type) {
    const std::string T = CleanText(Type);
    if (T.empty()) return false;
    for (const char C : T)
        if (C < '0' || C > '9') return false;
    return T.find_first_not_of('0') != std::string::npos;
}

// What udev knows of one tty device.
TTtyDevice ReadTtyDevice(udev_device *Dev) {
    TTtyDevice Info;
    Info.DevNode = Text(udev_device_get_devnode(Dev));
    udev_device *Parent = udev_device_get_parent(Dev);
    Info.HasParent = Parent != nullptr;
    if (Info.DevNode.empty() || !Parent) return Info;
    Info.Serial8250 = HasSerial8250Ancestor(Parent);
    if (Info.Serial8250) Info.PortType = SysAttr(Dev, "type");
    Info.ModelEnc = Property(Dev, "ID_MODEL_ENC");
    Info.ModelFromDatabase = Property(Dev, "ID_MODEL_FROM_DATABASE");
    Info.Model = Property(Dev, "ID_MODEL");
    Info.VendorEnc = Property(Dev, "ID_VENDOR_ENC");
    Info.VendorFromDatabase = Property(Dev, "ID_VENDOR_FROM_DATABASE");
    Info.Vendor = Property(Dev, "ID_VENDOR");
    Info.UsbDriver = Property(Dev, "ID_USB_DRIVER");
    udev_device *Usb = udev_device_get_parent_with_subsystem_devtype(Dev, "usb", "usb_device");
    Info.UsbProduct = SysAttr(Usb, "product");
    Info.UsbManufacturer = SysAttr(Usb, "manufacturer");
    Info.SerialNumber = Property(Dev, "ID_SERIAL_SHORT");
    if (Info.SerialNumber.empty()) Info.SerialNumber = SysAttr(Usb, "serial");
    Info.Driver = DriverName(Parent);
    return Info;
}

}  // namespace

std::string DecodeUdevEscapes(const std::string &S) {
    std::string Out;
    Out.reserve(S.size());
    for (size_t I = 0; I < S.size(); ++I) {
        if (S[I] == '\\' && I + 3 < S.size() && S[I + 1] == 'x' && HexValue(S[I + 2]) >= 0 &&
            HexValue(S[I + 3]) >= 0) {
            Out += static_cast<char>(HexValue(S[I + 2]) * 16 + HexValue(S[I + 3]));
            I += 3;
        } else {
            Out += S[I];
        }
    }
    return Out;
}

std::optional<TComListData> MakePortEntry(const TTtyDevice &Dev, const TUartProbe &HasUart) {
    if (Dev.DevNode.empty() || !Dev.HasParent) return std::nullopt;
    // Legacy 8250 ports are registered whether or not a UART is behind them.
    // The serial core tells the port type in sysfs, which needs no open (an
    // open may be refused or toggle the modem lines); older kernels only
    // answer TIOCGSERIAL.
    if (Dev.Serial8250) {
        const bool Present =
            !Dev.PortType.empty() ? PortTypeKnown(Dev.PortType) : (HasUart && HasUart(Dev.DevNode));
        if (!Present) return std::nullopt;
    }
    std::string Name = FirstOf(
        {DecodeUdevEscapes(Dev.ModelEnc), Dev.ModelFromDatabase, Dev.Model, Dev.UsbProduct});
    if (Name.empty())
        Name = FirstOf({DecodeUdevEscapes(Dev.VendorEnc), Dev.VendorFromDatabase, Dev.Vendor,
                        Dev.UsbManufacturer});
    TPortKind Kind = TPortKind::Named;
    if (Name.empty()) {
        Name = FirstOf({Dev.UsbDriver, Dev.Driver});
        Kind = TPortKind::Driver;
    }
    if (Name.empty()) {
        Name = "Serial port";
        Kind = TPortKind::Unnamed;
    }
    const std::string Label = Name;
    const std::string Serial = CleanText(Dev.SerialNumber);
    if (!Serial.empty()) Name += " S/N " + Serial;
    return TComListData{Dev.DevNode, Name + " (" + Dev.DevNode + ")", Kind, Label};
}

TAdapterFacts AdapterFactsOf(const TTtyDevice &Dev) {
    TAdapterFacts Facts;
    if (Dev.DevNode.empty() || !Dev.HasParent) return Facts;
    Facts.Vendor = FirstOf({DecodeUdevEscapes(Dev.VendorEnc), Dev.VendorFromDatabase, Dev.Vendor,
                            Dev.UsbManufacturer});
    Facts.Model = FirstOf(
        {DecodeUdevEscapes(Dev.ModelEnc), Dev.ModelFromDatabase, Dev.Model, Dev.UsbProduct});
    Facts.Serial = CleanText(Dev.SerialNumber);
    return Facts;
}

std::optional<TTtyDevice> TtyDeviceAt(const std::string &Path) {
    struct stat St {};
    if (::stat(Path.c_str(), &St) != 0 || !S_ISCHR(St.st_mode)) return std::nullopt;
    TUdevPtr Udev(udev_new());
    if (!Udev) return std::nullopt;
    TUdevDevicePtr Dev(udev_device_new_from_devnum(Udev.get(), 'c', St.st_rdev));
    if (!Dev || Text(udev_device_get_subsystem(Dev.get())) != "tty") return std::nullopt;
    return ReadTtyDevice(Dev.get());
}

bool Has8250Uart(const std::string &DevNode) {
    const int Fd = ::open(DevNode.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (Fd < 0) return errno == EBUSY;  // TIOCEXCL: in use, so it is real
    serial_struct Info{};
    const bool Ok = ::ioctl(Fd, TIOCGSERIAL, &Info) == 0 && Info.type != PORT_UNKNOWN;
    ::close(Fd);
    return Ok;
}

void ScanTtyDevices(const std::function<void(const TTtyDevice &)> &Visit) {
    TUdevPtr Udev(udev_new());
    if (!Udev) return;
    TUdevEnumeratePtr Enum(udev_enumerate_new(Udev.get()));
    if (!Enum) return;
    if (udev_enumerate_add_match_subsystem(Enum.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(Enum.get()) < 0)
        return;
    udev_list_entry *Entry;
    udev_list_entry_foreach(Entry, udev_enumerate_get_list_entry(Enum.get())) {
        const char *SysPath = udev_list_entry_get_name(Entry);
        // Virtual consoles, ptmx and the like live under /sys/devices/virtual
        // and have no parent device. Most tty devices are such; passing them
        // by without building a device object makes the scan several times
        // faster.
        if (std::strncmp(SysPath, kVirtualDevices, sizeof kVirtualDevices - 1) == 0) {
            Visit(TTtyDevice{});
            continue;
        }
        TUdevDevicePtr Dev(udev_device_new_from_syspath(Udev.get(), SysPath));
        if (!Dev) continue;
        Visit(ReadTtyDevice(Dev.get()));
    }
}
