#include "cli/PortCheck.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "cli/CliCommon.h"
#include "serial/ComPort.h"

std::optional<TPortProblem> ProbePort(const std::string &Port) {
    TComPort port;
    try {
        port.SetPort(Port);
        port.Open();
        port.Close();
    } catch (const EComPort &e) {
        return PortProblemOf(e);
    }
    return std::nullopt;
}

TPortProblem PortProblemOf(const EComPort &E) { return {E.what(), E.WinCode()}; }

std::string PortProblemText(const TPortProblem &Problem) {
    std::string text = Problem.Text;
    if (Problem.Errno > 0) text += " - " + std::string(std::strerror(Problem.Errno));
    return text;
}

std::string PortProblemLine(const std::string &Port, const TPortProblem &Problem) {
    return Port + ": " + PortProblemText(Problem);
}

std::string PortAccessHint(const std::string &Port, const TPortProblem &Problem) {
    if (Problem.Errno != EACCES && Problem.Errno != EPERM) return "";
    // Serial adapters belong to "dialout" on Debian and its relatives; name
    // the device's own group too when it is another one.
    std::string hint =
        "To get access, add your user to the 'dialout' group (sudo usermod -aG dialout $USER), "
        "then log out and in again.";
    const std::string path = Port.find('/') == std::string::npos ? "/dev/" + Port : Port;
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0) {
        const struct group *g = ::getgrgid(st.st_gid);
        if (g && g->gr_gid != 0 && std::string(g->gr_name) != "dialout")
            hint += std::string(" This port belongs to the group '") + g->gr_name + "'.";
    }
    return hint;
}

int ReportPortProblem(TResult &Result, const std::string &Port, const TPortProblem &Problem) {
    Result["port"] = Port;
    Result.ErrorText(PortProblemLine(Port, Problem));
    if (const std::string hint = PortAccessHint(Port, Problem); !hint.empty()) Result.ErrorText(hint);
    if (Problem.Errno > 0) Result["errno"] = Problem.Errno;
    return Result.Finish(ExitPort);
}
