// The main window: controls, caption, the exit question, Settings and the
// tool windows it opens.

#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "GuiSupport.h"
#include "TempDir.h"
#include "app/AboutForm.h"
#include "app/MainForm.h"
#include "app/SingleInstance.h"
#include "devsetup/DevSetupForm.h"
#include "fwupdate/FWUpdateForm.h"
#include "fwupdate/StationForm.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"

namespace {

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortQuery([](std::vector<TComListData> &P) {
            P.push_back({"/dev/ttyFAKE1", "Fake (/dev/ttyFAKE1)"});
        });
    }
    void TearDown() override { SetPortQuery({}); }
    TMsgRecorder Msgs;
};

TEST_F(MainFormTest, ControlsCaptionAndSize) {
    ASSERT_EQ(Settings, nullptr);
    auto Main = std::make_unique<TMainForm>();
    EXPECT_NE(Settings, nullptr);  // created with the window
    EXPECT_EQ(Main->objectName(), QStringLiteral("MainForm"));
    EXPECT_EQ(Main->windowTitle(), QStringLiteral("Veldra-Update, v2.0.0.5"));
    EXPECT_EQ(Main->size(), QSize(491, 289));
    EXPECT_EQ(Main->minimumSize(), Main->maximumSize());  // not resizable

    struct TRow {
        const char *Name;
        const char *Text;
        QSize Size;
    };
    const TRow Buttons[] = {
        {"btnAbout", "About", {75, 25}},     {"btnExit", "Exit", {75, 25}},
        {"btnFWUpdate", "Update", {75, 25}}, {"btnSetup", "Setup", {75, 25}},
        {"btnStation", "Station", {75, 25}},
    };
    Main->show();
    for (const TRow &R : Buttons) {
        auto *B = Child<QPushButton>(Main.get(), R.Name);
        ASSERT_NE(B, nullptr);
        EXPECT_EQ(Plain(B->text()), QString::fromLatin1(R.Text)) << R.Name;
        EXPECT_EQ(B->size(), R.Size) << R.Name;
    }
    const std::pair<const char *, const char *> Labels[] = {
        {"Label1", "Update firmware"},
        {"Label2", "Click Update to upload a new firmware"},
        {"Label3", "Sensor setup"},
        {"Label4", "Click Setup to configure sensor parameters"},
    };
    for (auto [Name, Text] : Labels) {
        auto *L = Child<QLabel>(Main.get(), Name);
        ASSERT_NE(L, nullptr);
        EXPECT_EQ(L->text(), QString::fromLatin1(Text));
    }
    auto *Banner = Child<QLabel>(Main.get(), "Image1");
    ASSERT_NE(Banner, nullptr);
    EXPECT_EQ(Banner->pixmap().size(), QSize(290, 58));
    EXPECT_EQ(Child<QWidget>(Main.get(), "pnlBottom")->height(), 43);
    for (const char *Name : {"pnlTop", "GridPanel1", "pnlUpdFW", "pnlSetup"})
        EXPECT_NE(Child<QWidget>(Main.get(), Name), nullptr);

    Main.reset();
    EXPECT_EQ(Settings, nullptr);  // freed with the window
}

TEST_F(MainFormTest, PanelsAreWhiteCardsWithRoundedCorners) {
    TMainForm Main;
    Main.show();
    QApplication::processEvents();
    const QImage Shot = Main.grab().toImage();
    for (const char *Name : {"pnlTop", "pnlUpdFW", "pnlSetup", "pnlBottom"}) {
        SCOPED_TRACE(Name);
        QWidget *P = Child<QWidget>(&Main, Name);
        const QRect R(P->mapTo(&Main, QPoint(0, 0)), P->size());
        EXPECT_EQ(Shot.pixelColor(R.center()), QColor(Qt::white));
        EXPECT_EQ(Shot.pixelColor(R.left() + 10, R.top() + 1), QColor(Qt::white));
        // The corner pixel lies outside the 20-pixel ellipse: window colour.
        for (QPoint Corner : {R.topLeft(), R.topRight(), R.bottomLeft(), R.bottomRight()})
            EXPECT_NE(Shot.pixelColor(Corner), QColor(Qt::white))
                << Corner.x() << "," << Corner.y();
    }
}

TEST_F(MainFormTest, EveryWayOfClosingAsksBeforeExit) {
    struct TRow {
        const char *How;
        int Answer;
        bool Closed;
    };
    const TRow Rows[] = {
        {"exit button", mrNo, false},   {"exit button", mrYes, true},
        {"close request", mrNo, false}, {"close request", mrYes, true},
        {"close request", 2, false},  // dismissed: not a Yes
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(std::string(R.How) + " answered " + std::to_string(R.Answer));
        TMainForm Main;
        Main.show();
        Msgs.Answers.push_back(R.Answer);
        if (std::string(R.How) == "exit button")
            Child<QPushButton>(&Main, "btnExit")->click();
        else
            Main.close();  // title bar, system menu and Alt+F4 all end in a close event
        EXPECT_EQ(Main.isVisible(), !R.Closed);
        ASSERT_EQ(Msgs.Shown.size(), 1u);
        EXPECT_EQ(Msgs.Shown[0].Kind, TMsgKind::YesNo);
        EXPECT_EQ(Msgs.Shown[0].Msg, QStringLiteral("Are you sure you want to exit?"));
        Msgs.Shown.clear();
    }
}

