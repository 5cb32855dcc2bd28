#include "MockBed.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

const std::string kUsbHost = "/devices/pci0000:00/0000:00:14.0/usb1/";

// udev's escaping of blanks in ID_MODEL_ENC and ID_VENDOR_ENC.
std::string Enc(const std::string &S) {
    std::string Out;
    for (char C : S) Out += C == ' ' ? std::string("\\x20") : std::string(1, C);
    return Out;
}

std::string Underscored(std::string S) {
    for (char &C : S)
        if (C == ' ') C = '_';
    return S;
}

struct TUsbIds {
    std::string Driver, VendorId, ProductId, Vendor, Model;
};

// tty, usb-serial port, interface, USB device: the tty first, as a recording
// of a real machine lists them.
TMockDevice UsbSerialAdapter(int TtyIndex, const std::string &UsbPort, const std::string &Serial,
                             const TUsbIds &Ids) {
    const std::string Tty = "ttyUSB" + std::to_string(TtyIndex);
    const std::string Dev = kUsbHost + UsbPort;
    const std::string Intf = Dev + "/" + UsbPort + ":1.0";
    const std::string Port = Intf + "/" + Tty;
    const std::string Node = Port + "/tty/" + Tty;
    TMockDevice D;
    D.DevNode = "/dev/" + Tty;
    D.Records = "P: " + Node + "\nN: " + Tty + "\nE: DEVNAME=/dev/" + Tty + "\nE: SUBSYSTEM=tty\n" +
                "E: ID_BUS=usb\nE: ID_VENDOR=" + Underscored(Ids.Vendor) +
                "\nE: ID_VENDOR_ENC=" + Enc(Ids.Vendor) + "\nE: ID_VENDOR_ID=" + Ids.VendorId +
                "\nE: ID_MODEL=" + Underscored(Ids.Model) + "\nE: ID_MODEL_ENC=" + Enc(Ids.Model) +
                "\nE: ID_MODEL_ID=" + Ids.ProductId +
                "\nE: ID_SERIAL=" + Underscored(Ids.Vendor + " " + Ids.Model) + "_" + Serial +
                "\nE: ID_SERIAL_SHORT=" + Serial + "\nE: ID_USB_DRIVER=" + Ids.Driver +
                "\nE: ID_USB_INTERFACE_NUM=00\n\n" + "P: " + Port +
                "\nE: SUBSYSTEM=usb-serial\nE: DRIVER=" + Ids.Driver +
                "\nL: driver=../../../../../../bus/usb-serial/drivers/" + Ids.Driver +
                "\nA: port_number=0\n\n" + "P: " + Intf +
                "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=" + Ids.Driver +
                "\nL: driver=../../../../../bus/usb/drivers/" + Ids.Driver +
                "\nA: bInterfaceClass=ff\n\n" + "P: " + Dev +
                "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb" +
                "\nL: driver=../../../../bus/usb/drivers/usb\nA: idVendor=" + Ids.VendorId +
                "\nA: idProduct=" + Ids.ProductId + "\nA: manufacturer=" + Ids.Vendor +
                "\nA: product=" + Ids.Model + "\nA: serial=" + Serial + "\n\n";
    D.SysPaths = {"/sys" + Node, "/sys" + Port, "/sys" + Intf, "/sys" + Dev};
    D.Description = Ids.Model + " S/N " + Serial + " (/dev/" + Tty + ")";
    return D;
}

}  // namespace

TMockDevice FtdiAdapter(int TtyIndex, const std::string &UsbPort, const std::string &Serial) {
    return UsbSerialAdapter(TtyIndex, UsbPort, Serial,
                            {"ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART"});
}

TMockDevice Cp210xAdapter(int TtyIndex, const std::string &UsbPort, const std::string &Serial) {
    return UsbSerialAdapter(
        TtyIndex, UsbPort, Serial,
        {"cp210x", "10c4", "ea60", "Silicon Labs", "CP2102 USB to UART Bridge Controller"});
}

