// Every window by keyboard alone, in English and in German: each button and
// each label of an input has a mnemonic of its own within the window (a page
// of the wizard or of the setup window together with the window's common
// controls), Alt+letter presses the button or moves to the input, buttons
// without a caption have a name and a tool tip, and Tab visits every enabled
// control in reading order.

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "GuiSupport.h"
#include "app/AboutForm.h"
#include "app/Application.h"
#include "app/HistoryForm.h"
#include "app/MainForm.h"
#include "devsetup/DevSetupForm.h"
#include "fwupdate/FWUpdateForm.h"
#include "fwupdate/StationForm.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"

namespace {

// The windows in German for as long as it lives; English again afterwards.
class TGerman {
public:
    TGerman() {
        for (const char *Var : {"LC_ALL", "LC_MESSAGES", "LANGUAGE", "LANG"}) {
            if (qEnvironmentVariableIsSet(Var)) FOld[Var] = qgetenv(Var);
            qunsetenv(Var);
        }
        qputenv("LANG", "de_DE.UTF-8");
        EXPECT_EQ(InstallTranslations(), QStringLiteral("de_DE"));
    }
    ~TGerman() {
        qunsetenv("LANG");
        for (const auto &[Var, Value] : FOld) qputenv(Var.c_str(), Value);
        InstallTranslations();
    }

private:
    std::map<std::string, QByteArray> FOld;
};

QString NameOf(const QWidget *W) {
    return W->objectName().isEmpty() ? QString::fromLatin1(W->metaObject()->className())
                                     : W->objectName();
}

// Shown with the window when the window is: not on a page of a stacked
// widget (the wizard's pages, the setup window's tabs) other than the
// current one.
bool InView(QWidget *W, QWidget *Window) {
    for (QWidget *Child = W, *P = W->parentWidget(); P && Child != Window;
         Child = P, P = P->parentWidget()) {
        auto *Stack = qobject_cast<QStackedWidget *>(P);
        if (Stack && Stack->currentWidget() != Child) return false;
    }
    return true;
}

// Part of a compound control (the edit of a spin box, the arrows of a tab
// bar): it belongs to that control.
bool InsideCompound(QWidget *W, QWidget *Window) {
    for (QWidget *P = W->parentWidget(); P && P != Window; P = P->parentWidget())
        if (qobject_cast<QAbstractSpinBox *>(P) || qobject_cast<QComboBox *>(P) ||
            qobject_cast<QTabBar *>(P))
            return true;
    return false;
}

// The letter after the single '&' of Text (none: 0), and how many there are.
std::pair<QChar, int> Mnemonic(const QString &Text) {
    QChar Key;
    int Count = 0;
    for (qsizetype I = 0; I + 1 < Text.size(); ++I) {
        if (Text[I] != QLatin1Char('&')) continue;
        if (Text[I + 1] == QLatin1Char('&')) {
            ++I;
            continue;
        }
        Key = Text[I + 1].toUpper();
        ++Count;
    }
    return {Key, Count};
}

// A widget with a mnemonic: a button with a caption or a label with a buddy.
struct TCarrier {
    QWidget *W;
    QString Text;
    QWidget *Target;  // what the letter reaches: the button or the buddy
};

std::vector<TCarrier> Carriers(QWidget *Window) {
    std::vector<TCarrier> Out;
    for (QWidget *W : Window->findChildren<QWidget *>()) {
        if (!InView(W, Window) || InsideCompound(W, Window)) continue;
        if (auto *B = qobject_cast<QAbstractButton *>(W); B && !B->text().isEmpty())
            Out.push_back({B, B->text(), B});
        else if (auto *L = qobject_cast<QLabel *>(W); L && L->buddy())
            Out.push_back({L, L->text(), L->buddy()});
    }
    return Out;
}

// What Tab moves between: the focus proxies stand for their controls.
QWidget *Control(QWidget *W, QWidget *Window) {
    for (QWidget *P = W; P && P != Window; P = P->parentWidget())
        if (qobject_cast<QAbstractSpinBox *>(P) || qobject_cast<QComboBox *>(P)) return P;
    return W;
}

std::vector<QWidget *> TabStops(QWidget *Window) {
    std::vector<QWidget *> Out;
    for (QWidget *W : Window->findChildren<QWidget *>()) {
        if (!InView(W, Window) || InsideCompound(W, Window) || W->focusProxy()) continue;
        if (W->isVisible() && W->isEnabled() && (W->focusPolicy() & Qt::TabFocus)) Out.push_back(W);
    }
    return Out;
}

void Activate(QWidget *Window) {
    Window->show();
    Window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(Window));
    // Letters reach a window once the application has it as the active one.
    EXPECT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == Window; }, 5000));
}

