#pragma once
// Host side of the sensor bootloader protocol: finding and identifying a
// sensor in bootloader mode, and uploading a firmware file to it.
//
// Request packet:  F5, N+5, command, packet number (LE16), N data bytes, CRC-8
// Reply packet:    F5, M+3, command | 0x80, M payload bytes, CRC-8
// The CRC covers everything from the length byte to the byte before it.
//
// An object works on the link it is given (a port, a network serial server,
// or a test's scripted line), which must outlive it, and is used by one
// thread at a time; separate objects may run in separate threads.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bootloader/BootTypes.h"
#include "bootloader/CodFile.h"
#include "serial/Clock.h"
#include "serial/LineTypes.h"
#include "serial/Link.h"

// Called after every data-packet attempt of an upload: packets acknowledged
// so far, failed attempts so far, share of the file read (0..100 %).
using TOnProgress = std::function<void(int PacketsSent, int PacketsFail, int Progress)>;

// Bootloader commands and replies.
enum : uint8_t {
    CBootStart = 0xF5,
    CCmdIdent16 = 0x0B,  // identification with a 16-bit sensor ID (57600 baud only)
    CCmdIdent = 0x0C,    // identification, 8-bit sensor ID
    CCmdData = 0x0D,     // firmware data
    CReplyFlag = 0x80,
};
// Acknowledged number meaning "image complete".
constexpr uint16_t CAckComplete = 0xFFFE;
// CMaxDataPackets and the packet sizes: bootloader/CodFile.h.
// Reply time-out of ESP32 data packets until more than CESP32SlowBytes of
// the file have been sent (the sensor erases flash meanwhile).
constexpr uint32_t CESP32SlowTimeout = 3000;
constexpr uint64_t CESP32SlowBytes = 2048;
// Pause between the completion acknowledgement and the final identification.
constexpr uint32_t CRebootPause = 2500;
// Identification requests after that pause that must all go unanswered
// before an upload counts as done (a lost answer must not pass for a sensor
// that left bootloader mode).
constexpr int CFinalIdentAttempts = 3;
// The time-out of those requests (TXComm::QuietTimeout). A sensor still in
// its bootloader answers them; the wait covers, from the write:
//   the request and the longest reply the protocol allows on the line,
//     (6 + 257) characters of 11 bits: 151 ms at 19200, 51 ms at 57600
//     (the first byte of a reply alone restarts the wait, so this is
//     generous);
//   the sensor's turnaround, CQuietTurnaroundMs: bootloaders answer
//     identification within a few ms; a slow one is allowed tens of ms;
//   USB adapters, CQuietAdapterMs: an FTDI-type adapter holds received
//     bytes up to its latency timer (16 ms unless set low), the request can
//     wait as long on its way out, and a USB frame on top;
//   a margin, CQuietMarginMs.
// 291 ms at 19200 baud, 191 ms at 57600. Never shorter than twice what the
// sensor took to answer the identification that found it, plus the margin
// (a slow sensor, a network serial server), and never longer than the
// settings' time-out that every other request waits.
constexpr uint32_t CQuietTurnaroundMs = 50;
constexpr uint32_t CQuietAdapterMs = 40;
constexpr uint32_t CQuietMarginMs = 50;

// Longest reply: start byte, length byte and up to 255 more.
constexpr size_t CMaxReplyBytes = 257;
// Margin of an exchange's overall bound beyond the time-out and the line
// time of the longest reply (see Transact).
constexpr uint32_t CReplyMarginMs = 250;
// Received bytes kept for the frame trace of one exchange.
constexpr size_t CMaxTraceBytes = 4096;
// Upper limit of the reply time-out (the settings' TIMEOUT).
constexpr uint32_t CMaxDefTimeout = 60000;

// Packet building and reply checking, pure functions over bytes.
// Request with command, packet number and data (at most 250 bytes).
TByteArray BuildRequest(uint8_t Command, uint16_t PacketNo, const uint8_t *Data = nullptr,
                        size_t Count = 0);
// Checks a complete reply to a request with Command; on success Payload
// holds the payload only.
bool CheckReply(const TByteArray &Reply, uint8_t Command, TByteArray &Payload);

class TXComm {
public:
    using TPause = std::function<void(uint32_t Ms)>;  // blocking sleep

    explicit TXComm(TLink &Link);
    ~TXComm();
    TXComm(const TXComm &) = delete;
    TXComm &operator=(const TXComm &) = delete;

