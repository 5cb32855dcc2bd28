// Keyboard use of every window: Tab reaches every button, Enter on a focused
// button presses it, Enter in a field does not close a dialog, Escape closes
// a dialog when it is idle and never while an upload or a scan runs.
//
// Each failure names the window, the page and the control, and prints the
// Tab chain as found, so that the order can be judged as well.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "PackagingSupport.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "app/AboutForm.h"
#include "app/MainForm.h"
#include "devsetup/DevSetupForm.h"
#include "fwupdate/FWUpdateForm.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"
#include "widgets/MsgBox.h"

namespace {

std::string NameOf(const QWidget *W) {
    if (!W) return "(none)";
    const QString N = W->objectName();
    return N.isEmpty() ? std::string(W->metaObject()->className()) : N.toStdString();
}

// Serves the event loop until Done() holds or TimeoutMs has passed; a timer
// wakes the loop now and then, so that it blocks instead of spinning.
bool WaitUntil(const std::function<bool()> &Done, int TimeoutMs = 20000) {
    QTimer Tick;
    Tick.start(10);
    QElapsedTimer Clock;
    Clock.start();
    while (!Done()) {
        if (Clock.elapsed() > TimeoutMs) return false;
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Buttons of their own (not the arrows inside spin boxes, combo boxes,
// scroll bars, tab bars or lists) that the user can see and use now.
std::vector<QAbstractButton *> UsableButtons(QWidget *Window) {
    std::vector<QAbstractButton *> Result;
    for (QAbstractButton *B : Window->findChildren<QAbstractButton *>()) {
        if (!B->isVisibleTo(Window) || !B->isEnabled()) continue;
        bool Inner = false;
        for (QWidget *P = B->parentWidget(); P && P != Window; P = P->parentWidget())
            Inner |= qobject_cast<QTabBar *>(P) || qobject_cast<QAbstractSpinBox *>(P) ||
                     qobject_cast<QComboBox *>(P) || qobject_cast<QScrollBar *>(P) ||
                     qobject_cast<QAbstractItemView *>(P);
        if (!Inner) Result.push_back(B);
    }
    return Result;
}

void Activate(QWidget *Window) {
    Window->show();
    Window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(Window)) << NameOf(Window) << " never became active";
}

void Press(QWidget *Window, Qt::Key Key) {
    QWidget *Target = QApplication::focusWidget();
    QTest::keyClick(Target ? Target : Window, Key);
    QApplication::processEvents();
}

// Widgets that receive the focus, in order, when Tab is pressed from the
// focus the window has now, until the chain comes round again.
std::vector<QWidget *> TabChain(QWidget *Window) {
    std::vector<QWidget *> Chain;
    if (!QApplication::focusWidget()) Press(Window, Qt::Key_Tab);
    const int Limit = 4 * static_cast<int>(Window->findChildren<QWidget *>().size()) + 4;
    for (int i = 0; i < Limit && Window->isVisible(); ++i) {
        QWidget *F = QApplication::focusWidget();
        // Round once: the opening focus may lie outside the cycle.
        if (F && std::find(Chain.begin(), Chain.end(), F) != Chain.end() && F != Chain.back())
            break;
        if (F && (Chain.empty() || Chain.back() != F)) Chain.push_back(F);
        Press(Window, Qt::Key_Tab);
    }
    return Chain;
}

std::string ChainText(const std::vector<QWidget *> &Chain) {
    std::string S;
    for (QWidget *W : Chain) S += (S.empty() ? "" : " > ") + NameOf(W);
    return S.empty() ? "(nothing takes the focus)" : S;
}

// Tab from the opening focus must reach every usable button.
void ExpectTabReachesEveryButton(QWidget *Window, const std::string &Where) {
    SCOPED_TRACE(Where);
    const auto Chain = TabChain(Window);
    std::string Missing;
    for (QAbstractButton *B : UsableButtons(Window)) {
        if (std::find(Chain.begin(), Chain.end(), B) == Chain.end()) Missing += " " + NameOf(B);
    }
    EXPECT_EQ(Missing, "") << "not reached by Tab in " << Where
                           << "; Tab chain: " << ChainText(Chain);
    std::printf("[ chain    ] %s: %s\n", Where.c_str(), ChainText(Chain).c_str());
}

// Records which buttons of a window get clicked.
class TClickLog {
public:
    explicit TClickLog(QWidget *Window) {
        for (QAbstractButton *B : Window->findChildren<QAbstractButton *>())
            FConnections.push_back(QObject::connect(B, &QAbstractButton::clicked, B, [this, B] {
                Clicked += (Clicked.empty() ? "" : " ") + NameOf(B);
            }));
    }
    ~TClickLog() {
        for (auto &C : FConnections) QObject::disconnect(C);
    }
    std::string Clicked;

private:
    std::vector<QMetaObject::Connection> FConnections;
};

// Closes any modal window a button opened (the main window's tool windows).
class TModalCloser {
public:
    TModalCloser() {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (auto *D = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                Opened += (Opened.empty() ? "" : " ") + NameOf(D);
                D->reject();
            }
        });
        FTimer.start(20);
    }
    std::string Opened;

private:
    QTimer FTimer;
};

const char kSimPort[] = "Simulated sensor (pty)";

class KeyboardTest : public ::testing::Test {
public:
    void SetUp() override {
        SetMsgPresenter([this](TMsgKind, const QString &, const QString &Msg) {
            Messages.push_back(Msg.toStdString());
            return mrNo;
        });
        SetPortQuery([this](std::vector<TComListData> &P) {
            if (!SimPort.empty()) P.push_back({SimPort, kSimPort});
        });
        SetFirmwareFilePicker([this](QWidget *) { return QString::fromStdString(FirmwareFile); });
        Settings = new TSettings(Dir.Write("keys.ini", "[SENSORS]\n7=Probe A\n"));
    }