// The mnemonics of one view of a window: present, unique, and each one
// reaching its widget.
void CheckMnemonics(QWidget *Window, const QString &View) {
    SCOPED_TRACE(View.toStdString());
    std::map<QChar, QStringList> ByKey;
    const std::vector<TCarrier> All = Carriers(Window);
    EXPECT_FALSE(All.empty());
    for (const TCarrier &C : All) {
        const auto [Key, Count] = Mnemonic(C.Text);
        EXPECT_EQ(Count, 1) << NameOf(C.W).toStdString() << " \"" << C.Text.toStdString()
                            << "\" has no single mnemonic";
        if (Count == 1) ByKey[Key] << NameOf(C.W) + QStringLiteral(" \"") + C.Text + '"';
    }
    for (const auto &[Key, Names] : ByKey)
        EXPECT_EQ(Names.size(), 1) << "Alt+" << QString(Key).toStdString() << " is taken by "
                                   << Names.join(QStringLiteral(", ")).toStdString();

    // Captionless buttons say what they do to a screen reader and the mouse.
    for (auto *B : Window->findChildren<QAbstractButton *>()) {
        if (!InView(B, Window) || InsideCompound(B, Window) || !B->text().isEmpty()) continue;
        EXPECT_FALSE(B->accessibleName().isEmpty()) << NameOf(B).toStdString();
        EXPECT_FALSE(B->toolTip().isEmpty()) << NameOf(B).toStdString();
    }

    // Alt+letter: a button is pressed (its signals are held back so that
    // nothing runs), a label moves the focus to its input.
    Activate(Window);
    std::vector<QAbstractButton *> Held;
    for (auto *B : Window->findChildren<QAbstractButton *>())
        if (!B->signalsBlocked()) {
            B->blockSignals(true);
            Held.push_back(B);
        }
    for (const TCarrier &C : All) {
        if (!C.W->isVisible() || !C.Target->isVisible() || !C.Target->isEnabled()) continue;
        SCOPED_TRACE(C.Text.toStdString());
        const QChar Key = Mnemonic(C.Text).first;
        if (Key.isNull()) continue;
        // The focus elsewhere first, for a label to move it.
        if (qobject_cast<QLabel *>(C.W)) {
            for (QWidget *Stop : TabStops(Window))
                if (Control(Stop, Window) != C.Target) {
                    Stop->setFocus();
                    break;
                }
        }
        QTest::keyClick(Window, Key.toLatin1(), Qt::AltModifier);
        if (auto *B = qobject_cast<QAbstractButton *>(C.W)) {
            EXPECT_TRUE(B->isDown()) << NameOf(B).toStdString() << " not pressed";
        } else {
            QWidget *Focus = QApplication::focusWidget();
            EXPECT_TRUE(Focus && Control(Focus, Window) == C.Target)
                << NameOf(C.W).toStdString() << " led to "
                << (Focus ? NameOf(Focus).toStdString() : std::string("nothing"));
        }
    }
    // The pressed buttons come up again (after their short animation).
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (auto *B : Held)
                if (B->isDown()) return false;
            return true;
        },
        5000));
    for (auto *B : Held) B->blockSignals(false);
    EXPECT_TRUE(Window->isVisible());
}

