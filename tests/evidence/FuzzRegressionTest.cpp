// Inputs the fuzzers found faults with, kept as plain tests.
#include <gtest/gtest.h>

#include <string>

#include "modbus/RegisterCodecs.h"

// Text from outside the program (a command-line argument in another
// locale, say) may be malformed UTF-8. A malformed sequence becomes '?'
// and nothing else: in particular an over-long form of NUL must not put a
// zero byte in the middle of a register block, which would cut the text
// short on the device and leave the rest behind the terminator.
TEST(FuzzRegression, MalformedUtf8BecomesQuestionMarks) {
    const struct {
        const char *Name;
        std::string Bytes;
    } Rows[] = {
        {"over-long NUL, 2 bytes", "\xC0\x80"},
        {"over-long NUL, 3 bytes", "\xE0\x80\x80"},
        {"over-long NUL, 4 bytes", "\xF0\x80\x80\x80"},
        {"over-long 'A', 3 bytes", "\xE0\x81\x81"},
        {"over-long '/', 4 bytes", std::string("\xF0\x80\x80\xAF")},
        {"surrogate half", "\xED\xA0\x80"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
        {"lone continuation byte", "\x80"},
        {"cut-off sequence", "\xC3"},
    };
    for (const auto &R : Rows) {
        SCOPED_TRACE(R.Name);
        const std::string Text = "x" + R.Bytes + "y";
        const TModbusRegisters Block = EncodeText(Text, 8);
        const std::string Back = DecodeText(Block);
        if (Back.size() < 3) {
            ADD_FAILURE() << "text cut short: \"" << Back << '"';
            continue;
        }
        EXPECT_EQ(Back.front(), 'x');
        EXPECT_EQ(Back.back(), 'y');
        EXPECT_EQ(Back.find_first_not_of('?', 1), Back.size() - 1) << Back;
    }
    // Well-formed text outside ASCII still passes as itself.
    EXPECT_EQ(DecodeText(EncodeText("D\xC3\xBCse", 4)), "D\xC3\xBCse");
}