    void TearDown() override {
        Window.reset();
        delete Settings;
        Settings = nullptr;
        SetFirmwareFilePicker({});
        SetPortQuery({});
        SetMsgPresenter({});
        if (Sim) Sim->Stop();
    }

    // The main window creates the one Settings object itself.
    void OpenMain() {
        delete Settings;
        Settings = nullptr;
        Window = std::make_unique<TMainForm>();
        Activate(Window.get());
    }
    template <class T>
    T *Open() {
        if (!Settings) Settings = new TSettings(Dir.File("keys.ini"));
        T *W = nullptr;
        if constexpr (std::is_constructible_v<T, const TSettings *>)
            W = new T(Settings);  // a tool window, given the catalogue
        else
            W = new T;
        Window.reset(W);
        Activate(W);
        return W;
    }
    template <class T>
    T *Find(const char *Name) {
        T *W = Window->findChild<T *>(QString::fromLatin1(Name));
        EXPECT_NE(W, nullptr) << "no widget named " << Name;
        return W;
    }
    void ChooseSimPort() {
        auto *C = Find<QComboBox>("cbCOMPort");
        const int I = C->findText(QString::fromLatin1(kSimPort), Qt::MatchContains);
        ASSERT_GE(I, 0) << "simulated port not listed";
        C->setCurrentIndex(I);
        emit C->activated(I);
    }
    void StartSim(std::vector<std::string> Args) {
        Args.insert(Args.end(), {"--link", Dir.File("ttyKEYS")});
        Sim = std::make_unique<TSimProcess>(Args);
        ASSERT_TRUE(Sim->Start());
        SimPort = Dir.File("ttyKEYS");
    }

    TTempDir Dir;
    std::unique_ptr<QWidget> Window;
    std::unique_ptr<TSimProcess> Sim;
    std::string SimPort;
    std::string FirmwareFile;
    std::vector<std::string> Messages;

    void OpenMainWindow() { OpenMain(); }
    void OpenWizard() { Open<TFWUpdateForm>(); }
    void OpenSetupPage(int Page) {
        Open<TDevSetupForm>();
        Find<QTabWidget>("PageControl1")->setCurrentIndex(Page);
        QApplication::processEvents();
    }
    void OpenAbout() { Open<TAboutForm>(); }
    QWidget *Win() { return Window.get(); }
    std::vector<std::string> &Msgs() { return Messages; }

