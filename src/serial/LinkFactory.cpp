#include "serial/LinkFactory.h"

#include "serial/ComPort.h"
#include "serial/NetLink.h"

bool IsNetworkPort(const std::string &Port) { return TNetLink::ParseUrl(Port).has_value(); }

std::unique_ptr<TLink> MakeLink(const std::string &Port) {
    if (IsNetworkPort(Port)) return std::make_unique<TNetLink>();
    return std::make_unique<TComPort>();
}

bool LinkFitsPort(const TLink &Link, const std::string &Port) {
    if (IsNetworkPort(Port)) return dynamic_cast<const TNetLink *>(&Link) != nullptr;
    return dynamic_cast<const TComPort *>(&Link) != nullptr;
}
