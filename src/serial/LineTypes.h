#pragma once
// The vocabulary of a serial line: line settings as the port object stores
// them, and the port's errors (EComPort, with its fixed texts and numbers).

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

struct TComParity {
    TParityBits Bits = prNone;
    bool Check = false;
    bool Replace = false;
    char ReplaceChar = 0;
    bool operator==(const TComParity &) const = default;
};

struct TComFlowControl {
    TDTRFlowControl ControlDTR = dtrDisable;
    TRTSFlowControl ControlRTS = rtsDisable;
    bool OutCTSFlow = false;
    bool OutDSRFlow = false;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    bool DSRSensitivity = false;
    bool TxContinueOnXoff = false;
    char XonChar = 0x11;
    char XoffChar = 0x13;
    bool operator==(const TComFlowControl &) const = default;
};

struct TComTimeouts {
    int ReadInterval = -1;
    int ReadTotalMultiplier = 0;
    int ReadTotalConstant = 0;
    int WriteTotalMultiplier = 100;
    int WriteTotalConstant = 1000;
};

struct TComBuffer {
    int InputSize = 1024;
    int OutputSize = 1024;
};

// Error numbers of EComPort (the texts form one table indexed 1..25).
enum : int {
    CError_OpenFailed = 1,
    CError_WriteFailed = 2,
    CError_ReadFailed = 3,
    CError_PurgeFailed = 5,
    CError_CommState = 7,
    CError_TimeoutsFailed = 8,
    CError_SetupComm = 9,
    CError_ClearComm = 10,
    CError_NotOpen = 24,
    CError_Disconnected = 25,
};

class EComPort : public std::runtime_error {
public:
    // WinCode is the operating-system error number (errno here), -1 when none.
    explicit EComPort(int Code, int WinCode = -1);
    // The same error on a line reached over the network: Where (the
    // server's address) follows the text in brackets.
    EComPort(int Code, int WinCode, const std::string &Where);
    int Code() const { return FCode; }
    int WinCode() const { return FWinCode; }
    // Text of an error number alone, "" outside 1..25.
    static std::string ErrorText(int Code);
    static std::string Message(int Code, int WinCode);

private:
    int FCode;
    int FWinCode;
};