TMockDevice AcmDevice(int TtyIndex, const std::string &UsbPort) {
    const std::string Tty = "ttyACM" + std::to_string(TtyIndex);
    const std::string Dev = kUsbHost + UsbPort;
    const std::string Intf = Dev + "/" + UsbPort + ":1.0";
    const std::string Node = Intf + "/tty/" + Tty;
    TMockDevice D;
    D.DevNode = "/dev/" + Tty;
    D.Records = "P: " + Node + "\nN: " + Tty + "\nE: DEVNAME=/dev/" + Tty +
                "\nE: SUBSYSTEM=tty\n\n" + "P: " + Intf +
                "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=cdc_acm" +
                "\nL: driver=../../../../../bus/usb/drivers/cdc_acm\nA: bInterfaceClass=02\n\n" +
                "P: " + Dev + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb" +
                "\nL: driver=../../../../bus/usb/drivers/usb\nA: idVendor=2e8a\nA: idProduct=000a" +
                "\nA: manufacturer=Raspberry Pi\nA: product=Pico\nA: serial=E6614C311B7E2A37\n\n";
    D.SysPaths = {"/sys" + Node, "/sys" + Intf, "/sys" + Dev};
    D.Description = "Pico S/N E6614C311B7E2A37 (/dev/" + Tty + ")";
    return D;
}

TMockDevice Uart8250(int Index, bool Uart, bool SerialBase) {
    const std::string Tty = "ttyS" + std::to_string(Index);
    const std::string Platform = "/devices/platform/serial8250";
    const std::string Ctrl = Platform + "/serial8250:0";
    const std::string Port = Ctrl + "/serial8250:0." + std::to_string(Index);
    const std::string Node = (SerialBase ? Port : Platform) + "/tty/" + Tty;
    TMockDevice D;
    D.DevNode = "/dev/" + Tty;
    D.Records = "P: " + Node + "\nN: " + Tty + "\nE: DEVNAME=/dev/" + Tty +
                "\nE: SUBSYSTEM=tty\nA: type=" + (Uart ? "4" : "0") +
                "\nA: uartclock=1843200\nA: port=0x" + std::to_string(3 + Index) + "f8\n\n";
    if (SerialBase)
        D.Records += "P: " + Port + "\nE: SUBSYSTEM=serial-base\nE: DRIVER=port" +
                     "\nL: driver=../../../../../bus/serial-base/drivers/port\n\n";
    // The platform device (and the serial core's controller) are shared by
    // all ports; recording them with every port is what a machine shows.
    if (Index == 0) {
        if (SerialBase)
            D.Records += "P: " + Ctrl + "\nE: SUBSYSTEM=serial-base\nE: DRIVER=ctrl" +
                         "\nL: driver=../../../../bus/serial-base/drivers/ctrl\n\n";
        D.Records += "P: " + Platform + "\nE: SUBSYSTEM=platform\nE: DRIVER=serial8250" +
                     "\nL: driver=../../../bus/platform/drivers/serial8250\n\n";
    }
    D.SysPaths = {"/sys" + Node};
    D.Description = "serial8250 (/dev/" + Tty + ")";
    return D;
}

// ------------------------------------------------------------------ bed

TMockBed::TMockBed() : FBed(umockdev_testbed_new()) {}

TMockBed::~TMockBed() {
    g_object_unref(FBed);
}

bool TMockBed::Add(const TMockDevice &Dev) {
    GError *Err = nullptr;
    if (!umockdev_testbed_add_from_string(FBed, Dev.Records.c_str(), &Err)) {
        ADD_FAILURE() << "testbed refused " << Dev.DevNode << ": " << (Err ? Err->message : "?");
        g_clear_error(&Err);
        return false;
    }
    // The testbed's far end is inherited by child processes (a simulator),
    // which would keep the node from ever hanging up.
    const int Far = Dev.DevNode.empty() ? -1 : FarEnd(Dev.DevNode);
    if (Far >= 0) ::fcntl(Far, F_SETFD, ::fcntl(Far, F_GETFD) | FD_CLOEXEC);
    return true;
}

bool TMockBed::Plug(const TMockDevice &Dev) {
    if (!Add(Dev)) return false;
    Uevents(Dev, "add");
    return true;
}

void TMockBed::Uevents(const TMockDevice &Dev, const char *Action) {
    // The kernel announces the USB device before the tty on top of it.
    if (std::string(Action) == "add" && Dev.SysPaths.size() > 1)
        umockdev_testbed_uevent(FBed, Dev.SysPaths.back().c_str(), Action);
    umockdev_testbed_uevent(FBed, Dev.SysPaths.front().c_str(), Action);
}

void TMockBed::Unplug(const TMockDevice &Dev) {
    umockdev_testbed_uevent(FBed, Dev.SysPaths.front().c_str(), "remove");
    for (const std::string &P : Dev.SysPaths) umockdev_testbed_remove_device(FBed, P.c_str());
    // The testbed leaves the node behind, which would stop the same node
    // from being plugged in again.
    if (!Dev.DevNode.empty()) {
        gchar *Root = umockdev_testbed_get_root_dir(FBed);
        ::unlink((std::string(Root) + Dev.DevNode).c_str());
        g_free(Root);
    }
}