// Tab from the first control around to it again: every enabled control is
// visited once, in reading order (top to bottom; left to right along a row).
void CheckTabOrder(QWidget *Window, const QString &View) {
    SCOPED_TRACE(View.toStdString());
    Activate(Window);
    const std::vector<QWidget *> Stops = TabStops(Window);
    ASSERT_FALSE(Stops.empty());
    if (Stops.size() == 1) {  // nowhere to go (in the About box every key closes it)
        EXPECT_EQ(QApplication::focusWidget(), Stops.front());
        return;
    }
    auto Pos = [&](QWidget *W) { return W->mapTo(Window, QPoint(0, 0)); };
    // Rows: tops within half the height of the smaller control.
    auto SameRow = [&](QWidget *A, QWidget *B) {
        return std::abs(Pos(A).y() - Pos(B).y()) <= std::min(A->height(), B->height()) / 2;
    };
    QWidget *First = Stops.front();
    for (QWidget *W : Stops)
        if (SameRow(W, First) ? Pos(W).x() < Pos(First).x() : Pos(W).y() < Pos(First).y())
            First = W;
    First->setFocus(Qt::TabFocusReason);
    std::vector<QWidget *> Visited;
    for (int I = 0; I < 64; ++I) {
        QWidget *Focus = QApplication::focusWidget();
        ASSERT_NE(Focus, nullptr);
        Focus = Control(Focus, Window);
        if (!Visited.empty() && Focus == Visited.front()) break;
        Visited.push_back(Focus);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QStringList Order;
    for (QWidget *W : Visited) Order << NameOf(W);
    const std::string Walk = Order.join(QStringLiteral(" > ")).toStdString();
    for (QWidget *W : Stops)
        EXPECT_EQ(std::count(Visited.begin(), Visited.end(), W), 1)
            << NameOf(W).toStdString() << " in " << Walk;
    // A control further on lies lower, or on the same row further right.
    for (size_t I = 1; I < Visited.size(); ++I) {
        const QPoint A = Pos(Visited[I - 1]), B = Pos(Visited[I]);
        EXPECT_TRUE(SameRow(Visited[I - 1], Visited[I]) ? B.x() > A.x() : B.y() > A.y())
            << NameOf(Visited[I - 1]).toStdString() << " at " << A.x() << "," << A.y() << " then "
            << NameOf(Visited[I]).toStdString() << " at " << B.x() << "," << B.y() << " in "
            << Walk;
    }
}

struct TView {
    QString Name;
    std::function<void()> Show;
};

void CheckWindow(QWidget *Window, const std::vector<TView> &Views) {
    for (const TView &V : Views) {
        V.Show();
        QApplication::processEvents();
        CheckMnemonics(Window, V.Name);
        CheckTabOrder(Window, V.Name);
    }
    Window->hide();
}

void CheckAllWindows(const char *Language) {
    SCOPED_TRACE(Language);
    TMsgRecorder Msgs;
    TMainForm Main;
    CheckWindow(&Main, {{QStringLiteral("main window"), [] {}}});

    {
        TFWUpdateForm Wizard(Settings, &Main);
        auto *Pages = Child<QStackedWidget>(&Wizard, "Notebook1");
        auto *Next = Child<QPushButton>(&Wizard, "btnNext");
        const QString NextText = Next->text();
        std::vector<TView> Views;
        for (int I = 0; I < Pages->count(); ++I)
            Views.push_back(
                {QStringLiteral("wizard page %1").arg(I + 1), [=] {
                     Pages->setCurrentIndex(I);
                     // Page 3's Next is the Update button.
                     Next->setText(I == 2 ? QCoreApplication::translate("TFWUpdateForm", "&Update")
                                          : NextText);
                 }});
        CheckWindow(&Wizard, Views);
        // The port list says what it is.
        auto *Ports = Child<QComboBox>(&Wizard, "cbCOMPort");
        EXPECT_FALSE(Ports->accessibleName().isEmpty());
        EXPECT_FALSE(Ports->toolTip().isEmpty());
    }
    {
        TDevSetupForm Setup(Settings, &Main);
        auto *Tabs = Child<QTabWidget>(&Setup, "PageControl1");
        std::vector<TView> Views;
        for (int I = 0; I < Tabs->count(); ++I)
            Views.push_back(
                {QStringLiteral("setup tab %1").arg(I + 1), [=] { Tabs->setCurrentIndex(I); }});
        CheckWindow(&Setup, Views);
    }
    {
        TStationForm Station(Settings, &Main, std::string());
        CheckWindow(&Station, {{QStringLiteral("station window"), [] {}}});
        THistoryForm History(Settings, &Main);
        CheckWindow(&History, {{QStringLiteral("history window"), [] {}}});
    }
    {
        TAboutForm About(&Main);
        About.SetSettingsFile(QStringLiteral("none"));
        CheckWindow(&About, {{QStringLiteral("about box"), [] {}}});
    }
    EXPECT_TRUE(Msgs.Take().empty());
}

class MnemonicTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortQuery([](std::vector<TComListData> &) {});
    }
    void TearDown() override { SetPortQuery({}); }
};

TEST_F(MnemonicTest, EveryWindowWorksByKeyboardInEnglish) {
    CheckAllWindows("English");
}

TEST_F(MnemonicTest, EveryWindowWorksByKeyboardInGerman) {
    TGerman German;
    CheckAllWindows("German");
}

}  // namespace
