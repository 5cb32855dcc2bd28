#include "widgets/MsgBox.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <algorithm>

namespace {

TMsgPresenter &Presenter() {
    static TMsgPresenter P;
    return P;
}

// Width of the message column: a message that fits stays on one line, a
// longer one wraps at the upper bound.
constexpr int kMinTextWidth = 240;
constexpr int kMaxTextWidth = 440;

// While a busy cursor is shown, a box gets the normal arrow.
struct TArrowOverBusy {
    bool Pushed = QGuiApplication::overrideCursor() != nullptr;
    TArrowOverBusy() {
        if (Pushed) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~TArrowOverBusy() {
        if (Pushed) QGuiApplication::restoreOverrideCursor();
    }
    TArrowOverBusy(const TArrowOverBusy &) = delete;
    TArrowOverBusy &operator=(const TArrowOverBusy &) = delete;
};

}  // namespace

void WidenMsgBox(QMessageBox *Box) {
    // The box takes the smallest width its layout allows, and a word-wrapped
    // text allows next to none: without a floor the message wraps into a
    // column a few words wide. The floor is a spacer in the message's cell.
    auto *Grid = qobject_cast<QGridLayout *>(Box->layout());
    QLabel *Text = Box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
    if (!Text) Text = Box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    if (!Grid || !Text) return;
    const int Index = Grid->indexOf(Text);
    if (Index < 0) return;
    int Row = 0, Column = 0, RowSpan = 0, ColumnSpan = 0;
    Grid->getItemPosition(Index, &Row, &Column, &RowSpan, &ColumnSpan);
    const QFontMetrics Metrics(Text->font());
    int Width = 0;
    for (const QString &Line : Text->text().split(QLatin1Char('\n')))
        Width = std::max(Width, Metrics.horizontalAdvance(Line) + Metrics.averageCharWidth());
    Width = std::clamp(Width, kMinTextWidth, kMaxTextWidth);
    Grid->addItem(new QSpacerItem(Width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), Row, Column);
}

TMsgResult ExecMsgBox(QMessageBox &Box) {
    WidenMsgBox(&Box);
    const TArrowOverBusy Arrow;
    Box.exec();
    return MsgResultFromButton(Box.standardButton(Box.clickedButton()));
}

QString AppTitle() {
    return QStringLiteral("Veldra-Update");
}

void SetMsgPresenter(TMsgPresenter P) {
    Presenter() = std::move(P);
}

bool HasMsgPresenter() {
    return static_cast<bool>(Presenter());
}

std::unique_ptr<QMessageBox> BuildMsgBox(TMsgKind Kind, const QString &Title, const QString &Msg) {
    auto Box = std::make_unique<QMessageBox>();
    // Messages may carry outside text (file names, device data): plain text.
    Box->setTextFormat(Qt::PlainText);
    Box->setText(Title);
    Box->setInformativeText(Msg);
    if (auto *Info = Box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        Info->setTextFormat(Qt::PlainText);
    switch (Kind) {
        case TMsgKind::Error:
            Box->setWindowTitle(QCoreApplication::translate("MsgBox", "Error"));
            Box->setIcon(QMessageBox::Critical);
            Box->setStandardButtons(QMessageBox::Ok);
            Box->setDefaultButton(QMessageBox::Ok);
            Box->button(QMessageBox::Ok)->setText(QCoreApplication::translate("MsgBox", "OK"));
            break;
        case TMsgKind::Info:
            Box->setWindowTitle(QCoreApplication::translate("MsgBox", "Information"));
            Box->setIcon(QMessageBox::Information);
            Box->setStandardButtons(QMessageBox::Ok);
            Box->setDefaultButton(QMessageBox::Ok);
            Box->button(QMessageBox::Ok)->setText(QCoreApplication::translate("MsgBox", "OK"));
            break;
        case TMsgKind::YesNo:
            Box->setWindowTitle(QCoreApplication::translate("MsgBox", "Confirm"));
            Box->setIcon(QMessageBox::Warning);
            Box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            Box->setDefaultButton(QMessageBox::Yes);
            Box->button(QMessageBox::Yes)->setText(QCoreApplication::translate("MsgBox", "&Yes"));
            Box->button(QMessageBox::No)->setText(QCoreApplication::translate("MsgBox", "&No"));
            break;
    }
    WidenMsgBox(Box.get());
    return Box;
}

TMsgResult MsgResultFromButton(int StandardButton) {
    switch (StandardButton) {
        case QMessageBox::Yes:
            return mrYes;
        case QMessageBox::No:
            return mrNo;
        case QMessageBox::Ok:
            return mrOk;
        default:
            // Closing a Yes/No box by Escape or the title bar is not a Yes.
            return mrDismissed;
    }
}

TMsgResult PresentMsg(TMsgKind Kind, const QString &Title, const QString &Msg) {
    const TArrowOverBusy Arrow;
    if (Presenter()) {
        // Copy first: the presenter may replace itself while it runs.
        TMsgPresenter P = Presenter();
        return static_cast<TMsgResult>(P(Kind, Title, Msg));
    }
    auto Box = BuildMsgBox(Kind, Title, Msg);
    Box->exec();
    return MsgResultFromButton(Box->standardButton(Box->clickedButton()));
}

TMsgResult ShowErrorMsg(const QString &Title, const QString &Msg) {
    PresentMsg(TMsgKind::Error, Title, Msg);
    return mrOk;
}

TMsgResult ShowInfoMsg(const QString &Title, const QString &Msg) {
    PresentMsg(TMsgKind::Info, Title, Msg);
    return mrOk;
}

TMsgResult AskYesNo(const QString &Title, const QString &Msg) {
    return PresentMsg(TMsgKind::YesNo, Title, Msg) == mrYes ? mrYes : mrNo;
}
