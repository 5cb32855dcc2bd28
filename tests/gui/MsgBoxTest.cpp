// The three message boxes, the presenter seam and the default error handler.

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <stdexcept>

#include "GuiSupport.h"
#include "widgets/ErrorBox.h"
#include "widgets/MsgBox.h"

namespace {

TEST(MsgBox, MessagesAreShownAsPlainText) {
    const QString Msg = QStringLiteral("Cannot open file \"<b>fw</b><img src=x>.cod\"");
    for (TMsgKind Kind : {TMsgKind::Error, TMsgKind::Info, TMsgKind::YesNo}) {
        auto Box = BuildMsgBox(Kind, AppTitle(), Msg);
        EXPECT_EQ(Box->textFormat(), Qt::PlainText);
        const auto Labels = Box->findChildren<QLabel *>();
        bool Found = false;
        for (QLabel *L : Labels) {
            if (L->text() != Msg) continue;
            Found = true;
            EXPECT_EQ(L->textFormat(), Qt::PlainText);
        }
        EXPECT_TRUE(Found);
    }
}

TEST(MsgBox, RealBoxesHaveTheirCaptionIconButtonsAndDefault) {
    struct TRow {
        TMsgKind Kind;
        const char *Caption;
        QMessageBox::Icon Icon;
        QMessageBox::StandardButtons Buttons;
        QMessageBox::StandardButton Default;
    };
    const TRow Rows[] = {
        {TMsgKind::Error, "Error", QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok},
        {TMsgKind::Info, "Information", QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok},
        {TMsgKind::YesNo, "Confirm", QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::Yes},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Caption);
        auto Box = BuildMsgBox(R.Kind, AppTitle(), QStringLiteral("The message"));
        EXPECT_EQ(Box->windowTitle(), QString::fromLatin1(R.Caption));
        EXPECT_EQ(Box->text(), QStringLiteral("Veldra-Update"));  // the main instruction
        EXPECT_EQ(Box->informativeText(), QStringLiteral("The message"));
        EXPECT_EQ(Box->icon(), R.Icon);
        EXPECT_EQ(Box->standardButtons(), R.Buttons);
        ASSERT_NE(Box->defaultButton(), nullptr);
        EXPECT_EQ(Box->standardButton(Box->defaultButton()), R.Default);
    }
    auto Ask = BuildMsgBox(TMsgKind::YesNo, AppTitle(), QStringLiteral("?"));
    EXPECT_EQ(Ask->button(QMessageBox::Yes)->text(), QStringLiteral("&Yes"));
    EXPECT_EQ(Ask->button(QMessageBox::No)->text(), QStringLiteral("&No"));
}

TEST(MsgBox, ButtonsGiveTheirResultCodes) {
    const std::pair<int, int> Rows[] = {
        {QMessageBox::Ok, 1},
        {QMessageBox::Yes, 6},
        {QMessageBox::No, 7},
        {QMessageBox::NoButton, 2},  // box closed without an answer: not a Yes
    };
    for (auto [Button, Code] : Rows) EXPECT_EQ(MsgResultFromButton(Button), Code) << Button;
}

