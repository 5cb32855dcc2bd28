#include "serial/LinkFactory.h"

#include <utility>

#include "serial/ComPort.h"
#include "serial/NetLink.h"

bool IsNetworkPort(const std::string &Port) {
    return TNetLink::ParseUrl(Port).has_value();
}

namespace {
TLinkMaker &LinkMaker() {
    static TLinkMaker Maker;
    return Maker;
}
}  // namespace

void SetLinkMaker(TLinkMaker Maker) {
    LinkMaker() = std::move(Maker);
}

std::unique_ptr<TLink> MakeLink(const std::string &Port) {
    if (LinkMaker())
        if (std::unique_ptr<TLink> Made = LinkMaker()(Port)) return Made;
    if (IsNetworkPort(Port)) return std::make_unique<TNetLink>();
    return std::make_unique<TComPort>();
}

std::unique_ptr<TLink> MakeSerialLink() {
    return std::make_unique<TComPort>();
}

bool LinkFitsPort(const TLink &Link, const std::string &Port) {
    if (LinkMaker()) return false;
    if (IsNetworkPort(Port)) return dynamic_cast<const TNetLink *>(&Link) != nullptr;
    return dynamic_cast<const TComPort *>(&Link) != nullptr;
}
