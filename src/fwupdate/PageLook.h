#pragma once
// The look the wizard's pages share: white instruction bands and status
// texts in green or red.

#include <QColor>

class QLabel;
class QString;
class QWidget;

inline const QColor kPageGreen{0, 128, 0};
inline const QColor kPageRed{255, 0, 0};

// Fills the widget's background with white.
void MakeWhite(QWidget *W);
// Shows Text in Colour.
void SetColoured(QLabel *Label, const QString &Text, const QColor &Colour);
