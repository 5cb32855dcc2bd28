#pragma once
// One entry of a port list, as discovery makes it and the drop-downs show it.

#include <string>

// One discovered port. Never changed after it is made.
struct TComListData {
    std::string DeviceID;     // the path to open, e.g. /dev/ttyUSB0
    std::string Description;  // display text, e.g. "FT232R USB UART S/N A50285BI (/dev/ttyUSB0)"
};
