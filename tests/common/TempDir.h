#pragma once
#include <string>

// A fresh directory removed with its contents at the end of the scope.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    const std::string &Path() const { return FPath; }
    std::string File(const std::string &Name) const { return FPath + "/" + Name; }
    // Writes Bytes to Name inside the directory and returns the full path.
    std::string Write(const std::string &Name, const std::string &Bytes) const;

private:
    std::string FPath;
};

// The whole content of the file at Path, byte for byte ("" when it cannot
// be read).
std::string ReadFileText(const std::string &Path);
