#pragma once
// A port drop-down filled from EnumComPorts. Each item's text is the port's
// PortText and its data (Qt::UserRole) the TComListData it came from.

#include <QMetaType>
#include <optional>

#include "serial/PortDiscovery.h"

class QComboBox;

Q_DECLARE_METATYPE(TComListData)

// The text a window shows for a port: its Description, with the words
// that are no names (a virtual port, a port known only as "serial" or as
// "Serial port") in the user's language. Names of adapters, drivers,
// network ports and device nodes are shown as they are.
QString PortText(const TComListData &Port);

// Replaces the items with the ports present, sorted; no item is chosen
// afterwards (current index -1). A port text too long for the closed list
// is cut in the middle there, so that the device node at its end stays in
// view; the whole text is the tooltip and shows in the open list.
void FillPortCombo(QComboBox *Combo);

// The text the closed list shows for its chosen item.
QString PortComboDisplayText(const QComboBox *Combo);

// The port of an item, none for an index outside the list.
std::optional<TComListData> PortComboItem(const QComboBox *Combo, int Index);
// The chosen port, none when nothing is chosen.
std::optional<TComListData> SelectedPort(const QComboBox *Combo);

enum class TPortReload {
    NoneChosen,  // nothing was chosen before the reload
    Kept,        // the chosen port is still there and chosen again
    Lost,        // the chosen port has gone; nothing is chosen now
};

// Refills the list and chooses again the item whose text equals the one
// chosen before (ignoring case). What to do with a lost port is the
// window's business.
TPortReload ReloadPortCombo(QComboBox *Combo);
