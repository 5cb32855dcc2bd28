// What the desktop makes of the windows: the titles it shows, where the main
// window opens, how wide a message box is.

#include <qpa/qplatformwindow.h>

#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QWindow>
#include <functional>
#include <memory>

#include "GuiSupport.h"
#include "app/AboutForm.h"
#include "app/MainForm.h"
#include "devsetup/DevSetupForm.h"
#include "fwupdate/FWUpdateForm.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"
#include "widgets/WindowHelpers.h"

namespace {

// The title an X11 or Wayland window manager receives for a window title:
// the platform plugins pass it through this routine of Qt's (the offscreen
// plugin keeps no titles, so the routine is asked directly).
struct TPlatformTitle : QPlatformWindow {
    static QString Of(const QString &Title) {
        return formatWindowTitle(Title, QString::fromUtf8(" \u2014 "));
    }
};

QString ShownTitle(QWidget *W) {
    EXPECT_NE(W->windowHandle(), nullptr);
    return W->windowHandle() ? TPlatformTitle::Of(W->windowHandle()->title()) : QString();
}

class WindowLookTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortQuery([](std::vector<TComListData> &P) {
            P.push_back({"/dev/ttyFAKE1", "Fake (/dev/ttyFAKE1)"});
        });
    }
    void TearDown() override { SetPortQuery({}); }
    TMsgRecorder Msgs;
};

TEST_F(WindowLookTest, TitlesReachTheDesktopAsTheyAre) {
    TMainForm Main;  // creates Settings, which the tool windows read
    struct TRow {
        const char *Expected;
        std::function<std::unique_ptr<QWidget>()> Make;
    };
    const TRow Rows[] = {
        {"Veldra-Update, v2.0.0.5", [] { return std::unique_ptr<QWidget>(); }},
        {"Update firmware", [&] { return std::make_unique<TFWUpdateForm>(Settings, &Main); }},
        {"Setup", [&] { return std::make_unique<TDevSetupForm>(Settings, &Main); }},
        {"About", [&] { return std::make_unique<TAboutForm>(&Main); }},
        {"Error",
         [] { return std::unique_ptr<QWidget>(BuildMsgBox(TMsgKind::Error, AppTitle(), "x")); }},
        {"Information",
         [] { return std::unique_ptr<QWidget>(BuildMsgBox(TMsgKind::Info, AppTitle(), "x")); }},
        {"Confirm",
         [] { return std::unique_ptr<QWidget>(BuildMsgBox(TMsgKind::YesNo, AppTitle(), "x")); }},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Expected);
        std::unique_ptr<QWidget> Made = R.Make();
        QWidget *W = Made ? Made.get() : &Main;
        W->show();
        QApplication::processEvents();
        EXPECT_EQ(W->windowTitle(), QString::fromUtf8(R.Expected));
        EXPECT_EQ(ShownTitle(W), QString::fromUtf8(R.Expected));
        W->hide();
    }
}

TEST_F(WindowLookTest, MainWindowOpensInTheMiddleOfTheScreen) {
    TMainForm Main;
    Main.show();
    QApplication::processEvents();
    const QRect Screen = Main.screen()->availableGeometry();
    const QPoint Offset = Main.frameGeometry().center() - Screen.center();
    EXPECT_LE(Offset.manhattanLength(), 2) << Offset.x() << "," << Offset.y();
}

// Lines the message takes in a shown box, and the box's width.
struct TBoxLook {
    int Lines;
    int Width;
};

TBoxLook ShowBox(TMsgKind Kind, const QString &Msg) {
    auto Box = BuildMsgBox(Kind, AppTitle(), Msg);
    Box->show();
    QApplication::processEvents();
    auto *Text = Box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
    EXPECT_NE(Text, nullptr);
    if (!Text) return {0, 0};
    const int Height = Text->heightForWidth(Text->width());
    // The label's own margins come with every height: count the lines
    // beyond the first by the line spacing.
    const int OneLine = Text->heightForWidth(4000);
    const int Line = Text->fontMetrics().lineSpacing();
    return {1 + (Height - OneLine + Line / 2) / Line, Box->width()};
}

TEST_F(WindowLookTest, MessageBoxesKeepShortTextsOnOneLineAndWrapLongOnesReadably) {
    struct TRow {
        TMsgKind Kind;
        const char *Msg;
        int MaxLines;
    };
    const TRow Rows[] = {
        {TMsgKind::Error, "COM port not selected", 1},
        {TMsgKind::Error, "Unable to find sensor or sensor is not in bootloader mode", 1},
        {TMsgKind::Error, "The selected firmware does not match the connected device", 1},
        {TMsgKind::Info, "The changes will take effect after restart of the sensor.", 1},
        {TMsgKind::YesNo, "Are you sure you want to exit?", 1},
        {TMsgKind::YesNo,
         "The firmware version selected is older than the sensor version. Do you want to proceed "
         "with the update?",
         2},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Msg);
        const TBoxLook Look = ShowBox(R.Kind, QString::fromLatin1(R.Msg));
        EXPECT_GE(Look.Lines, 1);
        EXPECT_LE(Look.Lines, R.MaxLines);
        // Never a narrow column, never a box across the screen.
        EXPECT_GE(Look.Width, 300);
        EXPECT_LE(Look.Width, 640);
    }
}

}  // namespace

// The window and button icons come built in at the sizes the windows use,
// without an SVG icon engine (the program does not link Qt Svg).
TEST_F(WindowLookTest, IconsAreBuiltInAtEverySizeTheyAreShown) {
    const struct {
        const char *Name;
        QIcon Icon;
        std::vector<int> Sizes;
    } Rows[] = {
        {"application", AppIcon(), {16, 32, 48, 64, 128, 256}},
        {"reload", ReloadIcon(), {16, 32}},
    };
    for (const auto &R : Rows) {
        SCOPED_TRACE(R.Name);
        ASSERT_FALSE(R.Icon.isNull());
        for (int Size : R.Sizes) {
            const QPixmap Pixmap = R.Icon.pixmap(QSize(Size, Size));
            EXPECT_EQ(Pixmap.size(), QSize(Size, Size)) << Size;
            const QImage Image = Pixmap.toImage();
            bool Drawn = false;
            for (int Y = 0; Y < Image.height() && !Drawn; ++Y)
                for (int X = 0; X < Image.width() && !Drawn; ++X)
                    Drawn = qAlpha(Image.pixel(X, Y)) != 0;
            EXPECT_TRUE(Drawn) << Size;
        }
    }
}
