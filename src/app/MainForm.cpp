#include "app/MainForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QPainter>
#include <cstdio>
#include <cstring>

#include "app/AboutForm.h"
#include "app/HistoryForm.h"
#include "app/SingleInstance.h"
#include "app/VersionInfo.h"
#include "devsetup/DevSetupForm.h"
#include "fwupdate/FWUpdateForm.h"
#include "fwupdate/StationForm.h"
#include "jobs/PortsJob.h"
#include "jobs/UpdateRecord.h"
#include "settings/Settings.h"
#include "ui_MainForm.h"
#include "widgets/ErrorBox.h"
#include "widgets/MsgBox.h"
#include "widgets/SettingsLocation.h"
#include "widgets/WindowHelpers.h"

QString MainCaption() {
    TFileVersionInfo Info;
    ReadFileVersionInfo(QCoreApplication::applicationFilePath(), Info);
    return QStringLiteral("%1, v%2").arg(AppTitle(), Info.FileVersion);
}

// Rendered from src/widgets/resources/banner.svg at build time.
static QPixmap Banner() {
    return QPixmap(QStringLiteral(":/app/banner.png"));
}

TMainForm::TMainForm(QWidget *Parent) : QWidget(Parent), ui(std::make_unique<Ui::MainForm>()) {
    InitWidgetResources();
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(491, 289);
    CentreOnScreen(this);
    ApplyWindowFont(this);
    EnableEnterOnButtons(this);
    setWindowIcon(AppIcon());
    QFont Big = ui->Label1->font();
    Big.setPixelSize(19);
    ui->Label1->setFont(Big);
    ui->Label3->setFont(Big);
    ui->Image1->setPixmap(Banner());

    connect(ui->btnFWUpdate, &QPushButton::clicked, this, &TMainForm::btnFWUpdateClick);
    connect(ui->btnSetup, &QPushButton::clicked, this, &TMainForm::btnSetupClick);
    connect(ui->btnStation, &QPushButton::clicked, this, &TMainForm::btnStationClick);
    connect(ui->btnAbout, &QPushButton::clicked, this, &TMainForm::btnAboutClick);
    connect(ui->btnHistory, &QPushButton::clicked, this, &TMainForm::btnHistoryClick);
    connect(ui->btnExit, &QPushButton::clicked, this, &TMainForm::btnExitClick);

    SetInstanceNotify([this] { InstanceNotify(); });
    setWindowTitle(MainCaption());
    for (QWidget *Panel :
         {static_cast<QWidget *>(ui->pnlTop), static_cast<QWidget *>(ui->pnlUpdFW),
          static_cast<QWidget *>(ui->pnlSetup), static_cast<QWidget *>(ui->pnlBottom)})
        SetRoundRegion(Panel);
    // Last, after the window's own set-up. A settings file that exists but
    // cannot be read must not leave the program without settings: the
    // defaults and an empty catalogue stand in.
    try {
        Settings = new TSettings(QFile::encodeName(LocateSettingsFile()).toStdString());
    } catch (const std::exception &) {
        Settings = new TSettings(std::string());
    }
    // Entries of [PORTS] that cannot be opened are not listed: said once,
    // on stderr.
    for (const std::string &Warning : UseNetworkPorts(Settings))
        std::fprintf(stderr, "veldra-update: %s\n", Warning.c_str());
    // A file that exists but could not be read is no silent matter: the
    // sensor names and update limits are gone (the About box says so too).
    if (Settings->ReadFailed())
        std::fprintf(stderr, "Warning: %s\n", SettingsWarningText(*Settings).c_str());
}

QString SettingsSourceForWindow(const TSettings &S, bool *Problem) {
    if (Problem) *Problem = S.ReadFailed();
    const QString File = QFile::decodeName(S.FileName().c_str());
    if (!S.ReadFailed())
        return S.FileName().empty() ? TMainForm::tr("none", "no settings file") : File;
    QString Why;
    switch (S.ReadError()) {
        case TSettings::TReadError::System:
            Why = QString::fromLocal8Bit(std::strerror(S.ReadErrno()));
            break;
        case TSettings::TReadError::Folder:
            Why = TMainForm::tr("a folder, not a file");
            break;
        case TSettings::TReadError::NotRegular:
            Why = TMainForm::tr("not a regular file");
            break;
        case TSettings::TReadError::TooBig:
        case TSettings::TReadError::None:
            Why = TMainForm::tr("larger than %1 MiB").arg(CMaxSettingsFileMiB);
            break;
    }
    return TMainForm::tr("%1 (could not be read: %2; defaults used)").arg(File, Why);
}

TMainForm::~TMainForm() {
    SetInstanceNotify(nullptr);
    UseNetworkPorts(nullptr);
    delete Settings;
    Settings = nullptr;
}

void TMainForm::closeEvent(QCloseEvent *Event) {
    bool CanClose = true;
    FormCloseQuery(CanClose);
    if (CanClose)
        Event->accept();
    else
        Event->ignore();
}

void TMainForm::FormCloseQuery(bool &CanClose) {
    CanClose = AskYesNo(AppTitle(), tr("Are you sure you want to exit?")) == mrYes;
}

void TMainForm::btnExitClick() {
    close();
}

void TMainForm::InstanceNotify() {
    BringInstanceToFront(this);
}

void TMainForm::ShowTool(std::unique_ptr<QDialog> Window) {
    // Freed when the modal loop ends, also when showing it raised an error.
    struct TReset {
        QDialog *&Slot;
        ~TReset() { Slot = nullptr; }
    } Reset{FToolWindow};
    FToolWindow = Window.get();
    Window->exec();
}

void TMainForm::btnFWUpdateClick() {
    RunGuarded([this] { ShowTool(std::make_unique<TFWUpdateForm>(Settings, this)); });
}

void TMainForm::btnSetupClick() {
    RunGuarded([this] { ShowTool(std::make_unique<TDevSetupForm>(Settings, this)); });
}

void TMainForm::btnStationClick() {
    RunGuarded([this] {
        ShowTool(std::make_unique<TStationForm>(
            Settings, this, Settings ? RecordsPath(*Settings) : DefaultRecordsPath()));
    });
}

void TMainForm::btnHistoryClick() {
    RunGuarded([this] { ShowTool(std::make_unique<THistoryForm>(Settings, this)); });
}

void TMainForm::btnAboutClick() {
    RunGuarded([this] {
        auto About = std::make_unique<TAboutForm>(this);
        TFileVersionInfo Info;
        ReadFileVersionInfo(QCoreApplication::applicationFilePath(), Info);
        About->SetIdentity(AppTitle(), QStringLiteral("v") + Info.FileVersion, AppIcon());
        if (Settings) {
            bool Problem = false;
            const QString Source = SettingsSourceForWindow(*Settings, &Problem);
            About->SetSettingsFile(Source, Problem);
        }
        ShowTool(std::move(About));
    });
}
