#include "app/AboutForm.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include "ui_AboutForm.h"
#include "widgets/WindowHelpers.h"

TAboutForm::TAboutForm(QWidget *Owner) : QDialog(Owner), ui(std::make_unique<Ui::AboutForm>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(487, 224);
    ApplyWindowFont(this);
    EnableEnterOnButtons(this);

    QFont Name = font();
    Name.setBold(true);
    Name.setPixelSize(27);
    ui->lblName->setFont(Name);

    for (QLabel *Link : {ui->lblEMail, ui->lblURL}) {
        QFont F = Link->font();
        F.setUnderline(true);
        Link->setFont(F);
        QPalette P = Link->palette();
        P.setColor(QPalette::WindowText, QColor(45, 150, 255));
        Link->setPalette(P);
        Link->setCursor(Qt::PointingHandCursor);
        Link->installEventFilter(this);
    }
    for (QWidget *W : {static_cast<QWidget *>(ui->Panel1), static_cast<QWidget *>(ui->imgICO),
                       static_cast<QWidget *>(ui->lblName), static_cast<QWidget *>(ui->lblVersion),
                       static_cast<QWidget *>(ui->Label2), static_cast<QWidget *>(ui->Label9),
                       static_cast<QWidget *>(ui->Label10), static_cast<QWidget *>(ui->Label11),
                       static_cast<QWidget *>(ui->Label16), static_cast<QWidget *>(ui->Label6),
                       static_cast<QWidget *>(ui->lblSettings)})
        W->installEventFilter(this);
    // For the keyboard and screen readers: a button that says how to leave.
    connect(ui->btnClose, &QPushButton::clicked, this, &TAboutForm::FormClick);
    ui->btnClose->setFocus();
}

TAboutForm::~TAboutForm() = default;

void TAboutForm::SetIdentity(const QString &Name, const QString &Version, const QIcon &Icon) {
    ui->lblName->setText(Name);
    ui->lblVersion->setText(Version);
    ui->imgICO->setPixmap(Icon.pixmap(32, 32));
}

void TAboutForm::SetSettingsFile(const QString &Source, bool Problem) {
    const QString Text = tr("Settings: %1").arg(Source);
    QPalette P = ui->lblSettings->palette();
    P.setColor(QPalette::WindowText,
               Problem ? QColor(200, 0, 0) : palette().color(QPalette::WindowText));
    ui->lblSettings->setPalette(P);
    ui->lblSettings->setText(
        ui->lblSettings->fontMetrics().elidedText(Text, Qt::ElideMiddle, ui->lblSettings->width()));
    ui->lblSettings->setToolTip(Text);
}

void TAboutForm::FormClick() {
    close();
}

void TAboutForm::lblEMailClick() {
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + ui->lblEMail->text()));
}

void TAboutForm::lblURLClick() {
    QDesktopServices::openUrl(QUrl(ui->lblURL->text()));
}

void TAboutForm::keyPressEvent(QKeyEvent *Event) {
    switch (Event->key()) {
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_Control:
        case Qt::Key_Meta:
        case Qt::Key_Shift:
            // Only the start of a combination: Alt+C is the Close button's.
            Event->ignore();
            return;
        default:
            break;
    }
    Event->accept();
    FormClick();
}

void TAboutForm::mouseReleaseEvent(QMouseEvent *Event) {
    if (Event->button() == Qt::LeftButton) FormClick();
}

bool TAboutForm::eventFilter(QObject *Watched, QEvent *Event) {
    if (Event->type() != QEvent::MouseButtonRelease ||
        static_cast<QMouseEvent *>(Event)->button() != Qt::LeftButton)
        return QDialog::eventFilter(Watched, Event);
    if (Watched == ui->lblEMail)
        lblEMailClick();
    else if (Watched == ui->lblURL)
        lblURLClick();
    else
        FormClick();
    return true;
}
