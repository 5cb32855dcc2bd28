#include "devsetup/NumberEdit.h"

#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>

TNumberEdit::TNumberEdit(QWidget *Parent)
    : QLineEdit(Parent), FValidator(new QRegularExpressionValidator(this)) {
    setValidator(FValidator);
    UpdateValidator();
    connect(this, &QLineEdit::textChanged, this, &TNumberEdit::TextEdited);
    connect(this, &QLineEdit::editingFinished, this, &TNumberEdit::Normalise);
}

void TNumberEdit::setRealMode(bool Real) {
    if (Real == FReal) return;
    FReal = Real;
    FValue.reset();
    clear();
    UpdateValidator();
}

void TNumberEdit::setMinimum(qlonglong Value) {
    FMin = Value;
    if (FMax < FMin) FMax = FMin;
    UpdateValidator();
}

void TNumberEdit::setMaximum(qlonglong Value) {
    FMax = Value;
    if (FMin > FMax) FMin = FMax;
    UpdateValidator();
}

void TNumberEdit::setRange(qlonglong Min, qlonglong Max) {
    FMin = Min;
    FMax = Max < Min ? Min : Max;
    UpdateValidator();
}

void TNumberEdit::setDecimals(int Value) {
    FDecimals = Value < 0 ? 0 : Value;
    if (FReal && FValue) SetRealValue(FValue);
}

bool TNumberEdit::IsEmpty() const {
    return text().trimmed().isEmpty();
}

std::optional<qlonglong> TNumberEdit::WholeValue() const {
    return ParseWhole(text(), FMin, FMax);
}

void TNumberEdit::SetWholeValue(qlonglong Value) {
    setText(QString::number(std::clamp(Value, FMin, FMax)));
}

void TNumberEdit::SetRealValue(std::optional<double> Value) {
    FSettingValue = true;
    setText(Value ? FormatReal(*Value, FDecimals) : QString());
    FSettingValue = false;
    FValue = Value;
}

QString TNumberEdit::FormatReal(double Value, int Decimals) {
    if (std::isnan(Value)) return QStringLiteral("NaN");
    if (std::isinf(Value)) return Value > 0 ? QStringLiteral("Inf") : QStringLiteral("-Inf");
    QString Text = QString::number(Value, 'f', Decimals);
    // A tiny negative number rounds to zero; show it without a sign.
    if (Text.startsWith(u'-') && Text.count(u'0') + Text.count(u'.') == Text.size() - 1)
        Text.remove(0, 1);
    return Text;
}

std::optional<double> TNumberEdit::ParseReal(const QString &Text) {
    QString T = Text.trimmed();
    if (T.isEmpty()) return std::nullopt;
    if (T.compare(QLatin1String("NaN"), Qt::CaseInsensitive) == 0)
        return std::numeric_limits<double>::quiet_NaN();
    if (T.compare(QLatin1String("Inf"), Qt::CaseInsensitive) == 0 ||
        T.compare(QLatin1String("+Inf"), Qt::CaseInsensitive) == 0)
        return std::numeric_limits<double>::infinity();
    if (T.compare(QLatin1String("-Inf"), Qt::CaseInsensitive) == 0)
        return -std::numeric_limits<double>::infinity();
    T.replace(u',', u'.');
    bool Ok = false;
    double V = QLocale::c().toDouble(T, &Ok);
    if (!Ok) return std::nullopt;
    return V;
}

std::optional<qlonglong> TNumberEdit::ParseWhole(const QString &Text, qlonglong Min,
                                                 qlonglong Max) {
    const QString T = Text.trimmed();
    static const QRegularExpression Whole(QStringLiteral("^[+-]?\\d+$"));
    if (!Whole.match(T).hasMatch()) return std::nullopt;
    bool Ok = false;
    qlonglong V = T.toLongLong(&Ok);
    if (!Ok)  // more digits than 64 bits hold
        V = T.startsWith(u'-') ? std::numeric_limits<qlonglong>::min()
                               : std::numeric_limits<qlonglong>::max();
    return std::clamp(V, Min, Max);
}

void TNumberEdit::UpdateValidator() {
    QString Pattern;
    if (FReal)
        Pattern =
            QStringLiteral("[+-]?(\\d*([.,]\\d*)?([eE][+-]?\\d*)?|[Nn][Aa]?[Nn]?|[Ii][Nn]?[Ff]?)");
    else
        Pattern = FMin < 0 ? QStringLiteral("[+-]?\\d{0,20}") : QStringLiteral("\\+?\\d{0,20}");
    FValidator->setRegularExpression(QRegularExpression(Pattern));
}

void TNumberEdit::TextEdited(const QString &Text) {
    // Any text put in by the user or by setText() replaces the value; only
    // SetRealValue keeps the exact number behind its rounded text.
    if (FReal && !FSettingValue) FValue = ParseReal(Text);
}

void TNumberEdit::Normalise() {
    if (FReal) {
        // What was typed stays as typed; text that holds no number goes.
        if (!FValue && !IsEmpty()) clear();
        return;
    }
    if (auto V = WholeValue())
        setText(QString::number(*V));
    else if (!IsEmpty())
        clear();
}
