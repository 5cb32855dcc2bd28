#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TTempDir::TTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "veldra-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    FPath = tmpl;
}

TTempDir::~TTempDir() {
    std::error_code ec;
    // Fixtures may have been made read-only; give the owner write access back first.
    for (auto &e : std::filesystem::recursive_directory_iterator(FPath, ec))
        std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(FPath, ec);
}

std::string TTempDir::Write(const std::string &Name, const std::string &Bytes) const {
    std::string p = File(Name);
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    return p;
}

std::string ReadFileText(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}
