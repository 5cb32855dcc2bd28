#pragma once
// Shared pieces of the installation and package tests: the list of files an
// installation must hold, and small file helpers.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

// Every file an installation holds, relative to the prefix (e.g. "bin/veldra-cli").
std::set<std::string> ExpectedInstallFiles(bool WithGui);

// The PNG sizes of the application icon in the hicolor theme.
const std::vector<int> &IconSizes();

// Environment entries that point the settings lookup's XDG places at
// folders below Dir that do not exist: only a file beside the program (or
// one named) is read, whatever the machine's configuration holds.
std::vector<std::string> NoConfigEnv(const std::string &Dir);

// Regular files and symbolic links below Root, relative to it, sorted.
std::set<std::string> ListFiles(const std::string &Root);

std::string ReadWholeFile(const std::string &Path);

// Width and height from a PNG's header; false when the bytes are no PNG.
bool PngSize(const std::string &Bytes, int &Width, int &Height);

// A valid firmware file with the 16-byte header for the given sensor ID and
// version, with an image of ImageSize bytes.
std::string MakeFirmwareFile(uint8_t DeviceID, uint8_t VersionHi, uint8_t VersionLo,
                             size_t ImageSize = 64);

// Lines of "a" and not of "b", for messages listing the difference of two sets.
std::string SetDifference(const std::set<std::string> &A, const std::set<std::string> &B);

// The long options ("--x") and subcommand names in a program's --help text.
std::set<std::string> HelpWords(const std::string &HelpText);

// Man page source reduced to plain text: font escapes dropped, "\-" read as "-".
std::string ManPageText(const std::string &Roff);
