#pragma once
// The serial ports present on this machine, for the port drop-downs.
//
// QueryComPorts asks udev for the tty devices that have real hardware behind
// them and adds the extra virtual ports named in VELDRA_EXTRA_PORTS
// (colon-separated paths; those that exist are listed). EnumComPorts turns
// that into the sorted list a window shows.

#include <functional>
#include <string>
#include <vector>

#include "serial/ComListData.h"

// Appends one entry per port found, in the order the system reports them.
// A machine without udev gives no hardware ports (and no error).
void QueryComPorts(std::vector<TComListData> &Ports);

// Natural, case-insensitive order of the DeviceIDs of two entries:
// below, equal to or above 0.
int ComparePortNames(const std::vector<TComListData> &Ports, int Index1, int Index2);

// Natural order of two texts: runs of digits compare by value, letters
// without regard to case ("ttyUSB2" < "ttyUSB10", "COM2" < "com10").
int CompareNatural(const std::string &A, const std::string &B);

// Clears Ports and refills it with the ports present, sorted by
// ComparePortNames, then the network ports of SetNetworkPorts in their order.
void EnumComPorts(std::vector<TComListData> &Ports);

// The network ports listed after the local ones (DeviceID the URL, e.g.
// rfc2217://10.0.0.5:2001): the [PORTS] section of the settings file, set
// once the settings are read. They are listed whether the server is up or not.
void SetNetworkPorts(std::vector<TComListData> Ports);

// Test seam: replaces the query EnumComPorts runs. An empty function restores
// the real one (QueryComPorts).
using TPortQuery = std::function<void(std::vector<TComListData> &)>;
void SetPortQuery(TPortQuery Query);
