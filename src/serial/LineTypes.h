#pragma once
// The vocabulary of a serial line: line settings and their texts (as the
// settings file and the command line write them), and the line's errors
// (EComPort, with its fixed texts and numbers).

#include <stdexcept>
#include <string>

enum TBaudRate : int {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits : int { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : int { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : int { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : int { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : int { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

// Texts of the settings ("9600", "1.5", "Even"); reading is case-blind and
// gives 9600 baud, one stop bit, no parity for a text it does not know.
TBaudRate BaudRateFromText(const std::string &Text);
TStopBits StopBitsFromText(const std::string &Text);
TParityBits ParityFromText(const std::string &Text);
// Bit rate of a setting; CustomRate for brCustom.
int BaudRateToInt(TBaudRate Rate, int CustomRate = 9600);
const char *BaudRateText(TBaudRate Rate);
const char *StopBitsText(TStopBits Bits);
const char *ParityText(TParityBits Bits);

// Error numbers of EComPort that a line raises (the texts form one table
// indexed 1..25, kept whole so that the numbers stay what they were).
enum : int {
    CError_OpenFailed = 1,
    CError_WriteFailed = 2,
    CError_ReadFailed = 3,
    CError_PurgeFailed = 5,
    CError_CommState = 7,
    CError_NotOpen = 24,
    CError_Disconnected = 25,
};

class EComPort : public std::runtime_error {
public:
    // OsError is the operating system's error number (errno), -1 when none.
    explicit EComPort(int Code, int OsError = -1);
    // The same error on a line reached over the network: Where (the
    // server's address) follows the text in brackets.
    EComPort(int Code, int OsError, const std::string &Where);
    int Code() const { return FCode; }
    int OsError() const { return FOsError; }
    // Text of an error number alone, "" outside 1..25.
    static std::string ErrorText(int Code);
    static std::string Message(int Code, int OsError);

private:
    int FCode;
    int FOsError;
};
