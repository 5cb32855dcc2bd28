#pragma once
// One entry of a port list, as discovery makes it and the drop-downs show it.

#include <string>

// Where the first words of a description come from, so that a window can
// put the words it knows into the user's language (the description itself
// stays English: the command line prints it).
enum class TPortKind : unsigned char {
    Named,    // the adapter's model or vendor, as the hardware tells it
    Driver,   // only the kernel driver's name is known, e.g. "serial"
    Unnamed,  // nothing is known: "Serial port"
    Virtual,  // a path of VELDRA_EXTRA_PORTS: "Virtual port (" + path + ")"
    Network,  // a [PORTS] entry of the settings file: its name, then the URL
};

// One discovered port. Never changed after it is made.
struct TComListData {
    std::string DeviceID;     // the path to open, e.g. /dev/ttyUSB0
    std::string Description;  // display text, e.g. "FT232R USB UART S/N A50285BI (/dev/ttyUSB0)"
    TPortKind Kind = TPortKind::Named;
    // The words at the start of Description that Kind names: the model,
    // vendor, driver or network port name ("Serial port" when Unnamed,
    // empty when Virtual).
    std::string Label{};
};
