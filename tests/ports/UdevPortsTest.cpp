#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "serial/UdevPorts.h"

namespace {

TTtyDevice UsbAdapter() {
    TTtyDevice D;
    D.DevNode = "/dev/ttyUSB0";
    D.HasParent = true;
    D.Driver = "ftdi_sio";
    return D;
}

TEST(UdevPorts, DecodesEscapes) {
    struct Row {
        const char *In, *Out;
    };
    const Row Rows[] = {
        {"FT232R\\x20USB\\x20UART", "FT232R USB UART"},
        {"a\\x2fb\\x2Fc", "a/b/c"},
        {"\\x5c", "\\"},
        {"\\x2", "\\x2"},
        {"\\xZZ", "\\xZZ"},
        {"end\\", "end\\"},
        {"\\X20", "\\X20"},
        {"", ""},
    };
    for (const Row &R : Rows) EXPECT_EQ(DecodeUdevEscapes(R.In), R.Out) << R.In;
}

TEST(UdevPorts, DescriptionPrefersModelThenVendorThenDriver) {
    struct Row {
        const char *Name;
        void (*Fill)(TTtyDevice &);
        const char *Expected;
    };
    const Row Rows[] = {
        {"encoded model, padded",
         [](TTtyDevice &D) {
             D.ModelEnc = "FT232R\\x20USB\\x20UART\\x20\\x20";
             D.Model = "FT232R_USB_UART";
             D.VendorEnc = "FTDI";
         },
         "FT232R USB UART (/dev/ttyUSB0)"},
        {"model from database",
         [](TTtyDevice &D) {
             D.ModelFromDatabase = "CP210x UART Bridge";
             D.VendorEnc = "Silicon\\x20Labs";
         },
         "CP210x UART Bridge (/dev/ttyUSB0)"},
        {"blank encoded model falls through",
         [](TTtyDevice &D) {
             D.ModelEnc = "\\x20\\x20";
             D.Model = "USB2.0-Serial";
         },
         "USB2.0-Serial (/dev/ttyUSB0)"},
        {"product text without udevd", [](TTtyDevice &D) { D.UsbProduct = "USB-RS485 Cable\n"; },
         "USB-RS485 Cable (/dev/ttyUSB0)"},
        {"vendor only",
         [](TTtyDevice &D) {
             D.VendorEnc = "Silicon\\x20Labs";
             D.UsbManufacturer = "ignored";
         },
         "Silicon Labs (/dev/ttyUSB0)"},
        {"manufacturer text without udevd", [](TTtyDevice &D) { D.UsbManufacturer = "FTDI"; },
         "FTDI (/dev/ttyUSB0)"},
        {"USB driver property", [](TTtyDevice &D) { D.UsbDriver = "cp210x"; },
         "cp210x (/dev/ttyUSB0)"},
        {"parent driver", [](TTtyDevice &) {}, "ftdi_sio (/dev/ttyUSB0)"},
        {"nothing known", [](TTtyDevice &D) { D.Driver.clear(); }, "Serial port (/dev/ttyUSB0)"},
        {"control characters blanked", [](TTtyDevice &D) { D.ModelEnc = "A\\x0aB\\x09"; },
         "A B (/dev/ttyUSB0)"},
        {"serial number after the name",
         [](TTtyDevice &D) {
             D.ModelEnc = "CP2102\\x20USB\\x20to\\x20UART\\x20Bridge\\x20Controller";
             D.SerialNumber = "0001";
         },
         "CP2102 USB to UART Bridge Controller S/N 0001 (/dev/ttyUSB0)"},
        {"serial number cleaned", [](TTtyDevice &D) { D.SerialNumber = " A50285BI\n"; },
         "ftdi_sio S/N A50285BI (/dev/ttyUSB0)"},
        {"blank serial number left out", [](TTtyDevice &D) { D.SerialNumber = "  "; },
         "ftdi_sio (/dev/ttyUSB0)"},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        TTtyDevice D = UsbAdapter();
        R.Fill(D);
        const std::optional<TComListData> E = MakePortEntry(D, nullptr);
        ASSERT_TRUE(E.has_value());
        EXPECT_EQ(E->DeviceID, "/dev/ttyUSB0");
        EXPECT_EQ(E->Description, R.Expected);
    }
}

// Where the first words come from, for the windows to translate the ones
// that are no names ("serial", "Serial port").
TEST(UdevPorts, TellsWhereTheNameComesFrom) {
    struct Row {
        const char *Name;
        void (*Fill)(TTtyDevice &);
        TPortKind Kind;
        const char *Label;
        const char *Expected;
    };
    const Row Rows[] = {
        {"model", [](TTtyDevice &D) { D.ModelEnc = "FT232R\\x20USB\\x20UART"; }, TPortKind::Named,
         "FT232R USB UART", "FT232R USB UART (/dev/ttyUSB0)"},
        {"vendor", [](TTtyDevice &D) { D.VendorEnc = "FTDI"; }, TPortKind::Named, "FTDI",
         "FTDI (/dev/ttyUSB0)"},
        {"USB driver", [](TTtyDevice &D) { D.UsbDriver = "cp210x"; }, TPortKind::Driver, "cp210x",
         "cp210x (/dev/ttyUSB0)"},
        {"built-in port's driver, with a serial number",
         [](TTtyDevice &D) {
             D.Driver = "serial";
             D.SerialNumber = "7";
         },
         TPortKind::Driver, "serial", "serial S/N 7 (/dev/ttyUSB0)"},
        {"nothing known", [](TTtyDevice &D) { D.Driver.clear(); }, TPortKind::Unnamed,
         "Serial port", "Serial port (/dev/ttyUSB0)"},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        TTtyDevice D = UsbAdapter();
        R.Fill(D);
        const std::optional<TComListData> E = MakePortEntry(D, nullptr);
        ASSERT_TRUE(E.has_value());
        EXPECT_EQ(E->Description, R.Expected);
        EXPECT_EQ(E->Kind, R.Kind);
        EXPECT_EQ(E->Label, R.Label);
    }
}

TEST(UdevPorts, LeavesOutPortsWithoutHardware) {
    struct Row {
        const char *Name;
        std::string DevNode;
        bool HasParent, Serial8250;
        std::string PortType;
        std::optional<bool> UartAnswers;  // nullopt: must not be probed
        bool Listed;
    };
    const Row Rows[] = {
        {"USB adapter", "/dev/ttyUSB0", true, false, "", std::nullopt, true},
        {"USB adapter, type attribute ignored", "/dev/ttyUSB0", true, false, "0", std::nullopt,
         true},
        {"virtual console", "/dev/tty1", false, false, "", std::nullopt, false},
        {"no device node", "", true, false, "", std::nullopt, false},
        {"8250 port, sysfs type 16550A", "/dev/ttyS0", true, true, "4\n", std::nullopt, true},
        {"8250 port, sysfs type unknown", "/dev/ttyS5", true, true, "0\n", std::nullopt, false},
        {"8250 port, sysfs type unreadable", "/dev/ttyS5", true, true, "?", std::nullopt, false},
        {"8250 port, no sysfs type, UART answers", "/dev/ttyS0", true, true, "", true, true},
        {"8250 port, no sysfs type, no UART", "/dev/ttyS5", true, true, "", false, false},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        TTtyDevice D;
        D.DevNode = R.DevNode;
        D.HasParent = R.HasParent;
        D.Serial8250 = R.Serial8250;
        D.PortType = R.PortType;
        D.Driver = "serial8250";
        int Probes = 0;
        const TUartProbe Probe = [&](const std::string &Node) {
            ++Probes;
            EXPECT_EQ(Node, R.DevNode);
            return R.UartAnswers.value_or(true);
        };
        EXPECT_EQ(MakePortEntry(D, Probe).has_value(), R.Listed);
        EXPECT_EQ(Probes, R.UartAnswers.has_value() ? 1 : 0);
    }
}

TEST(UdevPorts, ProbeOfAMissingNodeFails) {
    EXPECT_FALSE(Has8250Uart("/nonexistent/ttyS9"));
}

}  // namespace

