#pragma once
// A fake sysfs and /dev for the test process (umockdev), the adapters and
// machines the port tests plug in and pull out, a serial driver that answers
// the RS-485 and low-latency requests, and a bridge from a mocked node to a
// simulated sensor.
//
// The tests run under umockdev-wrapper (ctest starts them so). Every mocked
// node is a pseudo-terminal whose far end the test holds.

#include <linux/serial.h>
// GLib names a struct member "signals", which Qt defines as a keyword
// macro: keep the header readable whatever was included before it.
#pragma push_macro("signals")
#undef signals
#include <umockdev.h>
#pragma pop_macro("signals")

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One device as a machine shows it: its records in umockdev's description
// format, its node, and its sysfs paths from the tty up to the device that
// is plugged in (the order of removal).
struct TMockDevice {
    std::string Records;
    std::string DevNode;                // "/dev/ttyUSB0"
    std::vector<std::string> SysPaths;  // "/sys/devices/...", tty first
    std::string Description;            // what the port list should read
};

// A USB adapter with a vendor-specific driver (ftdi_sio, cp210x) behind
// usb-serial, with the udev properties udevd gives it. UsbPort is the
// device's name on the bus ("1-2", "1-3.1").
TMockDevice FtdiAdapter(int TtyIndex, const std::string &UsbPort, const std::string &Serial);
TMockDevice Cp210xAdapter(int TtyIndex, const std::string &UsbPort, const std::string &Serial);
// A CDC-ACM device on a machine without udevd: no properties, only what
// sysfs tells.
TMockDevice AcmDevice(int TtyIndex, const std::string &UsbPort);
// A legacy 8250 port on the platform bus; Uart says whether the serial core
// found a UART (type 4, 16550A) or not (type 0, a phantom). SerialBase gives
// the layout of newer kernels, with the serial core's controller and port
// devices between the platform device and the tty.
TMockDevice Uart8250(int Index, bool Uart, bool SerialBase);

class TMockBed {
public:
    TMockBed();
    ~TMockBed();
    TMockBed(const TMockBed &) = delete;
    TMockBed &operator=(const TMockBed &) = delete;

    UMockdevTestbed *Get() const { return FBed; }
    // Adds the device without an event (present at start).
    bool Add(const TMockDevice &Dev);
    // Adds the device and sends the kernel's "add" events, USB device first.
    bool Plug(const TMockDevice &Dev);
    // Sends the kernel's events of a device already added: the USB device's
    // first, then the tty's ("add"); the tty's alone otherwise.
    void Uevents(const TMockDevice &Dev, const char *Action);
    // Sends the "remove" event of the tty, then removes the tty and its
    // parents from sysfs.
    void Unplug(const TMockDevice &Dev);
    // The far end of a mocked node.
    int FarEnd(const std::string &DevNode);
    // Closes the far end: whoever holds the node sees a hang-up.
    void HangUp(const std::string &DevNode);

private:
    UMockdevTestbed *FBed = nullptr;
};

// Serial driver requests the kernel answers for a port, emulated for one
// mocked node: RS-485 mode, serial info and exclusive use. Everything else
// goes on to the pseudo-terminal behind it.
class TSerialDriver {
public:
    enum TAnswer { Supported, NotTty, Invalid };  // how the driver answers
    struct TRequest {
        unsigned long Code;
        uint32_t Flags;  // RS-485 flags or serial flags written (set requests)
    };

    // Attach before the program opens the node.
    TSerialDriver(TMockBed &Bed, const std::string &DevNode, TAnswer Rs485Get, TAnswer Rs485Set,
                  TAnswer Serial);
    ~TSerialDriver();
    TSerialDriver(const TSerialDriver &) = delete;
    TSerialDriver &operator=(const TSerialDriver &) = delete;

    // The driver's current modes.
    serial_rs485 Rs485() const;
    void SetRs485(const serial_rs485 &Value);
    // The UART type TIOCGSERIAL reports (PORT_16550A at first).
    void SetPortType(int Type);
    int SerialFlags() const;
    void SetSerialFlags(int Flags);
    // Requests of the four kinds, in order.
    std::vector<TRequest> Requests() const;

private:
    static gboolean Handle(UMockdevIoctlBase *Base, UMockdevIoctlClient *Client, gpointer Self);
    void Answer(UMockdevIoctlClient *Client);

    TMockBed &FBed;
    std::string FNode;
    UMockdevIoctlBase *FHandler = nullptr;
    TAnswer FRs485Get, FRs485Set, FSerial;
    mutable std::mutex FLock;
    serial_rs485 FRs485{};
    serial_struct FSerialInfo{};
    std::vector<TRequest> FRequests;
};

// Copies bytes both ways between a mocked node's far end and a simulated
// sensor's pseudo-terminal until stopped.
class TLineBridge {
public:
    TLineBridge(int FarEnd, const std::string &SimPty);
    ~TLineBridge();
    void Stop();

private:
    void Run();
    void MirrorLine();
    int FFar;
    int FSim = -1;
    int FWake[2] = {-1, -1};
    std::thread FThread;
};

// Polls Cond until it holds or TimeoutMs has passed, running Idle between
// tries (e.g. the window's event queue).
bool WaitFor(const std::function<bool()> &Cond, int TimeoutMs = 10000,
             const std::function<void()> &Idle = {});
