#include "PackagingSupport.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

const std::vector<int> &IconSizes() {
    static const std::vector<int> Sizes{16, 22, 24, 32, 48, 64, 128, 256};
    return Sizes;
}

std::set<std::string> ExpectedInstallFiles(bool WithGui) {
    std::set<std::string> Files{
        "bin/veldra-cli",
        "bin/veldra-sim",
        "share/man/man1/veldra-cli.1.gz",
        "share/man/man1/veldra-sim.1.gz",
        "share/bash-completion/completions/veldra-cli",
        "share/doc/veldra-update/README.md",
        "share/doc/veldra-update/changelog.gz",
        "share/doc/veldra-update/copyright",
        "share/doc/veldra-update/60-veldra-rs485.rules",
        "share/doc/veldra-update/veldra-update.ini.sample",
    };
    if (WithGui) {
        Files.insert({
            "bin/veldra-update",
            "share/man/man1/veldra-update.1.gz",
            "share/applications/veldra-update.desktop",
            "share/metainfo/com.veldrasensors.VeldraUpdate.metainfo.xml",
            "share/icons/hicolor/scalable/apps/veldra-update.svg",
        });
        for (int Size : IconSizes()) {
            const std::string Dim = std::to_string(Size) + "x" + std::to_string(Size);
            Files.insert("share/icons/hicolor/" + Dim + "/apps/veldra-update.png");
        }
    }
    return Files;
}

std::vector<std::string> NoConfigEnv(const std::string &Dir) {
    return {"XDG_CONFIG_HOME=" + Dir + "/no-config-home",
            "XDG_CONFIG_DIRS=" + Dir + "/no-config-dirs"};
}

std::set<std::string> ListFiles(const std::string &Root) {
    std::set<std::string> Files;
    std::error_code Ec;
    for (auto It = fs::recursive_directory_iterator(Root, Ec);
         !Ec && It != fs::recursive_directory_iterator(); It.increment(Ec)) {
        const auto Status = It->symlink_status();
        if (fs::is_regular_file(Status) || fs::is_symlink(Status))
            Files.insert(fs::relative(It->path(), Root).string());
    }
    return Files;
}

std::string ReadWholeFile(const std::string &Path) {
    std::ifstream F(Path, std::ios::binary);
    std::ostringstream S;
    S << F.rdbuf();
    return S.str();
}

bool PngSize(const std::string &Bytes, int &Width, int &Height) {
    static const std::string Signature("\x89PNG\r\n\x1a\n", 8);
    // Signature, then the IHDR chunk: length (4), "IHDR", width (4), height (4).
    if (Bytes.size() < 24 || Bytes.compare(0, 8, Signature) != 0 ||
        Bytes.compare(12, 4, "IHDR") != 0)
        return false;
    auto Be32 = [&](size_t At) {
        uint32_t V = 0;
        for (size_t i = 0; i < 4; ++i) V = (V << 8) | static_cast<uint8_t>(Bytes[At + i]);
        return static_cast<int>(V);
    };
    Width = Be32(16);
    Height = Be32(20);
    return true;
}

std::string MakeFirmwareFile(uint8_t DeviceID, uint8_t VersionHi, uint8_t VersionLo,
                             size_t ImageSize) {
    std::string Image(ImageSize, '\0');
    for (size_t i = 0; i < ImageSize; ++i) Image[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    std::string File(16, '\0');
    const uint32_t Size = static_cast<uint32_t>(Image.size());
    for (int i = 0; i < 4; ++i) File[3 + i] = static_cast<char>((Size >> (8 * i)) & 0xFF);
    File[7] = static_cast<char>(VersionHi);
    File[8] = static_cast<char>(VersionLo);
    File[9] = static_cast<char>(DeviceID);
    File.replace(10, 3, "PIC");
    uint8_t Sum = 2;
    for (int i = 0; i < 15; ++i) Sum = static_cast<uint8_t>(Sum + static_cast<uint8_t>(File[i]));
    File[15] = static_cast<char>(Sum);
    return File + Image;
}

std::string SetDifference(const std::set<std::string> &A, const std::set<std::string> &B) {
    std::string Out;
    for (const auto &S : A)
        if (!B.count(S)) Out += "  " + S + "\n";
    return Out;
}

std::set<std::string> HelpWords(const std::string &HelpText) {
    std::set<std::string> Words;
    static const std::regex LongOption("--[A-Za-z0-9][A-Za-z0-9-]*");
    for (std::sregex_iterator It(HelpText.begin(), HelpText.end(), LongOption), End; It != End;
         ++It)
        Words.insert(It->str());
    // Subcommands: the first word of each indented line under a "Subcommands:" heading.
    std::istringstream In(HelpText);
    std::string Line;
    bool InSubcommands = false;
    while (std::getline(In, Line)) {
        std::string Lower = Line;
        std::transform(Lower.begin(), Lower.end(), Lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        if (!Line.empty() && !std::isspace(static_cast<unsigned char>(Line[0]))) {
            InSubcommands = Lower.rfind("subcommands:", 0) == 0;
            continue;
        }
        if (!InSubcommands) continue;
        std::istringstream W(Line);
        std::string First;
        if (W >> First) Words.insert(First);
    }
    return Words;
}

std::string ManPageText(const std::string &Roff) {
    std::string Out;
    for (size_t i = 0; i < Roff.size(); ++i) {
        if (Roff[i] != '\\' || i + 1 >= Roff.size()) {
            Out += Roff[i];
            continue;
        }
        const char Next = Roff[i + 1];
        if (Next == 'f' && i + 2 < Roff.size()) {  // font change: \fB, \fR, \fI, \fP
            i += 2;
        } else if (Next == '-' || Next == '\\') {
            Out += Next;
            ++i;
        } else if (Next == '&') {  // zero-width space
            ++i;
        } else {
            Out += Roff[i];
        }
    }
    return Out;
}
