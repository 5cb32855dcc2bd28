#pragma once
// Read-only access to a firmware file, in blocks. Internal to the engine.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// True when FName names an existing regular file (symbolic links followed).
bool CodFileExists(const std::string &FName);

class TCodFileReader {
public:
    // Opens read-only; raises EFileError when that fails.
    explicit TCodFileReader(const std::string &FName);
    ~TCodFileReader();
    TCodFileReader(const TCodFileReader &) = delete;
    TCodFileReader &operator=(const TCodFileReader &) = delete;

    // Size when opened.
    uint64_t Size() const { return FSize; }
    uint64_t Position() const { return FPosition; }
    // Reads up to Count bytes (fewer only at the end of the file); raises
    // EFileError on a read error.
    size_t Read(uint8_t *Buf, size_t Count);
    void Rewind();

private:
    // Fills Buf straight from the file; the same end and error rules as Read.
    size_t ReadRaw(uint8_t *Buf, size_t Count);

    std::string FName;
    int FFd = -1;
    uint64_t FSize = 0;
    uint64_t FPosition = 0;
    // Small reads (one packet at a time) come from this block, so an upload
    // costs one system call per 64 KiB of file, not one per packet.
    std::vector<uint8_t> FBlock;
    size_t FBlockPos = 0;
    size_t FBlockLen = 0;
};