    // Closes the link, then looks for a bootloader on Port at 19200 and then
    // at 57600 baud (or at FirstBaud() first). True when one answered; the
    // port then stays open at the rate that worked. Port errors are caught
    // here and give false.
    bool Open(const std::string &Port);
    // The rate Open tries first: 19200 or 57600 (a port's last sensor had
    // it, say); 0, and any other value, keeps the usual order. Kept across
    // Open and Close, as the limits are.
    void SetFirstBaud(int Rate);
    int FirstBaud() const { return FFirstBaud; }
    // Why the last Open could not open the port, or the port error that
    // closed it during the search (a server that dropped the connection, an
    // adapter pulled out); empty when no bootloader answered on a working
    // port, or when Open succeeded. A port that cannot be opened at all
    // ends the search at once.
    const std::optional<EComPort> &OpenError() const { return FOpenError; }
    // Closes the port and forgets the sensor's identity.
    void Close();
    // Asks the bootloader for its identity over the open port; the outputs
    // are written only on success. Port errors (EComPort) reach the caller.
    // The request that was answered, and how long the answer took, are kept
    // for the upload's final check (IdentCommand).
    bool GetDeviceInfo(uint16_t &SensorID, uint8_t &VersionHi, uint8_t &VersionLo);
    // The identification request the sensor answered when it was found
    // (CCmdIdent or CCmdIdent16), 0 before that and after Close.
    uint8_t IdentCommand() const { return FIdentCommand; }
    // Time-out of the requests a sensor that left bootloader mode leaves
    // unanswered (the final check of an upload): see CQuietTurnaroundMs.
    uint32_t QuietTimeout() const;

    // Port open and a sensor ID other than 0 known.
    bool Connected() const;
    // Name of the port while it is open, else "".
    std::string COMPort() const;
    uint16_t SensorID() const { return FSensorID; }
    TSensorVersion Version() const { return {FVersionHi, FVersionLo}; }
    // Bit rate of the open port (19200 or 57600 after a good Open), 0 when closed.
    int BaudRate() const;

    // Limits; the setters clamp to their range instead of refusing.
    int MaxRetry() const { return FMaxRetry; }
    void SetMaxRetry(int Value);  // at least 3
    int MaxFails() const { return FMaxFails; }
    void SetMaxFails(int Value);  // at least 5
    uint32_t DefTimeout() const { return FDefTimeout; }
    void SetDefTimeout(uint32_t Value);  // 500 to 60000 ms

    // Uploads a firmware file to the open bootloader. Hdr is what the
    // caller's ValidateFile gave; it chooses the packet size and time-outs.
    // True only when the bootloader completed the image and then leaves
    // CFinalIdentAttempts identification requests unanswered, each the one
    // it answered when it was found (as GetDeviceInfo asks when that is not
    // known), each with the QuietTimeout(). Port errors
    // (EComPort) and file errors (EFileError) reach the caller; the file is
    // closed by then.
    // The file is read once (LoadFirmware) and sent from memory.
    // A completion acknowledgement before the last data packet is a failed
    // upload: the image ends where its header says, so a bootloader that
    // has it whole can say so only on the last packet (EarlyCompletion()).
    bool UploadFile(const std::string &FName, const TCODFileData &Hdr,
                    const TOnProgress &OnProgress);
    // The same for a file already in memory (LoadFirmware's Image): exactly
    // these bytes are checked again and sent.
    bool UploadImage(std::span<const uint8_t> Image, const TCODFileData &Hdr,
                     const TOnProgress &OnProgress);
    // After an upload that failed because the bootloader reported the image
    // complete too early: the packet it said so after and the number of
    // data packets of the image; empty after any other ending.
    struct TEarlyCompletion {
        int Packet = 0;
        int Packets = 0;
    };
    const std::optional<TEarlyCompletion> &EarlyCompletion() const { return FEarlyCompletion; }

    // The clock of every deadline and of the pause after completion (the
    // system's by default). It must outlive the object.
    void SetClock(TClock &Clock);
    // The system's time with the caller's pause (an empty one restores the
    // system's clock).
    void SetPause(TPause Pause);

    // One request/reply exchange: purge, write, wait for the reply with a
    // silence time-out of TimeoutMs, check it. However busy the line, the
    // exchange ends after TimeoutMs + ReplyAllowance(). On true Reply holds
    // the payload only; on false it may hold whatever raw bytes came (at
    // most CMaxReplyBytes).
    bool Transact(const TByteArray &Request, TByteArray &Reply, uint32_t TimeoutMs);

    TLink &Link() { return FLink; }
    // Beyond the time-out: twice the line time of the longest reply at the
    // port's rate, plus CReplyMarginMs.
    uint32_t ReplyAllowance() const;

private:
    bool SendDataPacket(uint16_t PacketNo, const uint8_t *Data, size_t Count, uint32_t TimeoutMs,
                        uint16_t &Ack);
    // One identification request (CCmdIdent or CCmdIdent16): true when it
    // was answered with its own payload size; outputs written only then.
    bool AskIdentity(uint8_t Command, uint32_t TimeoutMs, uint16_t &SensorID, uint8_t &VersionHi,
                     uint8_t &VersionLo);
    // After the completion: true when the sensor still answers.
    bool StillInBootloader();
    uint64_t Now() const { return FClock->Now(); }
    TLinkSettings LineSettings(TBaudRate Rate) const;

    TLink &FLink;
    uint16_t FSensorID = 0;
    uint8_t FVersionHi = 0;
    uint8_t FVersionLo = 0;
    int FMaxRetry = 5;
    int FMaxFails = 15;
    uint32_t FDefTimeout = 1000;
    int FFirstBaud = 0;
    uint8_t FIdentCommand = 0;  // the request the sensor answered
    uint32_t FIdentMs = 0;      // and how long it took
    TClock *FClock = &SystemClock();
    std::unique_ptr<TClock> FOwnClock;  // behind SetPause
    std::optional<EComPort> FOpenError;
    std::optional<TEarlyCompletion> FEarlyCompletion;
};
