#pragma once
// Where the programs find their settings file. The first of these that is a
// regular file (or a link to one) is read; files are never merged:
//   1. a file named on the command line (veldra-cli --settings FILE);
//   2. $XDG_CONFIG_HOME/veldra-update/veldra-update.ini (default ~/.config);
//   3. DIR/veldra-update/veldra-update.ini for each DIR of $XDG_CONFIG_DIRS
//      (default /etc/xdg);
//   4. beside the executable: its own path with ".ini" (portable copies and
//      the build tree).
// The desktop program and the command line read the same name in the XDG
// places, so both see the same limits and sensor names. Relative entries of
// the XDG variables are ignored, as the XDG base directory rules ask.

#include <string>
#include <vector>

// The file's place below a configuration folder.
inline constexpr const char *CSettingsSubPath = "veldra-update/veldra-update.ini";

// The environment the lookup depends on.
struct TSettingsEnv {
    std::string XdgConfigHome;  // $XDG_CONFIG_HOME, "" when unset
    std::string XdgConfigDirs;  // $XDG_CONFIG_DIRS, "" when unset
    std::string Home;           // $HOME, "" when unset
    std::string BesideExe;      // the executable's path with ".ini"

    // The running process's environment and DefaultSettingsFileName().
    static TSettingsEnv Current();
};

// The XDG configuration folders in lookup order: the user's, then the
// system's. Relative entries are left out.
std::vector<std::string> ConfigFolders(const TSettingsEnv &Env);

// Folder + "/" + CSettingsSubPath, without doubled slashes.
std::string SettingsFileIn(const std::string &Folder);

// The places 2 to 4 above, in order.
std::vector<std::string> SettingsFileCandidates(const TSettingsEnv &Env);

// True when Path names a regular file, following links. A folder, a FIFO or
// a device named like the file does not count.
bool IsSettingsFile(const std::string &Path);

// The first candidate that is a settings file; "" when there is none.
std::string FirstSettingsFile(const std::vector<std::string> &Candidates);

// The file the program reads: Explicit when given, otherwise the first of
// the places above in the current environment ("" when there is none).
std::string FindSettingsFile(const std::string &Explicit = {});