// What the update records say of an adapter: vendor and model decoded, the
// serial number cleaned; nothing for a device without hardware behind it.
TEST(UdevPorts, AdapterFactsForTheRecords) {
    TTtyDevice Usb;
    Usb.DevNode = "/dev/ttyUSB0";
    Usb.HasParent = true;
    Usb.VendorEnc = "Future\\x20Technology";
    Usb.Vendor = "FTDI";
    Usb.ModelFromDatabase = "FT232 Serial (UART) IC";
    Usb.Model = "FT232R_USB_UART";
    Usb.SerialNumber = " A5\x01 ";
    const TAdapterFacts Facts = AdapterFactsOf(Usb);
    EXPECT_EQ(Facts.Vendor, "Future Technology");
    EXPECT_EQ(Facts.Model, "FT232 Serial (UART) IC");
    EXPECT_EQ(Facts.Serial, "A5");

    TTtyDevice Sysfs = Usb;
    Sysfs.VendorEnc = Sysfs.Vendor = Sysfs.ModelFromDatabase = Sysfs.Model = "";
    Sysfs.UsbManufacturer = "Acme";
    Sysfs.UsbProduct = "RS485 Cable";
    EXPECT_EQ(AdapterFactsOf(Sysfs).Vendor, "Acme");
    EXPECT_EQ(AdapterFactsOf(Sysfs).Model, "RS485 Cable");

    TTtyDevice Pty;
    Pty.DevNode = "/dev/pts/3";
    Pty.Vendor = "ignored";
    const TAdapterFacts None = AdapterFactsOf(Pty);
    EXPECT_EQ(None.Vendor + None.Model + None.Serial, "");
    // A path that is no tty device has no udev facts.
    EXPECT_FALSE(TtyDeviceAt("/nonexistent/tty"));
    EXPECT_FALSE(TtyDeviceAt("/etc/hostname"));
}