    // The windows in the states a user meets them without a sensor.
    struct TWindowCase {
        const char *Name;
        void (*Open)(KeyboardTest &);
    };
    static const std::vector<TWindowCase> &Windows() {
        static const std::vector<TWindowCase> Cases{
            {"main window", [](KeyboardTest &T) { T.OpenMainWindow(); }},
            {"firmware update wizard, page 1", [](KeyboardTest &T) { T.OpenWizard(); }},
            {"setup window, scan page", [](KeyboardTest &T) { T.OpenSetupPage(0); }},
            {"setup window, comm setup page", [](KeyboardTest &T) { T.OpenSetupPage(1); }},
            {"setup window, register page", [](KeyboardTest &T) { T.OpenSetupPage(2); }},
        };
        return Cases;
    }
};

}  // namespace

TEST_F(KeyboardTest, TabReachesEveryButton) {
    for (const auto &C : Windows()) {
        C.Open(*this);
        ExpectTabReachesEveryButton(Win(), C.Name);
        Window.reset();
    }
}

// Enter on a focused button presses that button, like Space does; it must
// not press another one (a dialog's default button) or nothing at all.
TEST_F(KeyboardTest, EnterPressesTheFocusedButton) {
    for (const auto &C : Windows()) {
        C.Open(*this);
        std::vector<std::string> Names;
        for (QAbstractButton *B : UsableButtons(Win()))
            if (B->focusPolicy() & Qt::TabFocus) Names.push_back(B->objectName().toStdString());
        Window.reset();
        for (const auto &Name : Names) {
            SCOPED_TRACE(std::string(C.Name) + ", " + Name);
            C.Open(*this);
            auto *B = Find<QAbstractButton>(Name.c_str());
            if (!B) continue;
            B->setFocus(Qt::TabFocusReason);
            QApplication::processEvents();
            TModalCloser Closer;
            std::string Clicked;
            {
                TClickLog Log(Win());
                Press(Win(), Qt::Key_Return);
                WaitUntil([] { return !QApplication::activeModalWidget(); }, 5000);
                Clicked = Log.Clicked;
            }
            EXPECT_EQ(Clicked, Name) << "Enter on " << Name << " in the " << C.Name << " pressed "
                                     << (Clicked.empty() ? "nothing" : Clicked);
            Window.reset();
            Msgs().clear();
        }
    }
}

// Enter in a list, number or text field of a dialog must not close it (a
// dialog whose default button is Close loses the user's input that way).
TEST_F(KeyboardTest, EnterInAFieldKeepsTheDialogOpen) {
    for (const auto &C : Windows()) {
        C.Open(*this);
        if (!qobject_cast<QDialog *>(Win())) {
            Window.reset();
            continue;
        }
        std::vector<std::string> Fields;
        for (QWidget *W : TabChain(Win()))
            if (!qobject_cast<QAbstractButton *>(W) && !W->objectName().isEmpty())
                Fields.push_back(W->objectName().toStdString());
        Window.reset();
        for (const auto &Field : Fields) {
            SCOPED_TRACE(std::string(C.Name) + ", " + Field);
            C.Open(*this);
            auto *F = Find<QWidget>(Field.c_str());
            if (!F) continue;
            F->setFocus(Qt::TabFocusReason);
            QApplication::processEvents();
            TClickLog Log(Win());
            Press(Win(), Qt::Key_Return);
            EXPECT_TRUE(Win()->isVisible()) << "Enter in " << Field << " closed the " << C.Name
                                            << " (pressed: " << Log.Clicked << ")";
            std::printf("[ enter    ] %s, %s: presses %s\n", C.Name, Field.c_str(),
                        Log.Clicked.empty() ? "nothing" : Log.Clicked.c_str());
            Window.reset();
            Msgs().clear();
        }
    }
}

// Escape closes an idle dialog, as Close does; the main window is no
// dialog: Escape leaves it alone (closing it asks first).
TEST_F(KeyboardTest, EscapeClosesAnIdleDialogAndNotTheMainWindow) {
    struct TCase {
        const char *Name;
        std::function<void()> Open;
        bool Closes;
    };
    const TCase Cases[] = {
        {"main window", [this] { OpenMainWindow(); }, false},
        {"About box", [this] { OpenAbout(); }, true},
        {"firmware update wizard", [this] { OpenWizard(); }, true},
        {"setup window", [this] { OpenSetupPage(0); }, true},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Name);
        C.Open();
        Press(Win(), Qt::Key_Escape);
        EXPECT_EQ(!Win()->isVisible(), C.Closes) << "Escape in the " << C.Name;
        if (!C.Closes) {
            EXPECT_TRUE(Msgs().empty())
                << "Escape in the " << C.Name << " asked: " << Msgs().front();
        }
        Window.reset();
        Msgs().clear();
    }
}

