// The windows in the user's language: German under a German locale, the
// exact English texts under C, and a German translation for every text.

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QXmlStreamReader>
#include <array>
#include <map>
#include <optional>

#include "GuiSupport.h"
#include "app/Application.h"
#include "app/MainForm.h"
#include "devsetup/DevSetupForm.h"
#include "fwupdate/FWUpdateForm.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"

namespace {

using TEnvMap = std::map<std::string, std::string>;

const std::array<const char *, 4> kLocaleVars{"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"};

// Sets the locale variables for one case and puts the old ones back (and
// the translation that goes with them) when it goes.
class TLocaleEnv {
public:
    explicit TLocaleEnv(const TEnvMap &Values) {
        for (const char *Var : kLocaleVars) {
            if (qEnvironmentVariableIsSet(Var)) FOld[Var] = qgetenv(Var);
            qunsetenv(Var);
        }
        for (const auto &[Var, Value] : Values)
            qputenv(Var.c_str(), QByteArray::fromStdString(Value));
    }
    ~TLocaleEnv() {
        for (const char *Var : kLocaleVars) {
            qunsetenv(Var);
            if (auto It = FOld.find(Var); It != FOld.end()) qputenv(Var, It->second);
        }
        InstallTranslations();
    }

private:
    std::map<std::string, QByteArray> FOld;
};

TEST(Translation, LanguageFollowsTheLocaleAsGettextDoes) {
    struct TRow {
        TEnvMap Env;
        QStringList Languages;
    };
    const TRow Rows[] = {
        {{{"LANG", "de_DE.UTF-8"}}, {"de_DE"}},
        {{{"LANG", "de_DE.UTF-8"}, {"LANGUAGE", "C"}}, {}},
        {{{"LANG", "C"}}, {}},
        {{{"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}},
         {}},  // a C locale is English whatever LANGUAGE says
        {{{"LANG", "POSIX"}}, {}},
        {{}, {}},
        {{{"LANG", "en_GB.UTF-8"}}, {}},
        {{{"LANG", "de_DE.UTF-8"}, {"LANGUAGE", "en:de"}}, {}},  // English first: English
        {{{"LANG", "fr_FR.UTF-8"}, {"LANGUAGE", "fr:de"}}, {"fr", "de", "fr_FR"}},
        {{{"LANG", "C"}, {"LC_ALL", "de_AT.UTF-8@euro"}}, {"de_AT"}},
        {{{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "C"}}, {}},
    };
    for (const TRow &R : Rows) {
        std::string Trace;
        for (const auto &[K, V] : R.Env) Trace += K + "=" + V + " ";
        SCOPED_TRACE(Trace);
        TLocaleEnv Env(R.Env);
        EXPECT_EQ(UiLanguages(), R.Languages);
    }
}

// A few texts of each window, in English and in German.
struct TTexts {
    QString MainExit, MainSetup;
    QString WizardTitle, Connect, Next, SensorID, NoPort;
    QString SetupTitle, ScanTab, Parity, Found, Stop;
    QString ErrorCaption, Yes;
    TParityBits PortParity = prNone;
};

// Reads the texts; with a prefix, also saves pictures of the windows (to
// look over a translation's fit).
TTexts ReadTexts(const QString &ShotPrefix = QString()) {
    auto Shot = [&](QWidget *W, const char *Name) {
        if (ShotPrefix.isEmpty()) return;
        W->show();
        QApplication::processEvents();
        SaveScreenshot(W, ShotPrefix + QString::fromLatin1(Name));
    };
    TTexts T;
    TMsgRecorder Msgs;
    TMainForm Main;
    T.MainExit = Plain(Child<QPushButton>(&Main, "btnExit")->text());
    T.MainSetup = Plain(Child<QPushButton>(&Main, "btnSetup")->text());
    Shot(&Main, "main-window");
    {
        TFWUpdateForm Wizard(Settings, &Main);
        T.WizardTitle = Wizard.windowTitle();
        T.Connect = Plain(Child<QPushButton>(&Wizard, "btnConnect")->text());
        T.Next = Plain(Child<QPushButton>(&Wizard, "btnNext")->text());
        T.SensorID = Child<QLabel>(&Wizard, "lblSensorID")->text();
        Shot(&Wizard, "wizard-1-connect");
        auto *Pages = Child<QStackedWidget>(&Wizard, "Notebook1");
        const char *PageShots[] = {"wizard-2-file", "wizard-3-upload", "wizard-4-result"};
        for (int I = 1; I < 4 && !ShotPrefix.isEmpty(); ++I) {
            Pages->setCurrentIndex(I);
            Shot(&Wizard, PageShots[I - 1]);
        }
        Pages->setCurrentIndex(0);
        Child<QPushButton>(&Wizard, "btnConnect")->click();  // no port chosen
        if (!Msgs.Shown.empty()) T.NoPort = Msgs.Shown.front().Msg;
    }
    {
        TDevSetupForm Setup(Settings, &Main);
        T.SetupTitle = Setup.windowTitle();
        T.ScanTab = Child<QTabWidget>(&Setup, "PageControl1")->tabText(0);
        T.Parity = Child<QComboBox>(&Setup, "cbParity")->currentText();
        T.Found = Child<QLabel>(&Setup, "lblFound")->text();
        T.Stop = Plain(Child<QAbstractButton>(&Setup, "btnStopScan")->text());
        T.PortParity = Setup.GetPortParams().ParityBits;
        auto *Tabs = Child<QTabWidget>(&Setup, "PageControl1");
        const char *TabShots[] = {"devsetup-scan", "devsetup-comm", "devsetup-regs"};
        for (int I = 0; I < 3 && !ShotPrefix.isEmpty(); ++I) {
            Tabs->setCurrentIndex(I);
            Shot(&Setup, TabShots[I]);
        }
    }
    T.ErrorCaption = BuildMsgBox(TMsgKind::Error, AppTitle(), QStringLiteral("x"))->windowTitle();
    auto Ask = BuildMsgBox(TMsgKind::YesNo, AppTitle(),
                           QCoreApplication::translate(
                               "TJobText",
                               "The firmware version selected is older than the sensor version. "
                               "Do you want to proceed with the update?"));
    Shot(Ask.get(), "question-box");
    T.Yes = Ask->button(QMessageBox::Yes)->text();
    return T;
}

void ExpectTexts(const TTexts &T, const std::array<const char *, 14> &E) {
    const QString Got[] = {T.MainExit, T.MainSetup, T.WizardTitle,  T.Connect, T.Next,
                           T.SensorID, T.NoPort,    T.SetupTitle,   T.ScanTab, T.Parity,
                           T.Found,    T.Stop,      T.ErrorCaption, T.Yes};
    for (size_t I = 0; I < E.size(); ++I)
        EXPECT_EQ(Got[I], QString::fromUtf8(E[I])) << "text " << I;
    // The port gets even parity whatever language the list shows.
    EXPECT_EQ(T.PortParity, prEven);
}

TEST(Translation, WindowsSpeakGermanUnderGermanAndExactEnglishUnderC) {
    SetPortQuery([](std::vector<TComListData> &) {});
    {
        TLocaleEnv Env(TEnvMap{{"LANG", "de_DE.UTF-8"}});
        EXPECT_EQ(InstallTranslations(), QStringLiteral("de_DE"));
        ExpectTexts(ReadTexts(QStringLiteral("de-")),
                    {"Beenden", "Einrichten", "Firmware aktualisieren", "Verbinden", "Weiter >",
                     "k. A.", "Kein COM-Port ausgewählt", "Sensor-Einrichtung", "Sensorsuche",
                     "Gerade", "Geprüft: 0, gefunden: 0", "Stopp", "Fehler", "&Ja"});
    }
    for (const char *English : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(English);
        TLocaleEnv Env(TEnvMap{{"LANG", English}});
        EXPECT_EQ(InstallTranslations(), QString());
        ExpectTexts(ReadTexts(), {"Exit", "Setup", "Update firmware", "Connect", "Next >", "N/A",
                                  "COM port not selected", "Setup", "Scan for sensors", "Even",
                                  "Scanned: 0, found: 0", "Stop", "Error", "&Yes"});
    }
    {
        TLocaleEnv Env(TEnvMap{{"LANG", "de_DE.UTF-8"}, {"LANGUAGE", "C"}});
        EXPECT_EQ(InstallTranslations(), QString());
    }
    SetPortQuery({});
}

// Every text of the windows has a finished German translation that keeps
// the placeholders and the accelerator of its source.
TEST(Translation, GermanIsComplete) {
    QFile File(QStringLiteral(VELDRA_SOURCE_DIR "/translations/veldra-update_de.ts"));
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    QXmlStreamReader Xml(&File);
    int Messages = 0;
    QString Source;
    while (Xml.readNext() != QXmlStreamReader::Invalid && !Xml.atEnd()) {
        if (!Xml.isStartElement()) continue;
        if (Xml.name() == QLatin1String("source")) {
            Source = Xml.readElementText();
        } else if (Xml.name() == QLatin1String("translation")) {
            ++Messages;
            const QString Type = Xml.attributes().value(QLatin1String("type")).toString();
            const QString Text = Xml.readElementText();
            SCOPED_TRACE(Source.toStdString());
            EXPECT_TRUE(Type.isEmpty()) << Type.toStdString();
            EXPECT_FALSE(Text.isEmpty());
            for (const QString &Mark :
                 {QStringLiteral("%1"), QStringLiteral("%2"), QStringLiteral("&")})
                EXPECT_EQ(Source.contains(Mark), Text.contains(Mark)) << Mark.toStdString();
        }
    }
    EXPECT_FALSE(Xml.hasError()) << int(Xml.error()) << " line " << Xml.lineNumber() << ": "
                                 << Xml.errorString().toStdString();
    EXPECT_GT(Messages, 90);
}

}  // namespace
