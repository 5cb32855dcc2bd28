// Every window once more in German, looking at every text a user can see
// (labels, buttons, list items, tab and column titles, tooltips, window
// titles, the boxes a first click without a port brings): no English word
// may be left where the German windows show words. Names stay as they are:
// the product, units, the register types and word orders (the command line
// takes them as they are), device nodes and adapters' own names.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextDocument>
#include <QTreeWidget>
#include <map>

#include "GuiSupport.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "app/AboutForm.h"
#include "app/Application.h"
#include "app/HistoryForm.h"
#include "app/MainForm.h"
#include "devsetup/DevSetupForm.h"
#include "fwupdate/FWUpdateForm.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"
#include "widgets/PortCombo.h"

namespace {

// English words the windows use (or used) that German writes otherwise.
// Words German shares (Port, Register, Sensor, Firmware, Update, Version,
// Bits, Status, Name, Start, Modbus, ...) are not listed.
const char *const kEnglishWords[] = {
    "about",       "address", "and",        "back",    "baud",   "browse",   "cancel",
    "close",       "connect", "connected",  "count",   "data",   "device",   "disconnect",
    "error",       "even",    "exit",       "file",    "finish", "first",    "found",
    "framing",     "from",    "help",       "least",   "load",   "most",     "next",
    "none",        "not",     "odd",        "open",    "order",  "parity",   "please",
    "progress",    "read",    "refresh",    "reload",  "result", "retries",  "scan",
    "scanned",     "select",  "selected",   "sensors", "serial", "settings", "setup",
    "significant", "stop",    "the",        "time",    "type",   "unknown",  "upload",
    "click",       "specify", "loaded",     "failed",  "sent",   "packets",  "validating",
    "updating",    "germany", "successful", "unable",  "value",  "virtual",  "warning",
    "with",        "word",    "write",
};

// Whole texts that are names: shown the same in every language.
bool IsName(const QString &Text) {
    static const QRegularExpression Names(QStringLiteral(
        R"(^(Veldra-Update|veldra-update|LSWF|MSWF|float|int|uint16|BCD|uint32|string|bit|)$)"));
    return Names.match(Text).hasMatch();
}

// The words of a text that are English, after taking out what is a name
// anywhere in a text: the product, paths and URLs, the adapters' names of
// this test's port list.
QStringList EnglishWordsIn(QString Text) {
    static const QSet<QString> English = [] {
        QSet<QString> S;
        for (const char *W : kEnglishWords) S.insert(QString::fromLatin1(W));
        return S;
    }();
    static const QRegularExpression NamesInside(QStringLiteral(
        R"(Veldra[- ]Update|veldra-\w+|Veldra Sensors|(?:/[\w.+-]+)+|\w+://\S+|FT232R USB UART|ftdi_sio|Bench line|<[^>]*>|&\w+;)"));
    Text.remove(NamesInside);
    Text.remove(QLatin1Char('&'));  // mnemonics
    QStringList Found;
    static const QRegularExpression Word(QStringLiteral(R"(\p{L}+)"));
    for (auto It = Word.globalMatch(Text); It.hasNext();) {
        const QString W = It.next().captured().toLower();
        if (English.contains(W)) Found << W;
    }
    return Found;
}

// Every text the window and its children show or tell.
void CollectTexts(QWidget *Window, std::map<QString, QString> &Texts) {
    auto Add = [&](const QString &Where, const QString &Text) {
        if (!Text.trimmed().isEmpty()) Texts.emplace(Text, Where);
    };
    QList<QWidget *> All = Window->findChildren<QWidget *>();
    All.prepend(Window);
    for (QWidget *W : All) {
        const QString Where = Window->objectName() + "/" + W->objectName();
        if (W->isWindow()) Add(Where + " (title)", W->windowTitle());
        Add(Where + " (tooltip)", W->toolTip());
        Add(Where + " (accessible)", W->accessibleName());
        if (auto *L = qobject_cast<QLabel *>(W)) {
            QString T = L->text();
            if (Qt::mightBeRichText(T)) {
                QTextDocument Doc;
                Doc.setHtml(T);
                T = Doc.toPlainText();
            }
            Add(Where, T);
        } else if (auto *B = qobject_cast<QAbstractButton *>(W)) {
            Add(Where, B->text());
        } else if (auto *C = qobject_cast<QComboBox *>(W)) {
            for (int I = 0; I < C->count(); ++I) {
                Add(Where + " (item)", C->itemText(I));
                Add(Where + " (item tooltip)", C->itemData(I, Qt::ToolTipRole).toString());
            }
        } else if (auto *E = qobject_cast<QLineEdit *>(W)) {
            Add(Where + " (placeholder)", E->placeholderText());
        } else if (auto *G = qobject_cast<QGroupBox *>(W)) {
            Add(Where, G->title());
        } else if (auto *T = qobject_cast<QTabWidget *>(W)) {
            for (int I = 0; I < T->count(); ++I) {
                Add(Where + " (tab)", T->tabText(I));
                Add(Where + " (tab tooltip)", T->tabToolTip(I));
            }
        } else if (auto *Tree = qobject_cast<QTreeWidget *>(W)) {
            const QTreeWidgetItem *H = Tree->headerItem();
            for (int I = 0; I < H->columnCount(); ++I) Add(Where + " (column)", H->text(I));
            for (int R = 0; R < Tree->topLevelItemCount(); ++R)
                for (int I = 0; I < Tree->columnCount(); ++I)
                    Add(Where + " (row)", Tree->topLevelItem(R)->text(I));
        }
    }
}

// German for the time of a test (LANG=de_DE.UTF-8, no LANGUAGE); the
// language of the run and its translation come back after.
class TGerman {
public:
    TGerman() : FLanguage(qgetenv("LANGUAGE")), FLang(qgetenv("LANG")) {
        qunsetenv("LANGUAGE");
        qputenv("LANG", "de_DE.UTF-8");
    }
    ~TGerman() {
        for (const auto &[Var, Old] : {std::pair{"LANGUAGE", FLanguage}, std::pair{"LANG", FLang}})
            Old.isNull() ? qunsetenv(Var) : qputenv(Var, Old);
        InstallTranslations();
    }

private:
    QByteArray FLanguage, FLang;
};

// The port list's words: exactly the description in English, German words
// in German, names untouched in both.
TEST(GermanWalk, PortTextsInEnglishAndGerman) {
    struct TRow {
        TComListData Port;
        const char *German;
    };
    const TRow Rows[] = {
        {{"/tmp/x/ttySIM", "Virtual port (/tmp/x/ttySIM)", TPortKind::Virtual, {}},
         "Virtueller Port (/tmp/x/ttySIM)"},
        {{"/dev/ttyS0", "serial (/dev/ttyS0)", TPortKind::Driver, "serial"},
         "Serieller Port (/dev/ttyS0)"},
        {{"/dev/ttyS0", "serial S/N 7 (/dev/ttyS0)", TPortKind::Driver, "serial"},
         "Serieller Port S/N 7 (/dev/ttyS0)"},
        {{"/dev/ttyS1", "Serial port (/dev/ttyS1)", TPortKind::Unnamed, "Serial port"},
         "Serieller Port (/dev/ttyS1)"},
        {{"/dev/ttyUSB1", "ftdi_sio (/dev/ttyUSB1)", TPortKind::Driver, "ftdi_sio"},
         "ftdi_sio (/dev/ttyUSB1)"},
        {{"/dev/ttyUSB0", "serial (/dev/ttyUSB0)", TPortKind::Named, "serial"},
         "serial (/dev/ttyUSB0)"},  // an adapter that calls itself so
        {{"rfc2217://h:1", "Serial port (rfc2217://h:1)", TPortKind::Network, "Serial port"},
         "Serial port (rfc2217://h:1)"},  // the settings file's own name
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Port.Description);
        EXPECT_EQ(PortText(R.Port), QString::fromStdString(R.Port.Description));
    }
    const TGerman German;
    ASSERT_EQ(InstallTranslations(), QStringLiteral("de_DE"));
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Port.Description);
        EXPECT_EQ(PortText(R.Port), QString::fromUtf8(R.German));
    }
}

