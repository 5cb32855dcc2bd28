#include "widgets/JobWindow.h"

#include <QCoreApplication>
#include <string>
#include <utility>

#include "jobs/PortProblem.h"
#include "serial/LineTypes.h"
#include "settings/Settings.h"
#include "widgets/ErrorBox.h"
#include "widgets/WindowHelpers.h"

QString Say(TJobText Text) {
    return QCoreApplication::translate("TJobText", JobText(Text));
}

QString Say(const TJobReason &Reason) {
    return QString::fromStdString(FillJobArgs(Say(Reason.Text).toStdString(), Reason.Args));
}

QString Say(const TPortAdvice &Advice) {
    QString Text = Say(Advice.Reason);
    if (!Advice.Remedy.Empty()) Text += QLatin1Char('\n') + Say(Advice.Remedy);
    return Text;
}

QString WithPortAdvice(const QString &First, const std::string &Port,
                       const std::optional<EComPort> &Error) {
    if (!Error) return First;
    return First + QStringLiteral("\n\n") + Say(AdvisePort(Port, PortProblemOf(*Error)));
}

TJobWindow::TJobWindow(QObject *Window, const TSettings *Catalogue, TLockStep Lock, TEndStep Ended)
    : FCatalogue(Catalogue), FLock(std::move(Lock)), FEnded(std::move(Ended)), FRunner(Window) {}

TJobWindow::~TJobWindow() {
    Wait();
}

const TSettings &TJobWindow::Catalogue() const {
    static const TSettings Empty{std::string()};
    return FCatalogue ? *FCatalogue : Empty;
}

void TJobWindow::RunJob(Qt::CursorShape Cursor, std::function<TJobRunner::TResultStep()> Work,
                        TJobRunner::TResultStep Failed) {
    FBusyCursor = std::make_unique<TWaitCursor>(Cursor);
    if (FLock) FLock(false);
    FRunner.Start(std::move(Work),
                  [this, Failed = std::move(Failed)](const TJobRunner::TResultStep &Step,
                                                     std::exception_ptr Error) {
                      // The normal cursor again before any box the result shows.
                      FBusyCursor.reset();
                      if (FLock) FLock(true);
                      // A job that raised has no result step: the window is put back as a
                      // failed result would leave it, then the error is shown.
                      if (Error && Failed) RunGuarded(Failed);
                      RunGuarded([&] {
                          if (Error) std::rethrow_exception(Error);
                          Step();
                      });
                      if (FEnded) FEnded();
                  });
}

void TJobWindow::Wait() {
    FRunner.Wait();
    FBusyCursor.reset();
}
