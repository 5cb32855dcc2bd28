#include "jobs/PortsJob.h"

#include <unordered_set>

#include "serial/LinkFactory.h"
#include "serial/PortDiscovery.h"

namespace {

// Why Url cannot be opened as a network port, "" when it can. The link
// factory decides which schemes it takes.
std::string UrlProblem(const std::string &Url) {
    const TLineAddress A = ParsePortName(Url);
    if (!A.IsNetwork()) return "not a tcp://, rfc2217:// or modbus-tcp:// URL";
    if (A.Server.Host.empty()) return "no host";
    // The links' own rule: a port number in 1..65535.
    if (TNetLink::AddressError(A.Server, Url)) return "the port must be a number from 1 to 65535";
    return {};
}

}  // namespace

TNetworkPortsCheck CheckNetworkPorts(const std::vector<TSettings::TNetworkPort> &Entries) {
    TNetworkPortsCheck Check;
    std::unordered_set<std::string> Names, Urls;
    for (const TSettings::TNetworkPort &E : Entries) {
        std::string Why;
        if (E.Name.empty())
            Why = "no name";
        else if (E.Url.empty())
            Why = "no URL";
        else
            Why = UrlProblem(E.Url);
        if (Why.empty() && !Names.insert(E.Name).second) Why = "the name is listed already";
        if (Why.empty() && !Urls.insert(E.Url).second) Why = "the URL is listed already";
        if (Why.empty())
            Check.Usable.push_back(E);
        else
            Check.Warnings.push_back("[PORTS] entry \"" + E.Name + "=" + E.Url +
                                     "\" left out: " + Why);
    }
    return Check;
}

std::vector<std::string> UseNetworkPorts(const TSettings *S) {
    std::vector<TComListData> List;
    if (!S) {
        SetNetworkPorts(std::move(List));
        return {};
    }
    TNetworkPortsCheck Check = CheckNetworkPorts(S->NetworkPorts());
    List.reserve(Check.Usable.size());
    for (const TSettings::TNetworkPort &P : Check.Usable)
        List.push_back({P.Url, P.Name + " (" + P.Url + ")", TPortKind::Network, P.Name});
    SetNetworkPorts(std::move(List));
    return std::move(Check.Warnings);
}
