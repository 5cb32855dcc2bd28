#include "settings/SettingsLookup.h"

#include <sys/stat.h>

#include <cstdlib>

#include "settings/Settings.h"

namespace {

std::string EnvText(const char *Name) {
    const char *Value = std::getenv(Name);
    return Value ? Value : "";
}

bool IsAbsolute(const std::string &Path) {
    return !Path.empty() && Path.front() == '/';
}

}  // namespace

TSettingsEnv TSettingsEnv::Current() {
    TSettingsEnv Env;
    Env.XdgConfigHome = EnvText("XDG_CONFIG_HOME");
    Env.XdgConfigDirs = EnvText("XDG_CONFIG_DIRS");
    Env.Home = EnvText("HOME");
    Env.BesideExe = DefaultSettingsFileName();
    return Env;
}

std::vector<std::string> ConfigFolders(const TSettingsEnv &Env) {
    std::vector<std::string> Folders;
    // An empty or missing $HOME stands for the root folder, as in Qt.
    std::string Home = Env.Home;
    while (!Home.empty() && Home.back() == '/') Home.pop_back();
    const std::string UserFolder =
        !Env.XdgConfigHome.empty() ? Env.XdgConfigHome : Home + "/.config";
    if (IsAbsolute(UserFolder)) Folders.push_back(UserFolder);

    if (Env.XdgConfigDirs.empty()) {
        Folders.emplace_back("/etc/xdg");
        return Folders;
    }
    size_t Start = 0;
    for (;;) {
        const size_t Colon = Env.XdgConfigDirs.find(':', Start);
        const std::string Folder = Env.XdgConfigDirs.substr(
            Start, Colon == std::string::npos ? std::string::npos : Colon - Start);
        if (IsAbsolute(Folder)) Folders.push_back(Folder);
        if (Colon == std::string::npos) break;
        Start = Colon + 1;
    }
    return Folders;
}

std::string SettingsFileIn(const std::string &Folder) {
    std::string Path = Folder;
    while (!Path.empty() && Path.back() == '/') Path.pop_back();
    return Path + "/" + CSettingsSubPath;
}

std::vector<std::string> SettingsFileCandidates(const TSettingsEnv &Env) {
    std::vector<std::string> Candidates;
    for (const std::string &Folder : ConfigFolders(Env))
        Candidates.push_back(SettingsFileIn(Folder));
    if (!Env.BesideExe.empty()) Candidates.push_back(Env.BesideExe);
    return Candidates;
}

bool IsSettingsFile(const std::string &Path) {
    struct stat St {};
    return !Path.empty() && ::stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

std::string FirstSettingsFile(const std::vector<std::string> &Candidates) {
    for (const std::string &Path : Candidates)
        if (IsSettingsFile(Path)) return Path;
    return {};
}

std::string FindSettingsFile(const std::string &Explicit) {
    if (!Explicit.empty()) return Explicit;
    return FirstSettingsFile(SettingsFileCandidates(TSettingsEnv::Current()));
}
