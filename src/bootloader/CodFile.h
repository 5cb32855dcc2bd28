#pragma once
// Firmware files (.cod): header layouts and the integrity check.
//
// Two layouts exist. A file that starts with the eight bytes "\r\nORVcod"
// has a 32-byte header (ESP32 image, 16-bit sum over the image); any other
// file has a 16-byte header with a header checksum and its own processor
// type field.

#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "bootloader/BootTypes.h"

// Highest number of data packets an upload can carry: the packet number must
// never reach the completion code.
constexpr int CMaxDataPackets = 65533;
// Data bytes per packet.
constexpr int CESP32PacketSize = 240;
constexpr int CDefPacketSize = 8;
// No file larger than this is read beyond its header: it could never be
// uploaded (65533 packets of 240 bytes are about 15 MiB).
constexpr uint64_t CMaxCodFileBytes = 16u << 20;

// An allocator whose resize leaves new bytes as they come (no zero fill):
// a firmware image is read straight into its one allocation.
template <class T>
struct TNoInitAllocator : std::allocator<T> {
    using std::allocator<T>::allocator;
    template <class U>
    void construct(U *P) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void *>(P)) U;
    }
    template <class U, class... A>
    void construct(U *P, A &&...Args) {
        ::new (static_cast<void *>(P)) U(std::forward<A>(Args)...);
    }
};
// A firmware file in memory, as read for an upload.
using TFirmwareBytes = std::vector<uint8_t, TNoInitAllocator<uint8_t>>;

struct TCODFileData {
    uint16_t DeviceID = 0;      // sensor ID the firmware is for
    TSensorVersion Version;     // firmware version in the file
    std::string ProcessorType;  // "ESP32" selects the ESP32 upload (UTF-8)
    // Extra facts for display; not used by the upload.
    int HeaderSize = 0;     // 16 or 32
    uint64_t FileSize = 0;  // bytes, header included

    bool IsESP32() const { return ProcessorType == "ESP32"; }
    // Data bytes per packet of its upload, and the packets the whole file needs.
    int PacketSize() const { return IsESP32() ? CESP32PacketSize : CDefPacketSize; }
    uint64_t PacketCount() const { return (FileSize + PacketSize() - 1) / PacketSize(); }
    // At most CMaxDataPackets packets.
    bool FitsUpload() const { return PacketCount() <= static_cast<uint64_t>(CMaxDataPackets); }
};

// Length of the magic text at the start of a 32-byte-header file.
constexpr int CCodMagicLen = 8;
extern const char CCodMagic[CCodMagicLen + 1];  // "\r\nORVcod"

// A file that exists but cannot be opened or read. what() reads like
// 'Cannot open file "x": Permission denied'.
class EFileError : public std::system_error {
public:
    EFileError(int Errno, const std::string &What)
        : std::system_error(Errno, std::generic_category(), What) {}
};

// Checks a firmware file: true when it exists, can be read and its header
// and checksum match; Data is written only then. A missing file gives false;
// a file that exists but cannot be opened or read raises EFileError. The
// file is opened read-only and never changed. Nothing of it is kept: the
// checksum runs through a fixed buffer (CheckFirmware).
bool ValidateFile(const std::string &FName, TCODFileData &Data);

// The outcome of LoadFirmware and CheckFirmware.
enum class TCodLoad {
    Ok,       // read whole and valid; fits an upload
    Missing,  // no such regular file
    Invalid,  // header or checksum wrong
    TooBig,   // more packets than an upload can carry (Data tells the size)
};

// Which check refused a firmware file (TCodLoad::Invalid), in the order
// they run.
enum class TCodCheck {
    None,
    TooShort,        // shorter than its header
    WrongSize,       // the size the header gives does not match the file's
    HeaderChecksum,  // 16-byte header: its checksum byte is wrong
    ImageChecksum,   // 32-byte header: the image's sum is wrong
};

// Reads a firmware file once, whole, into Image (one allocation of the
// file's size) and checks that buffer (ValidateImage); an upload then sends
// exactly the bytes that were checked, whatever happens to the file
// meanwhile. Data is written for Ok and TooBig; Image holds the file only
// for Ok. A file that needs more packets than an upload can carry is
// refused from its size and header (TooBig) and not read further, except a
// 32-byte-header file of at most CMaxCodFileBytes, whose checksum is
// streamed so that it can still be described. Raises EFileError like
// ValidateFile.
// Failed, when given, says which check refused an Invalid file (None for
// the other outcomes).
TCodLoad LoadFirmware(const std::string &FName, TFirmwareBytes &Image, TCODFileData &Data,
                      TCodCheck *Failed = nullptr);

// The same checks and outcomes without keeping the file: the 32-byte
// header's checksum is streamed through a fixed buffer; of a 16-byte-header
// file only the header is read.
TCodLoad CheckFirmware(const std::string &FName, TCODFileData &Data, TCodCheck *Failed = nullptr);

// The checks of ValidateFile over a file's bytes in memory.
bool ValidateImage(std::span<const uint8_t> Image, TCODFileData &Data, TCodCheck *Failed = nullptr);
