#include "widgets/PortCombo.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHelpEvent>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QToolTip>
#include <QVariant>
#include <algorithm>

namespace {

QStyleOptionComboBox ComboOption(const QComboBox *Combo) {
    // What QComboBox sets up for itself (its own routine is not public).
    QStyleOptionComboBox Opt;
    Opt.initFrom(Combo);
    Opt.editable = Combo->isEditable();
    Opt.frame = Combo->hasFrame();
    if (Combo->hasFocus() && !Opt.editable) Opt.state |= QStyle::State_Selected;
    Opt.subControls = QStyle::SC_All;
    Opt.currentText = Combo->currentText();
    Opt.currentIcon = Combo->itemIcon(Combo->currentIndex());
    Opt.iconSize = Combo->iconSize();
    if (Combo->view()->isVisible()) Opt.state |= QStyle::State_On;
    return Opt;
}

QString ElidedText(const QComboBox *Combo, const QStyleOptionComboBox &Opt) {
    const QRect Field = Combo->style()->subControlRect(QStyle::CC_ComboBox, &Opt,
                                                       QStyle::SC_ComboBoxEditField, Combo);
    // A few pixels for the style's own text margins.
    const int Room = std::max(0, Field.width() - 4);
    return Combo->fontMetrics().elidedText(Opt.currentText, Qt::ElideMiddle, Room);
}

// Draws the closed list with the chosen text cut in the middle, and gives
// the whole text as the tooltip.
class TPortComboLook : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override {
        // While the list is being destroyed it is no longer a QComboBox.
        auto *Combo = qobject_cast<QComboBox *>(Watched);
        if (!Combo) return false;
        if (Event->type() == QEvent::ToolTip) {
            const auto *Help = static_cast<QHelpEvent *>(Event);
            if (Combo->currentIndex() >= 0)
                QToolTip::showText(Help->globalPos(), Combo->currentText(), Combo);
            else
                QToolTip::hideText();
            return true;
        }
        if (Event->type() != QEvent::Paint || Combo->isEditable()) return false;
        QStylePainter P(Combo);
        P.setPen(Combo->palette().color(QPalette::Text));
        QStyleOptionComboBox Opt = ComboOption(Combo);
        P.drawComplexControl(QStyle::CC_ComboBox, Opt);
        Opt.currentText = ElidedText(Combo, Opt);
        P.drawControl(QStyle::CE_ComboBoxLabel, Opt);
        return true;
    }
};

void InstallPortComboLook(QComboBox *Combo) {
    // Once per list (it is filled again on every reload).
    static const char kInstalled[] = "veldraPortComboLook";
    if (Combo->property(kInstalled).toBool()) return;
    Combo->setProperty(kInstalled, true);
    Combo->installEventFilter(new TPortComboLook(Combo));
}

}  // namespace

QString PortText(const TComListData &Port) {
    const QString Description = QString::fromStdString(Port.Description);
    const QString Label = QString::fromStdString(Port.Label);
    // The same word in the user's language, the rest (serial number,
    // node) as it is.
    auto Replaced = [&](const QString &Word) {
        if (!Description.startsWith(Label)) return Description;
        return Word + Description.mid(Label.size());
    };
    switch (Port.Kind) {
        case TPortKind::Virtual:
            return QCoreApplication::translate("PortCombo", "Virtual port (%1)")
                .arg(QString::fromStdString(Port.DeviceID));
        case TPortKind::Unnamed:
            return Replaced(QCoreApplication::translate("PortCombo", "Serial port"));
        case TPortKind::Driver:
            // The kernel's driver of built-in serial ports is called "serial";
            // other driver names (ftdi_sio, ch341, ...) are names.
            if (Label == QLatin1String("serial"))
                return Replaced(QCoreApplication::translate(
                    "PortCombo", "serial", "a built-in serial port, known only by its driver"));
            return Description;
        case TPortKind::Named:
        case TPortKind::Network:
            break;
    }
    return Description;
}

QString PortComboDisplayText(const QComboBox *Combo) {
    return ElidedText(Combo, ComboOption(Combo));
}

void FillPortCombo(QComboBox *Combo) {
    InstallPortComboLook(Combo);
    std::vector<TComListData> Ports;
    EnumComPorts(Ports);
    const QSignalBlocker Block(Combo);
    Combo->clear();
    int Widest = 0;
    for (const TComListData &P : Ports) {
        const QString Text = PortText(P);
        Combo->addItem(Text, QVariant::fromValue(P));
        Combo->setItemData(Combo->count() - 1, Text, Qt::ToolTipRole);
        Widest = std::max(Widest, Combo->fontMetrics().horizontalAdvance(Text));
    }
    Combo->setCurrentIndex(-1);
    // The open list is as wide as its longest entry (at least the list's
    // own width), so every name shows whole there.
    QAbstractItemView *View = Combo->view();
    const int Margins = 4 * View->frameWidth() + View->verticalScrollBar()->sizeHint().width() + 16;
    View->setMinimumWidth(Widest + Margins);
}

std::optional<TComListData> PortComboItem(const QComboBox *Combo, int Index) {
    if (Index < 0 || Index >= Combo->count()) return std::nullopt;
    const QVariant V = Combo->itemData(Index);
    if (!V.canConvert<TComListData>()) return std::nullopt;
    return V.value<TComListData>();
}

std::optional<TComListData> SelectedPort(const QComboBox *Combo) {
    return PortComboItem(Combo, Combo->currentIndex());
}

TPortReload ReloadPortCombo(QComboBox *Combo) {
    const QString Chosen = Combo->currentIndex() >= 0 ? Combo->currentText() : QString();
    FillPortCombo(Combo);
    if (Chosen.isEmpty()) return TPortReload::NoneChosen;
    for (int I = 0; I < Combo->count(); ++I) {
        if (Combo->itemText(I).compare(Chosen, Qt::CaseInsensitive) == 0) {
            const QSignalBlocker Block(Combo);
            Combo->setCurrentIndex(I);
            return TPortReload::Kept;
        }
    }
    return TPortReload::Lost;
}
