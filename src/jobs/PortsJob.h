#pragma once
// The network ports of the settings file ([PORTS]) that can be opened: a
// name and a tcp://, rfc2217:// or modbus-tcp:// URL with a host and a port
// in 1..65535, each name and URL once. The others are left out with a
// warning each, given once when the file is taken into use.

#include <string>
#include <vector>

#include "settings/Settings.h"

struct TNetworkPortsCheck {
    std::vector<TSettings::TNetworkPort> Usable;  // file order
    std::vector<std::string> Warnings;            // one line per entry left out
};

// Linear in the number of entries.
TNetworkPortsCheck CheckNetworkPorts(const std::vector<TSettings::TNetworkPort> &Entries);

// Lists the usable network ports of S (none for null) in the port lists as
// "name (URL)", opened by URL; returns the warnings about the others.
std::vector<std::string> UseNetworkPorts(const TSettings *S);