// Through a whole update: Tab on every page, Escape refused while the
// upload runs, and Escape closes the wizard on the result page.
TEST_F(KeyboardTest, WizardPagesAndEscapeDuringAnUpload) {
    StartSim({"bootloader", "--sensor-id", "7", "--version", "1.0", "--pace", "--quiet"});
    FirmwareFile = Dir.Write("fw.cod", MakeFirmwareFile(7, 2, 0, 2400));
    auto *Form = Open<TFWUpdateForm>();
    ChooseSimPort();
    Find<QPushButton>("btnConnect")->click();
    ASSERT_TRUE(WaitUntil([&] { return !Form->IsBusy(); }));
    ASSERT_TRUE(Form->IsConnected()) << (Msgs().empty() ? "" : Msgs().back());
    ExpectTabReachesEveryButton(Form, "firmware update wizard, page 1, connected");

    Find<QPushButton>("btnNext")->click();
    ASSERT_EQ(Form->PageIndex(), 1);
    ExpectTabReachesEveryButton(Form, "firmware update wizard, page 2");
    Find<QPushButton>("btnLoadFile")->click();
    ASSERT_TRUE(Form->IsLoaded()) << (Msgs().empty() ? "" : Msgs().back());
    ExpectTabReachesEveryButton(Form, "firmware update wizard, page 2, file loaded");

    Find<QPushButton>("btnNext")->click();
    ASSERT_EQ(Form->PageIndex(), 2);
    ExpectTabReachesEveryButton(Form, "firmware update wizard, page 3");

    // Escape while the upload runs on its worker thread.
    bool SentDuringUpload = false;
    QTimer Escaper;
    QObject::connect(&Escaper, &QTimer::timeout, [&] {
        if (Form->IsUpdating() && !SentDuringUpload) {
            SentDuringUpload = true;
            Press(Form, Qt::Key_Escape);
        }
    });
    Escaper.start(20);
    QTimer::singleShot(0, Find<QPushButton>("btnNext"), &QPushButton::click);
    ASSERT_TRUE(WaitUntil([&] { return Form->IsFinished() || Form->PageIndex() == 3; }, 60000));
    Escaper.stop();
    EXPECT_TRUE(SentDuringUpload) << "the upload ended before Escape could be pressed";
    EXPECT_TRUE(Form->isVisible()) << "Escape closed the wizard during the upload";

    ASSERT_EQ(Form->PageIndex(), 3);
    ExpectTabReachesEveryButton(Form, "firmware update wizard, page 4 (result)");
    Press(Form, Qt::Key_Escape);
    EXPECT_FALSE(Form->isVisible()) << "Escape on the result page";
}

TEST_F(KeyboardTest, SetupDuringAScanKeepsTheWindowAndReachesStop) {
    StartSim({"modbus", "--profiles", "--delay-ms", "20"});
    auto *Form = Open<TDevSetupForm>();
    ChooseSimPort();
    Find<QSpinBox>("edTimeout")->setValue(100);
    Find<QSpinBox>("edScanFirstA")->setValue(1);
    Find<QSpinBox>("edScanLastA")->setValue(12);
    auto *Scan = Find<QPushButton>("btnScan");

    bool SentDuringScan = false;
    QTimer Escaper;
    QObject::connect(&Escaper, &QTimer::timeout, [&] {
        if (!Scan->isEnabled() && !SentDuringScan) {
            SentDuringScan = true;
            Press(Form, Qt::Key_Escape);
            // The Stop button is what the keyboard needs now.
            ExpectTabReachesEveryButton(Form, "setup window, during a scan");
        }
    });
    Escaper.start(20);
    QTimer::singleShot(0, Scan, &QPushButton::click);
    ASSERT_TRUE(WaitUntil([&] { return SentDuringScan && Scan->isEnabled(); }, 60000));
    Escaper.stop();
    EXPECT_TRUE(Form->isVisible()) << "Escape closed the setup window during a scan";
    Press(Form, Qt::Key_Escape);
    EXPECT_FALSE(Form->isVisible()) << "Escape after the scan";
}