int TMockBed::FarEnd(const std::string &DevNode) {
    return umockdev_testbed_get_dev_fd(FBed, DevNode.c_str());
}

void TMockBed::HangUp(const std::string &DevNode) {
    const int Fd = FarEnd(DevNode);
    if (Fd < 0) return;
    // The testbed closes its descriptors when it goes, so the number stays
    // taken (by /dev/null) instead of being closed twice.
    const int Null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(Null, 0);
    ASSERT_EQ(::dup2(Null, Fd), Fd);
    ::close(Null);
}

// --------------------------------------------------------------- driver

TSerialDriver::TSerialDriver(TMockBed &Bed, const std::string &DevNode, TAnswer Rs485Get,
                             TAnswer Rs485Set, TAnswer Serial)
    : FBed(Bed), FNode(DevNode), FRs485Get(Rs485Get), FRs485Set(Rs485Set), FSerial(Serial) {
    FSerialInfo.type = PORT_16550A;
    FSerialInfo.baud_base = 3000000;
    FHandler = umockdev_ioctl_base_new();
    g_signal_connect(FHandler, "handle-ioctl", G_CALLBACK(&TSerialDriver::Handle), this);
    GError *Err = nullptr;
    if (!umockdev_testbed_attach_ioctl(FBed.Get(), FNode.c_str(), FHandler, &Err)) {
        ADD_FAILURE() << "cannot attach to " << FNode << ": " << (Err ? Err->message : "?");
        g_clear_error(&Err);
    }
}

TSerialDriver::~TSerialDriver() {
    umockdev_testbed_detach_ioctl(FBed.Get(), FNode.c_str(), nullptr);
    g_object_unref(FHandler);
}

serial_rs485 TSerialDriver::Rs485() const {
    std::lock_guard<std::mutex> G(FLock);
    return FRs485;
}

void TSerialDriver::SetRs485(const serial_rs485 &Value) {
    std::lock_guard<std::mutex> G(FLock);
    FRs485 = Value;
}

void TSerialDriver::SetPortType(int Type) {
    std::lock_guard<std::mutex> G(FLock);
    FSerialInfo.type = Type;
}

int TSerialDriver::SerialFlags() const {
    std::lock_guard<std::mutex> G(FLock);
    return FSerialInfo.flags;
}

void TSerialDriver::SetSerialFlags(int Flags) {
    std::lock_guard<std::mutex> G(FLock);
    FSerialInfo.flags = Flags;
}

std::vector<TSerialDriver::TRequest> TSerialDriver::Requests() const {
    std::lock_guard<std::mutex> G(FLock);
    return FRequests;
}

gboolean TSerialDriver::Handle(UMockdevIoctlBase *, UMockdevIoctlClient *Client, gpointer Self) {
    static_cast<TSerialDriver *>(Self)->Answer(Client);
    return TRUE;
}

// Runs on the testbed's worker thread.
void TSerialDriver::Answer(UMockdevIoctlClient *Client) {
    const unsigned long Code = umockdev_ioctl_client_get_request(Client);
    TAnswer How = Supported;
    size_t Size = 0;
    switch (Code) {
        case TIOCGRS485:
            How = FRs485Get;
            Size = sizeof(serial_rs485);
            break;
        case TIOCSRS485:
            How = FRs485Set;
            Size = sizeof(serial_rs485);
            break;
        case TIOCGSERIAL:
        case TIOCSSERIAL:
            How = FSerial;
            Size = sizeof(serial_struct);
            break;
        case TIOCEXCL:
        case TIOCNXCL: {
            // Exclusive use is the adapter driver's, not the pseudo-terminal's
            // underneath: there it would outlive the close (the testbed holds
            // the far end) and keep an ordinary user from opening the node again.
            std::lock_guard<std::mutex> G(FLock);
            FRequests.push_back({Code, 0});
            umockdev_ioctl_client_complete(Client, 0, 0);
            return;
        }
        default: {
            // Not a request this driver emulates: the pseudo-terminal answers.
            int Errno = 0;
            const int Res = umockdev_ioctl_client_execute(Client, &Errno, nullptr);
            umockdev_ioctl_client_complete(Client, Res, Errno);
            return;
        }
    }
    std::lock_guard<std::mutex> G(FLock);
    if (How != Supported) {
        FRequests.push_back({Code, 0});
        umockdev_ioctl_client_complete(Client, -1, How == NotTty ? ENOTTY : EINVAL);
        return;
    }
    UMockdevIoctlData *Data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(Client), 0, Size, nullptr);
    if (!Data) {
        FRequests.push_back({Code, 0});
        umockdev_ioctl_client_complete(Client, -1, EFAULT);
        return;
    }
    uint32_t Flags = 0;
    switch (Code) {
        case TIOCGRS485:
            std::memcpy(Data->data, &FRs485, Size);
            break;
        case TIOCSRS485:
            std::memcpy(&FRs485, Data->data, Size);
            Flags = FRs485.flags;
            break;
        case TIOCGSERIAL:
            std::memcpy(Data->data, &FSerialInfo, Size);
            break;
        case TIOCSSERIAL: {
            serial_struct New{};
            std::memcpy(&New, Data->data, Size);
            FSerialInfo.flags = New.flags;  // the rest is the driver's own
            Flags = static_cast<uint32_t>(New.flags);
            break;
        }
        default:
            break;
    }
    FRequests.push_back({Code, Flags});
    umockdev_ioctl_client_complete(Client, 0, 0);
    g_object_unref(Data);
}

