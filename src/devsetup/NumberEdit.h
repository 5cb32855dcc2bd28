#pragma once
// One-line number box that may be empty.
//
// Whole mode: an integer within [Minimum, Maximum]; the box brings what is
// typed or set into that range, and an empty box means "not given".
// Real mode: a real number or no value, shown with a fixed number of
// decimals; numbers that are not finite show as "NaN", "Inf" or "-Inf".

#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QtGlobal>
#include <limits>
#include <optional>

class TNumberEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(bool realMode READ realMode WRITE setRealMode)
    Q_PROPERTY(qlonglong minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(qlonglong maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(int decimals READ decimals WRITE setDecimals)
public:
    explicit TNumberEdit(QWidget *Parent = nullptr);

    bool realMode() const { return FReal; }
    void setRealMode(bool Real);
    qlonglong minimum() const { return FMin; }
    void setMinimum(qlonglong Value);
    qlonglong maximum() const { return FMax; }
    void setMaximum(qlonglong Value);
    void setRange(qlonglong Min, qlonglong Max);
    int decimals() const { return FDecimals; }
    void setDecimals(int Value);

    // True when the box holds no text (blanks count as none).
    bool IsEmpty() const;

    // Whole mode. The value brought into the range; nullopt when empty.
    std::optional<qlonglong> WholeValue() const;
    // Shows Value brought into the range.
    void SetWholeValue(qlonglong Value);

    // Real mode. nullopt when the box holds no value.
    std::optional<double> RealValue() const { return FValue; }
    void SetRealValue(std::optional<double> Value);

    // Text of a real value with the given decimals ("NaN", "Inf", "-Inf"
    // for numbers that are not finite; never "-0.000").
    static QString FormatReal(double Value, int Decimals);
    // Parses what a user may type ("12", "-1.5", "2,5", "1e3", "NaN", "Inf").
    static std::optional<double> ParseReal(const QString &Text);
    // Parses a whole number and brings it into [Min, Max]; values beyond
    // the 64-bit range saturate.
    static std::optional<qlonglong> ParseWhole(const QString &Text, qlonglong Min, qlonglong Max);

private:
    void UpdateValidator();
    void TextEdited(const QString &Text);
    void Normalise();

    bool FReal = false;
    qlonglong FMin = std::numeric_limits<qlonglong>::min();
    qlonglong FMax = std::numeric_limits<qlonglong>::max();
    int FDecimals = 0;
    std::optional<double> FValue;  // real mode only
    bool FSettingValue = false;
    QRegularExpressionValidator *FValidator;
};
