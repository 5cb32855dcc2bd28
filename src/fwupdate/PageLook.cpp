#include "fwupdate/PageLook.h"

#include <QLabel>
#include <QPalette>
#include <QString>
#include <QWidget>

void MakeWhite(QWidget *W) {
    W->setAutoFillBackground(true);
    QPalette P = W->palette();
    P.setColor(QPalette::Window, Qt::white);
    W->setPalette(P);
}

void SetColoured(QLabel *Label, const QString &Text, const QColor &Colour) {
    QPalette P = Label->palette();
    P.setColor(QPalette::WindowText, Colour);
    Label->setPalette(P);
    Label->setText(Text);
}