// --------------------------------------------------------------- bridge

TLineBridge::TLineBridge(int FarEnd, const std::string &SimPty) : FFar(FarEnd) {
    FSim = ::open(SimPty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(FSim, 0) << SimPty << ": " << std::strerror(errno);
    if (FSim >= 0) {
        termios T{};
        if (::tcgetattr(FSim, &T) == 0) {
            ::cfmakeraw(&T);
            ::tcsetattr(FSim, TCSANOW, &T);
        }
    }
    const int Flags = ::fcntl(FFar, F_GETFL);
    ::fcntl(FFar, F_SETFL, Flags | O_NONBLOCK);
    EXPECT_EQ(::pipe2(FWake, O_CLOEXEC | O_NONBLOCK), 0);
    FThread = std::thread([this] { Run(); });
}

TLineBridge::~TLineBridge() {
    Stop();
    if (FSim >= 0) ::close(FSim);
    for (int Fd : FWake)
        if (Fd >= 0) ::close(Fd);
}

void TLineBridge::Stop() {
    if (!FThread.joinable()) return;
    const char C = 0;
    (void)!::write(FWake[1], &C, 1);
    FThread.join();
}

void TLineBridge::Run() {
    char Buf[4096];
    // Copies what is waiting on From to To; false when From has hung up.
    auto Copy = [&](int From, int To) {
        const ssize_t N = ::read(From, Buf, sizeof Buf);
        if (N > 0 && From == FFar) MirrorLine();
        if (N == 0 || (N < 0 && errno != EAGAIN && errno != EINTR)) return false;
        for (ssize_t Done = 0; N > 0 && Done < N;) {
            const ssize_t W = ::write(To, Buf + Done, static_cast<size_t>(N - Done));
            if (W > 0)
                Done += W;
            else if (W < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            else {
                pollfd P{To, POLLOUT, 0};
                ::poll(&P, 1, 100);
            }
        }
        return true;
    };
    for (;;) {
        pollfd P[3] = {{FWake[0], POLLIN, 0}, {FFar, POLLIN, 0}, {FSim, POLLIN, 0}};
        if (::poll(P, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (P[0].revents) return;
        // A pseudo-terminal's far end reads EIO while its node is not open:
        // wait for the program to open it again instead of giving up.
        if ((P[1].revents & POLLIN) && !Copy(FFar, FSim))
            ::poll(nullptr, 0, 5);
        else if (P[1].revents & POLLHUP)
            ::poll(nullptr, 0, 5);
        if ((P[2].revents & POLLIN) && !Copy(FSim, FFar)) return;
    }
}

// The simulator checks the rate and stop bits the program set; a
// pseudo-terminal's far end reads the settings of its node.
void TLineBridge::MirrorLine() {
    termios Node{}, Sim{};
    if (::tcgetattr(FFar, &Node) != 0 || ::tcgetattr(FSim, &Sim) != 0) return;
    const termios Old = Sim;
    ::cfsetispeed(&Sim, ::cfgetispeed(&Node));
    ::cfsetospeed(&Sim, ::cfgetospeed(&Node));
    Sim.c_cflag = (Sim.c_cflag & ~CSTOPB) | (Node.c_cflag & CSTOPB);
    if (std::memcmp(&Old, &Sim, sizeof Sim) != 0) ::tcsetattr(FSim, TCSANOW, &Sim);
}

bool WaitFor(const std::function<bool()> &Cond, int TimeoutMs, const std::function<void()> &Idle) {
    const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Cond()) {
        if (std::chrono::steady_clock::now() > End) return false;
        if (Idle)
            Idle();
        else
            ::poll(nullptr, 0, 5);
    }
    return true;
}
