#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "devsetup/NumberEdit.h"

namespace {

TEST(NumberEdit, WholeValueIsBroughtIntoRange) {
    struct TCase {
        const char *Text;
        qlonglong Min, Max;
        std::optional<qlonglong> Value;
    };
    const qlonglong Lo = std::numeric_limits<qlonglong>::min();
    const qlonglong Hi = std::numeric_limits<qlonglong>::max();
    const TCase Cases[] = {
        {"", 1, 65535, std::nullopt},
        {"   ", 1, 65535, std::nullopt},
        {"12", 1, 65535, 12},
        {"0", 1, 247, 1},
        {"300", 1, 247, 247},
        {"70000", Lo, Hi, 70000},
        {"-1", Lo, Hi, -1},
        {"99999999999999999999999", Lo, Hi, Hi},  // beyond 64 bits saturates
        {"-99999999999999999999999", Lo, Hi, Lo},
        {"12a", 1, 65535, std::nullopt},
    };
    for (const TCase &C : Cases)
        EXPECT_EQ(TNumberEdit::ParseWhole(QString::fromLatin1(C.Text), C.Min, C.Max), C.Value)
            << C.Text;
}

TEST(NumberEdit, SetWholeValueClampsAndEditingFinishedNormalises) {
    TNumberEdit E;
    E.setRange(1, 247);
    E.SetWholeValue(263);
    EXPECT_EQ(E.text(), "247");
    E.setText("0");
    emit E.editingFinished();
    EXPECT_EQ(E.text(), "1");
    E.clear();
    EXPECT_TRUE(E.IsEmpty());
    EXPECT_FALSE(E.WholeValue().has_value());
}

TEST(NumberEdit, RealValueFormatsAndKeepsTheExactNumber) {
    TNumberEdit E;
    E.setRealMode(true);
    E.setDecimals(3);
    E.SetRealValue(123.456001281738);
    EXPECT_EQ(E.text(), "123.456");
    EXPECT_DOUBLE_EQ(*E.RealValue(), 123.456001281738);
    E.SetRealValue(std::nullopt);
    EXPECT_EQ(E.text(), "");
    EXPECT_FALSE(E.RealValue().has_value());
    E.setText("-2,5");  // what a user types replaces the value
    ASSERT_TRUE(E.RealValue().has_value());
    EXPECT_DOUBLE_EQ(*E.RealValue(), -2.5);
    E.setText("-");
    EXPECT_FALSE(E.RealValue().has_value());
}

TEST(NumberEdit, FormatReal) {
    struct TCase {
        double Value;
        int Decimals;
        const char *Text;
    };
    const double Inf = std::numeric_limits<double>::infinity();
    const TCase Cases[] = {
        {1.0, 3, "1.000"},        {-1.0, 0, "-1"},
        {4.6e-41, 3, "0.000"},    {-4.6e-41, 3, "0.000"},  // no "-0.000"
        {std::nan(""), 3, "NaN"}, {Inf, 3, "Inf"},
        {-Inf, 3, "-Inf"},        {-2147483648.0, 0, "-2147483648"},
    };
    for (const TCase &C : Cases)
        EXPECT_EQ(TNumberEdit::FormatReal(C.Value, C.Decimals), QString::fromLatin1(C.Text))
            << C.Text;
}

TEST(NumberEdit, ParseReal) {
    EXPECT_EQ(TNumberEdit::ParseReal("12.9"), 12.9);
    EXPECT_EQ(TNumberEdit::ParseReal("1e3"), 1000.0);
    EXPECT_EQ(TNumberEdit::ParseReal("-Inf"), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(*TNumberEdit::ParseReal("nan")));
    EXPECT_FALSE(TNumberEdit::ParseReal("").has_value());
    EXPECT_FALSE(TNumberEdit::ParseReal("1.2.3").has_value());
}

}  // namespace
