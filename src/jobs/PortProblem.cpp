#include "jobs/PortProblem.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "serial/LineTypes.h"
#include "serial/LinkFactory.h"

namespace {

bool IsNetworkPort(const std::string &Port) {
    return ParsePortName(Port).IsNetwork();
}

// The group the device belongs to: its name, its number when it has no
// name, "dialout" (where Debian and its relatives put serial adapters)
// when the device cannot be looked at. Root tells whether it is group 0.
std::string DeviceGroup(const std::string &Port, bool &Root) {
    Root = false;
    const std::string Path = Port.find('/') == std::string::npos ? "/dev/" + Port : Port;
    struct stat St {};
    if (::stat(Path.c_str(), &St) != 0) return "dialout";
    std::string Group = std::to_string(St.st_gid);
    // The reentrant lookup: jobs of several ports may ask at once.
    struct group G {};
    struct group *Found = nullptr;
    char Buf[4096];
    if (::getgrgid_r(St.st_gid, &G, Buf, sizeof Buf, &Found) == 0 && Found) Group = G.gr_name;
    Root = St.st_gid == 0 && Group == "root";
    return Group;
}

}  // namespace

TPortProblem PortProblemOf(const EComPort &E) {
    return {E.what(), E.OsError()};
}

TPortFault PortFaultOf(const std::string &Port, const TPortProblem &Problem) {
    switch (Problem.Errno) {
        case EACCES:
        case EPERM:
            return TPortFault::Permission;
        // EBUSY: another holder's exclusive use; EAGAIN: its lock.
        case EBUSY:
        case EAGAIN:
            return TPortFault::Busy;
        case ECONNREFUSED:
            return TPortFault::Refused;
        case EHOSTUNREACH:
        case ENETUNREACH:
        case EHOSTDOWN:
        case ENETDOWN:
        case ETIMEDOUT:
            return TPortFault::Unreachable;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return IsNetworkPort(Port) ? TPortFault::Other : TPortFault::Missing;
        default:
            break;
    }
    // A device that went away while in use.
    if (Problem.Text.rfind(EComPort::ErrorText(CError_Disconnected), 0) == 0 &&
        !IsNetworkPort(Port))
        return TPortFault::Missing;
    return TPortFault::Other;
}

TPortAdvice AdvisePort(const std::string &Port, const TPortProblem &Problem) {
    TPortAdvice A;
    A.Fault = PortFaultOf(Port, Problem);
    switch (A.Fault) {
        case TPortFault::Permission:
            A.Group = DeviceGroup(Port, A.RootOnly);
            A.Reason = {TJobText::PortDenied, {Port}};
            A.Remedy = A.RootOnly ? TJobReason{TJobText::PortAskAdmin, {A.Group}}
                                  : TJobReason{TJobText::PortJoinGroup, {A.Group}};
            break;
        case TPortFault::Busy:
            A.Reason = {TJobText::PortBusy, {Port}};
            A.Remedy = TJobText::PortBusyRemedy;
            break;
        case TPortFault::Missing:
            A.Reason = {TJobText::PortMissing, {Port}};
            A.Remedy = TJobText::PortMissingRemedy;
            break;
        case TPortFault::Unreachable:
            A.Reason = {TJobText::PortUnreachable, {Port}};
            A.Remedy = TJobText::PortUnreachableRemedy;
            break;
        case TPortFault::Refused:
            A.Reason = {TJobText::PortRefused, {Port}};
            A.Remedy = TJobText::PortRefusedRemedy;
            break;
        case TPortFault::Other:
            A.Reason = {TJobText::PortOther, {Port, PortProblemText(Problem)}};
            break;
    }
    return A;
}

std::string PortAdviceText(const TPortAdvice &Advice) {
    std::string Text = JobText(Advice.Reason);
    if (!Advice.Remedy.Empty()) {
        Text += '\n';
        Text += JobText(Advice.Remedy);
    }
    return Text;
}

std::string PortProblemText(const TPortProblem &Problem) {
    std::string Text = Problem.Text;
    if (Problem.Errno > 0) Text += " - " + std::string(std::strerror(Problem.Errno));
    if (Problem.Errno == EBUSY || Problem.Errno == EAGAIN) Text += " - in use by another program";
    return Text;
}

std::string PortProblemLine(const std::string &Port, const TPortProblem &Problem) {
    return Port + ": " + PortProblemText(Problem);
}

std::string PortAccessHint(const std::string &Port, const TPortProblem &Problem) {
    if (Problem.Errno != EACCES && Problem.Errno != EPERM) return "";
    return JobText(AdvisePort(Port, Problem).Remedy);
}