TEST(GermanWalk, NoEnglishWordIsLeftInTheGermanWindows) {
    const TGerman German;
    ASSERT_EQ(InstallTranslations(), QStringLiteral("de_DE"));

    // A port of every kind a list shows; the one the boxes are asked
    // about is not there, so that the port paragraph shows too.
    TTempDir Dir;
    const std::string Gone = Dir.File("ttyGONE");
    // And a simulated line, for the texts a scan fills in.
    TSimProcess Line({"modbus", "--profiles"});
    ASSERT_TRUE(Line.Start());
    SetPortQuery([&](std::vector<TComListData> &P) {
        P.push_back(
            {Line.PtyPath(), "Virtual port (" + Line.PtyPath() + ")", TPortKind::Virtual, {}});
        P.push_back({Gone, "Virtual port (" + Gone + ")", TPortKind::Virtual, {}});
        P.push_back({"/dev/ttyS0", "serial (/dev/ttyS0)", TPortKind::Driver, "serial"});
        P.push_back({"/dev/ttyS1", "Serial port (/dev/ttyS1)", TPortKind::Unnamed, "Serial port"});
        P.push_back({"/dev/ttyUSB0", "FT232R USB UART S/N A5 (/dev/ttyUSB0)", TPortKind::Named,
                     "FT232R USB UART"});
        P.push_back({"/dev/ttyUSB1", "ftdi_sio (/dev/ttyUSB1)", TPortKind::Driver, "ftdi_sio"});
        P.push_back({"rfc2217://10.0.0.5:2001", "Bench line (rfc2217://10.0.0.5:2001)",
                     TPortKind::Network, "Bench line"});
    });

    std::map<QString, QString> Texts;  // text -> where it was seen
    {
        TMsgRecorder Msgs;
        TMainForm Main;
        Main.show();
        CollectTexts(&Main, Texts);

        TFWUpdateForm Wizard(Settings, &Main);
        Wizard.show();
        auto *Pages = Child<QStackedWidget>(&Wizard, "Notebook1");
        for (int I = 0; I < Pages->count(); ++I) {
            Pages->setCurrentIndex(I);
            QApplication::processEvents();
            CollectTexts(&Wizard, Texts);
        }
        Pages->setCurrentIndex(0);
        auto *WizardPort = Child<QComboBox>(&Wizard, "cbCOMPort");
        Child<QAbstractButton>(&Wizard, "btnConnect")->click();  // no port chosen
        for (int I = 0; I < WizardPort->count(); ++I)
            if (PortComboItem(WizardPort, I)->DeviceID == Gone) WizardPort->setCurrentIndex(I);
        emit WizardPort->activated(WizardPort->currentIndex());
        Child<QAbstractButton>(&Wizard, "btnConnect")->click();  // a port that is not there
        ASSERT_TRUE(WaitUntil([&] { return !Wizard.IsBusy() && Msgs.Shown.size() >= 2; }));

        TDevSetupForm Setup(Settings, &Main);
        Setup.show();
        auto *Tabs = Child<QTabWidget>(&Setup, "PageControl1");
        for (int I = 0; I < Tabs->count(); ++I) {
            Tabs->setCurrentIndex(I);
            QApplication::processEvents();
            CollectTexts(&Setup, Texts);
        }
        Tabs->setCurrentIndex(0);
        Child<QAbstractButton>(&Setup, "btnScan")->click();  // no port chosen
        // A scan of the simulated line: its rows and counts.
        auto *SetupPort = Child<QComboBox>(&Setup, "cbCOMPort");
        for (int I = 0; I < SetupPort->count(); ++I)
            if (PortComboItem(SetupPort, I)->DeviceID == Line.PtyPath())
                SetupPort->setCurrentIndex(I);
        emit SetupPort->activated(SetupPort->currentIndex());
        Child<QSpinBox>(&Setup, "edScanFirstA")->setValue(1);
        Child<QSpinBox>(&Setup, "edScanLastA")->setValue(6);
        Child<QAbstractButton>(&Setup, "btnScan")->click();
        ASSERT_TRUE(WaitUntil([&] { return !Setup.IsBusy(); }, 60000));
        auto *Rows = Child<QTreeWidget>(&Setup, "LVScan");
        EXPECT_GT(Rows->topLevelItemCount(), 0);
        CollectTexts(&Setup, Texts);

        // The History window over an empty records file (the records
        // themselves are English data, not window texts).
        {
            THistoryForm History(Settings, &Main, Dir.Write("updates.jsonl", ""));
            History.show();
            CollectTexts(&History, Texts);
            auto *Since = Child<QLineEdit>(&History, "edHistorySince");
            Since->setText(QStringLiteral("x"));
            CollectTexts(&History, Texts);
            Since->clear();
        }

        // The About box as the main window opens it (with the settings line).
        bool AboutSeen = false;
        OnModal([&](QWidget *Modal) {
            if (auto *About = qobject_cast<TAboutForm *>(Modal)) {
                AboutSeen = true;
                CollectTexts(About, Texts);
            }
            Modal->close();
        });
        Child<QAbstractButton>(&Main, "btnAbout")->click();
        EXPECT_TRUE(AboutSeen);
        EXPECT_EQ(Texts.count(QStringLiteral("Einstellungen: keine")), 1u);

        for (const TShownMsg &M : Msgs.Shown) {
            Texts.emplace(M.Title, QStringLiteral("box title"));
            Texts.emplace(M.Msg, QStringLiteral("box"));
        }
        EXPECT_GE(Msgs.Shown.size(), 3u);
    }
    SetPortQuery({});

    // The walk saw the port list in German, and the names as they are.
    for (const char *Expected : {"Serieller Port (/dev/ttyS0)", "Serieller Port (/dev/ttyS1)",
                                 "FT232R USB UART S/N A5 (/dev/ttyUSB0)", "ftdi_sio (/dev/ttyUSB1)",
                                 "Bench line (rfc2217://10.0.0.5:2001)"})
        EXPECT_EQ(Texts.count(QString::fromUtf8(Expected)), 1u) << Expected;
    EXPECT_EQ(Texts.count(QStringLiteral("Virtueller Port (%1)").arg(QString::fromStdString(Gone))),
              1u);

    int Checked = 0;
    for (const auto &[Text, Where] : Texts) {
        if (IsName(Text)) continue;
        ++Checked;
        const QStringList English = EnglishWordsIn(Text);
        EXPECT_TRUE(English.isEmpty())
            << Where.toStdString() << ": \"" << Text.toStdString()
            << "\" has English words: " << English.join(QStringLiteral(", ")).toStdString();
    }
    EXPECT_GT(Checked, 60);
}

}  // namespace