TEST(MsgBox, RoutinesGoThroughThePresenterAndReturnTheirCodes) {
    struct TRow {
        const char *Name;
        std::function<int()> Call;
        int PresenterAnswer;
        TMsgKind Kind;
        int Result;
    };
    const TRow Rows[] = {
        {"error", [] { return ShowErrorMsg(AppTitle(), QStringLiteral("m")); }, 1, TMsgKind::Error,
         1},
        {"info", [] { return ShowInfoMsg(AppTitle(), QStringLiteral("m")); }, 1, TMsgKind::Info, 1},
        {"yes", [] { return AskYesNo(AppTitle(), QStringLiteral("m")); }, 6, TMsgKind::YesNo, 6},
        {"no", [] { return AskYesNo(AppTitle(), QStringLiteral("m")); }, 7, TMsgKind::YesNo, 7},
        // Escape or the title bar's close: anything but Yes reads as No.
        {"dismissed", [] { return AskYesNo(AppTitle(), QStringLiteral("m")); }, 2, TMsgKind::YesNo,
         7},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Name);
        TMsgRecorder Rec;
        Rec.Answers.push_back(R.PresenterAnswer);
        EXPECT_EQ(R.Call(), R.Result);
        ASSERT_EQ(Rec.Shown.size(), 1u);
        EXPECT_EQ(Rec.Shown[0].Kind, R.Kind);
        EXPECT_EQ(Rec.Shown[0].Title, QStringLiteral("Veldra-Update"));
        EXPECT_EQ(Rec.Shown[0].Msg, QStringLiteral("m"));
    }
    EXPECT_FALSE(HasMsgPresenter());
}

TEST(DefaultErrorHandler, FullStopRule) {
    const std::pair<const char *, const char *> Rows[] = {
        {"Port Disconnected", "Port Disconnected."},
        {"Cannot open port (error 13)", "Cannot open port (error 13)"},  // ')' is 41
        {"Already done.", "Already done."},                              // '.' is 46
        {"Code 25", "Code 25."},                                         // '5' is 53
        {"Trailing comma,", "Trailing comma,"},                          // ',' is 44
        {"", ""},
    };
    for (auto [In, Out] : Rows)
        EXPECT_EQ(ErrorMessageText(QString::fromLatin1(In)), QString::fromLatin1(Out)) << In;
}

// An object whose event handler fails like a port that was pulled out.
class TThrowingObject : public QObject {
public:
    bool event(QEvent *E) override {
        if (E->type() == QEvent::User) throw std::runtime_error("Port Disconnected");
        return QObject::event(E);
    }
};

TEST(DefaultErrorHandler, EscapedErrorIsShownAndTheLoopGoesOn) {
    TMsgRecorder Rec;
    TThrowingObject Obj;
    QCoreApplication::postEvent(&Obj, new QEvent(QEvent::User));
    bool After = false;
    QMetaObject::invokeMethod(
        &Obj, [&] { After = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(WaitUntil([&] { return After; }));
    ASSERT_EQ(Rec.Shown.size(), 1u);
    EXPECT_EQ(Rec.Shown[0].Kind, TMsgKind::Error);
    EXPECT_EQ(Rec.Shown[0].Title, QStringLiteral("Veldra-Update"));
    EXPECT_EQ(Rec.Shown[0].Msg, QStringLiteral("Port Disconnected."));

    // Sent (not posted) events take the same way.
    QEvent Direct(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&Obj, &Direct));
    EXPECT_EQ(Rec.Shown.size(), 2u);
}

TEST(DefaultErrorHandler, RunGuardedShowsTheErrorAndReportsIt) {
    TMsgRecorder Rec;
    EXPECT_TRUE(RunGuarded([] {}));
    EXPECT_FALSE(RunGuarded([] { throw std::runtime_error("Cannot open file (x)"); }));
    EXPECT_FALSE(RunGuarded([] { throw 42; }));
    struct TOddFault {};
    EXPECT_FALSE(RunGuarded([] { throw TOddFault{}; }));
    ASSERT_EQ(Rec.Shown.size(), 3u);
    EXPECT_EQ(Rec.Shown[0].Msg, QStringLiteral("Cannot open file (x)"));
    // Not an error with a text: its type says at least what was raised.
    EXPECT_EQ(Rec.Shown[1].Msg, QStringLiteral("Unknown error (exception of type int)"));
    EXPECT_TRUE(Rec.Shown[2].Msg.startsWith(QStringLiteral("Unknown error (exception of type ")))
        << Rec.Shown[2].Msg.toStdString();
    EXPECT_TRUE(Rec.Shown[2].Msg.contains(QStringLiteral("TOddFault")))
        << Rec.Shown[2].Msg.toStdString();
}

}  // namespace
