#include "GuiSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

TMsgRecorder::TMsgRecorder() {
    SetMsgPresenter([this](TMsgKind Kind, const QString &Title, const QString &Msg) -> int {
        Shown.push_back({Kind, Title, Msg});
        if (Kind != TMsgKind::YesNo) return mrOk;
        if (Answers.empty()) return mrNo;
        const int A = Answers.front();
        Answers.pop_front();
        return A;
    });
}

TMsgRecorder::~TMsgRecorder() {
    SetMsgPresenter({});
}

std::vector<QString> TMsgRecorder::Take() {
    std::vector<QString> Texts;
    for (const TShownMsg &M : Shown) Texts.push_back(M.Msg);
    Shown.clear();
    return Texts;
}

bool WaitUntil(const std::function<bool()> &Done, int TimeoutMs) {
    QElapsedTimer T;
    T.start();
    while (!Done()) {
        if (T.elapsed() > TimeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void OnModal(std::function<void(QWidget *)> Action) {
    auto *Timer = new QTimer;
    Timer->setInterval(10);
    QObject::connect(Timer, &QTimer::timeout, Timer, [Timer, Action] {
        if (QWidget *M = QApplication::activeModalWidget()) {
            Timer->stop();
            Timer->deleteLater();
            Action(M);
        }
    });
    Timer->start();
}

QString ScreenshotDir() {
    const QString Dir = QStringLiteral(VELDRA_BINARY_DIR "/screenshots");
    QDir().mkpath(Dir);
    return Dir;
}

void SaveScreenshot(QWidget *W, const QString &Name) {
    const QPixmap Shot = W->grab();
    EXPECT_FALSE(Shot.isNull());
    EXPECT_TRUE(Shot.save(ScreenshotDir() + QLatin1Char('/') + Name + QStringLiteral(".png")));
}