TEST_F(MainFormTest, EachOpeningBuildsAFreshModalToolWindowAndFreesIt) {
    struct TRow {
        const char *Button;
        std::function<bool(QWidget *)> IsKind;
    };
    std::vector<TRow> Rows = {
        {"btnFWUpdate",
         [](QWidget *W) {
             auto *Wizard = qobject_cast<TFWUpdateForm *>(W);
             // Fresh: no connection, first page.
             return Wizard && !Wizard->IsConnected() && Wizard->PageIndex() == 0;
         }},
    };
    Rows.push_back(
        {"btnSetup", [](QWidget *W) { return qobject_cast<TDevSetupForm *>(W) != nullptr; }});
    Rows.push_back(
        {"btnStation", [](QWidget *W) { return qobject_cast<TStationForm *>(W) != nullptr; }});
    TMainForm Main;
    Main.show();
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Button);
        std::vector<QPointer<QWidget>> Seen;
        for (int Round = 0; Round < 2; ++Round) {
            OnModal([&](QWidget *W) {
                EXPECT_TRUE(R.IsKind(W));
                EXPECT_EQ(W->parentWidget(), &Main);
                EXPECT_EQ(Main.OpenToolWindow(), W);
                Seen.emplace_back(W);
                W->close();
            });
            Child<QPushButton>(&Main, R.Button)->click();
            EXPECT_EQ(Main.OpenToolWindow(), nullptr);
        }
        ASSERT_EQ(Seen.size(), 2u);
        EXPECT_TRUE(Seen[0].isNull());  // freed after its modal loop
        EXPECT_TRUE(Seen[1].isNull());
    }
    EXPECT_TRUE(Main.isVisible());
}

TEST_F(MainFormTest, AboutBoxShowsTitleVersionAndIcon) {
    TMainForm Main;
    Main.show();
    bool Checked = false;
    OnModal([&](QWidget *W) {
        auto *About = qobject_cast<TAboutForm *>(W);
        ASSERT_NE(About, nullptr);
        EXPECT_EQ(About->objectName(), QStringLiteral("AboutForm"));
        EXPECT_EQ(About->windowTitle(), QStringLiteral("About"));
        EXPECT_EQ(Child<QLabel>(W, "lblName")->text(), QStringLiteral("Veldra-Update"));
        EXPECT_EQ(Child<QLabel>(W, "lblVersion")->text(), QStringLiteral("v2.0.0.5"));
        EXPECT_FALSE(Child<QLabel>(W, "imgICO")->pixmap().isNull());
        Checked = true;
        QTest::keyClick(W, Qt::Key_Space);
    });
    Child<QPushButton>(&Main, "btnAbout")->click();
    EXPECT_TRUE(Checked);
    EXPECT_EQ(Main.OpenToolWindow(), nullptr);
}

// A settings file that could not be read: the About box names it and the
// reason, as a warning.
TEST_F(MainFormTest, AboutBoxWarnsOfAnUnreadableSettingsFile) {
    TTempDir Dir;
    ASSERT_EQ(::mkdir(Dir.File("veldra-update").c_str(), 0755), 0);
    const std::string File = Dir.Write("veldra-update/veldra-update.ini", "[SENSORS]\n7=X\n");
    ASSERT_EQ(::truncate(File.c_str(), 17 * 1024 * 1024), 0);
    const QByteArray Old = qgetenv("XDG_CONFIG_HOME");
    const bool Had = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Dir.Path()));
    {
        TMainForm Main;
        Main.show();
        ASSERT_NE(Settings, nullptr);
        EXPECT_TRUE(Settings->ReadFailed());
        bool Checked = false;
        OnModal([&](QWidget *W) {
            const QLabel *L = Child<QLabel>(W, "lblSettings");
            EXPECT_EQ(
                L->toolTip(),
                QStringLiteral("Settings: ") + QString::fromStdString(File) +
                    QStringLiteral(" (could not be read: larger than 16 MiB; defaults used)"));
            EXPECT_TRUE(L->text().endsWith(QStringLiteral("defaults used)")))
                << L->text().toStdString();
            EXPECT_NE(L->palette().color(QPalette::WindowText),
                      W->palette().color(QPalette::WindowText));
            Checked = true;
            QTest::keyClick(W, Qt::Key_Space);
        });
        Child<QPushButton>(&Main, "btnAbout")->click();
        EXPECT_TRUE(Checked);
    }
    if (Had)
        qputenv("XDG_CONFIG_HOME", Old);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

TEST_F(MainFormTest, SecondStartRestoresAMinimisedWindow) {
    TMainForm Main;
    Main.show();
    Main.showMinimized();
    ASSERT_TRUE(Main.isMinimized());
    BringInstanceToFront(&Main);
    EXPECT_FALSE(Main.isMinimized());
    EXPECT_TRUE(Main.isVisible());

    Main.hide();
    BringInstanceToFront(&Main);
    EXPECT_TRUE(Main.isVisible());
}

}  // namespace
