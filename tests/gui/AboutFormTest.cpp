// The About box: which clicks and keys close it, and the two links.

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <functional>
#include <string>

#include "GuiSupport.h"
#include "app/AboutForm.h"
#include "widgets/WindowHelpers.h"

namespace {

// Receives what the links hand to the desktop.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    TUrlCatcher() {
        for (const char *Scheme : {"mailto", "https", "http"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(Scheme), this, "Open");
    }
    ~TUrlCatcher() override {
        for (const char *Scheme : {"mailto", "https", "http"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(Scheme));
    }
    QList<QUrl> Opened;
public slots:
    void Open(const QUrl &Url) { Opened.append(Url); }
};

std::unique_ptr<TAboutForm> ShownAbout() {
    auto About = std::make_unique<TAboutForm>();
    About->SetIdentity(QStringLiteral("Veldra-Update"), QStringLiteral("v2.0.0.5"), AppIcon());
    About->show();
    QApplication::processEvents();
    return About;
}

TEST(AboutForm, ClicksCloseItExceptOnTheLinks) {
    const std::pair<const char *, bool> Rows[] = {
        {"imgICO", true},      {"lblName", true}, {"lblVersion", true}, {"Label2", true},
        {"Label9", true},      {"Label10", true}, {"Label11", true},    {"Label16", true},
        {"Label6", true},      {"Panel1", true},  {"lblEMail", false},  {"lblURL", false},
        {"lblSettings", true},
    };
    TUrlCatcher Urls;
    for (auto [Name, Closes] : Rows) {
        SCOPED_TRACE(Name);
        auto About = ShownAbout();
        QWidget *W = Child<QWidget>(About.get(), Name);
        ASSERT_NE(W, nullptr);
        QTest::mouseClick(W, Qt::LeftButton, {}, QPoint(2, 2));
        EXPECT_EQ(About->isVisible(), !Closes);
    }
    ASSERT_EQ(Urls.Opened.size(), 2);
    EXPECT_EQ(Urls.Opened[0].scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(Urls.Opened[0].path(), QStringLiteral("service@veldra-sensors.example"));
    EXPECT_EQ(Urls.Opened[1].host(), QStringLiteral("www.veldra-sensors.example"));
}

TEST(AboutForm, AnyKeyClosesIt) {
    for (Qt::Key Key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_A, Qt::Key_F1, Qt::Key_Space}) {
        auto About = ShownAbout();
        QTest::keyClick(About.get(), Key);
        EXPECT_FALSE(About->isVisible()) << Key;
    }
}

// The Close button, by mouse, by its letter, and Escape or Space while it
// has the focus (where the box opens it).
TEST(AboutForm, CloseButtonClosesIt) {
    const std::pair<const char *, std::function<void(QWidget *)>> Ways[] = {
        {"click", [](QWidget *B) { QTest::mouseClick(B, Qt::LeftButton); }},
        {"Alt+C", [](QWidget *B) { QTest::keyClick(B->window(), Qt::Key_C, Qt::AltModifier); }},
        {"Escape", [](QWidget *B) { QTest::keyClick(B, Qt::Key_Escape); }},
        {"Space", [](QWidget *B) { QTest::keyClick(B, Qt::Key_Space); }},
    };
    for (const auto &[Way, Press] : Ways) {
        SCOPED_TRACE(Way);
        auto About = ShownAbout();
        About->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(About.get()));
        auto *Close = Child<QPushButton>(About.get(), "btnClose");
        ASSERT_NE(Close, nullptr);
        EXPECT_EQ(Plain(Close->text()), QStringLiteral("Close"));
        EXPECT_EQ(About->focusWidget(), Close);
        int Clicks = 0;
        QObject::connect(Close, &QPushButton::clicked, [&] { ++Clicks; });
        Press(Close);
        EXPECT_TRUE(WaitUntil([&] { return !About->isVisible(); }, 5000));
        EXPECT_EQ(Clicks, std::string(Way) == "Escape" ? 0 : 1);
    }
}

// A modifier alone is the start of a combination, not yet a key.
TEST(AboutForm, ModifierAloneKeepsItOpen) {
    for (Qt::Key Key : {Qt::Key_Alt, Qt::Key_Shift, Qt::Key_Control}) {
        auto About = ShownAbout();
        QTest::keyPress(About.get(), Key);
        QTest::keyRelease(About.get(), Key);
        EXPECT_TRUE(About->isVisible()) << Key;
    }
}

TEST(AboutForm, LayoutAndLinkLook) {
    auto About = ShownAbout();
    EXPECT_EQ(About->size(), QSize(487, 224));
    EXPECT_EQ(Child<QWidget>(About.get(), "lblName")->pos(), QPoint(48, 11));
    EXPECT_EQ(Child<QWidget>(About.get(), "Bevel1")->geometry().width(), 441);
    for (const char *Link : {"lblEMail", "lblURL"}) {
        auto *L = Child<QLabel>(About.get(), Link);
        EXPECT_TRUE(L->font().underline());
        EXPECT_EQ(L->palette().color(QPalette::WindowText), QColor(45, 150, 255));
        EXPECT_EQ(L->cursor().shape(), Qt::PointingHandCursor);
    }
    SaveScreenshot(About.get(), QStringLiteral("about"));
}

}  // namespace

#include "AboutFormTest.moc"
