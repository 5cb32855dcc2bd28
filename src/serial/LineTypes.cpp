#include "serial/LineTypes.h"

#include <cctype>

namespace {

constexpr const char *kBaudTexts[] = {"Custom", "110",    "300",    "600",   "1200",  "2400",
                                      "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                      "57600",  "115200", "128000", "256000"};
constexpr int kBaudRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                              14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr const char *kStopTexts[] = {"1", "1.5", "2"};
constexpr const char *kParityTexts[] = {"None", "Odd", "Even", "Mark", "Space"};

std::string Upper(std::string s) {
    for (auto &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

template <typename E, size_t N>
E FromText(const std::string &Text, const char *const (&Names)[N], E Default) {
    const std::string t = Upper(Text);
    for (size_t i = 0; i < N; ++i)
        if (Upper(Names[i]) == t) return static_cast<E>(i);
    return Default;
}

}  // namespace

TBaudRate BaudRateFromText(const std::string &Text) {
    return FromText(Text, kBaudTexts, br9600);
}
TStopBits StopBitsFromText(const std::string &Text) {
    return FromText(Text, kStopTexts, sbOneStopBit);
}
TParityBits ParityFromText(const std::string &Text) {
    return FromText(Text, kParityTexts, prNone);
}

int BaudRateToInt(TBaudRate Rate, int CustomRate) {
    if (Rate == brCustom) return CustomRate;
    if (Rate < brCustom || Rate > br256000) return 0;
    return kBaudRates[Rate];
}
const char *BaudRateText(TBaudRate Rate) {
    return (Rate >= brCustom && Rate <= br256000) ? kBaudTexts[Rate] : "";
}
const char *StopBitsText(TStopBits Bits) {
    return (Bits >= sbOneStopBit && Bits <= sbTwoStopBits) ? kStopTexts[Bits] : "";
}
const char *ParityText(TParityBits Bits) {
    return (Bits >= prNone && Bits <= prSpace) ? kParityTexts[Bits] : "";
}
