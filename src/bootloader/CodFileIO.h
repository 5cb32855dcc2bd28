#pragma once
// Read-only access to a firmware file. Internal to the engine.

#include <cstddef>
#include <cstdint>
#include <string>

// True when FName names an existing regular file (symbolic links followed).
bool CodFileExists(const std::string &FName);

class TCodFileReader {
public:
    // Opens read-only and takes the size from the open file; raises
    // EFileError when either fails.
    explicit TCodFileReader(const std::string &FName);
    ~TCodFileReader();
    TCodFileReader(const TCodFileReader &) = delete;
    TCodFileReader &operator=(const TCodFileReader &) = delete;

    // Size when opened (the file may change afterwards: callers go by what
    // Read returns).
    uint64_t Size() const { return FSize; }
    // Reads up to Count bytes straight into Buf, fewer only at the end of the
    // file; raises EFileError on a read error.
    size_t Read(uint8_t *Buf, size_t Count);

private:
    std::string FName;
    int FFd = -1;
    uint64_t FSize = 0;
};
