#include "shell/PortCombo.h"

#include <QComboBox>
#include <QVariant>

void FillPortCombo(QComboBox *Combo)
{
    std::vector<TComListData> Ports;
    EnumComPorts(Ports);
    const QSignalBlocker Block(Combo);
    Combo->clear();
    for (const TComListData &P : Ports)
        Combo->addItem(QString::fromStdString(P.Description), QVariant::fromValue(P));
    Combo->setCurrentIndex(-1);
}

std::optional<TComListData> PortComboItem(const QComboBox *Combo, int Index)
{
    if (Index < 0 || Index >= Combo->count())
        return std::nullopt;
    const QVariant V = Combo->itemData(Index);
    if (!V.canConvert<TComListData>())
        return std::nullopt;
    return V.value<TComListData>();
}

std::optional<TComListData> SelectedPort(const QComboBox *Combo)
{
    return PortComboItem(Combo, Combo->currentIndex());
}

TPortReload ReloadPortCombo(QComboBox *Combo)
{
    const QString Chosen = Combo->currentIndex() >= 0 ? Combo->currentText() : QString();
    FillPortCombo(Combo);
    if (Chosen.isEmpty())
        return TPortReload::NoneChosen;
    for (int I = 0; I < Combo->count(); ++I) {
        if (Combo->itemText(I).compare(Chosen, Qt::CaseInsensitive) == 0) {
            const QSignalBlocker Block(Combo);
            Combo->setCurrentIndex(I);
            return TPortReload::Kept;
        }
    }
    return TPortReload::Lost;
}
