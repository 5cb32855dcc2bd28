#pragma once
// What port discovery learns about one tty device from udev, and the rule
// that turns it into a port-list entry. Kept apart from libudev so that the
// rule can be checked with made-up devices.

#include <functional>
#include <optional>
#include <string>

#include "serial/ComListData.h"

struct TTtyDevice {
    std::string DevNode;      // /dev/ttyUSB0; empty when the device has no node
    bool HasParent = false;   // false for virtual consoles, ptmx, ...
    bool Serial8250 = false;  // an ancestor is bound to the legacy 8250 driver
    std::string PortType;     // sysfs "type" of a serial core port (0 = no UART), "" if absent
    // udev properties (only present where udevd has processed the device)
    std::string ModelEnc, ModelFromDatabase, Model;
    std::string VendorEnc, VendorFromDatabase, Vendor;
    std::string UsbDriver;
    // sysfs attributes of the USB device behind the port, if any
    std::string UsbProduct, UsbManufacturer;
    // ID_SERIAL_SHORT, else the USB device's "serial" attribute
    std::string SerialNumber;
    std::string Driver;  // driver of the nearest real parent device
};

// Whether a UART answers behind a legacy 8250 port node; asked only when
// sysfs does not tell the port type.
using TUartProbe = std::function<bool(const std::string &DevNode)>;

// The entry for a tty device, or nothing when it is no serial port with
// hardware behind it. The description is the model, else the vendor, else
// the driver, then " S/N " and the serial number when the device has one,
// then " (" + node + ")". The serial number tells identical adapters apart
// and keeps a description bound to one adapter: when another one takes over
// the node, the text changes and a window sees its chosen port gone.
std::optional<TComListData> MakePortEntry(const TTtyDevice &Dev, const TUartProbe &HasUart);

// The adapter behind a port as the update records name it: vendor and model
// (decoded udev names, else the database's, else the USB device's own) and
// serial number; all empty for a device with no hardware parent (a
// pseudo-terminal, a virtual console).
struct TAdapterFacts {
    std::string Vendor, Model, Serial;
};
TAdapterFacts AdapterFactsOf(const TTtyDevice &Dev);

// What udev knows of the tty device at Path (a device node, or a link to
// one such as /dev/serial/by-id/...); nothing without udev or for a path
// that is no tty character device.
std::optional<TTtyDevice> TtyDeviceAt(const std::string &Path);

// Undoes udev's \xHH escapes (ID_MODEL_ENC, ID_VENDOR_ENC).
std::string DecodeUdevEscapes(const std::string &S);

// Every tty device udev knows, in the order it reports them. None without udev.
void ScanTtyDevices(const std::function<void(const TTtyDevice &)> &Visit);

// Opens a legacy 8250 port and asks the driver whether a UART is there.
// A port another program holds open exclusively counts as present.
bool Has8250Uart(const std::string &DevNode);
