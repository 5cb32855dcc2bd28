#include "serial/LinkFactory.h"

#include <utility>

#include "serial/ComPort.h"

namespace {

TLinkMaker &LinkMaker() {
    static TLinkMaker Maker;
    return Maker;
}

constexpr char CModbusTcpScheme[] = "modbus-tcp://";
constexpr char CModbusTcpService[] = "502";

}  // namespace

TLineAddress ParsePortName(const std::string &Port) {
    TLineAddress A;
    A.Port = Port;
    if (const auto Server = TNetLink::ParseUrl(Port)) {
        A.Kind = TLineKind::SerialServer;
        A.Server = *Server;
    } else if (TNetLink::HasScheme(Port, CModbusTcpScheme)) {
        A.Kind = TLineKind::ModbusGateway;
        A.Server.Kind = TNetLink::TKind::Raw;
        A.Server.Service = CModbusTcpService;
        TNetLink::SplitHostPort(Port.substr(sizeof CModbusTcpScheme - 1), A.Server);
    }
    return A;
}

void SetLinkMaker(TLinkMaker Maker) {
    LinkMaker() = std::move(Maker);
}

TLine MakeLine(const std::string &Port) {
    TLine Line{ParsePortName(Port), nullptr};
    if (LinkMaker()) Line.Link = LinkMaker()(Port);
    if (!Line.Link) {
        if (Line.Address.IsNetwork())
            Line.Link = std::make_unique<TNetLink>(Line.Address.Server);
        else
            Line.Link = std::make_unique<TComPort>();
    }
    return Line;
}
