// Program entry: one copy per user, then the main window.

#include <QTimer>

#include "app/Application.h"
#include "app/InfoOptions.h"
#include "app/MainForm.h"
#include "app/SignalQuit.h"
#include "app/SingleInstance.h"

int main(int argc, char **argv) {
    // Help and version need no display, and no window opens for them.
    if (const auto Status = AnswerInfoOptions(argc, argv)) return *Status;
    TApplication App(argc, argv);
    // Another copy runs (it comes to the front): end without a window and
    // without a message. A guard that cannot be set up is reported on
    // standard error, and this copy starts anyway.
    QString GuardProblem;
    const QString GuardName = DefaultInstanceName(&GuardProblem);
    if (!CheckPrevInstance(GuardName, GuardProblem)) return 0;
    // SIGTERM, SIGHUP and SIGINT end the program in order (app/SignalQuit.h).
    TSignalQuit Quit;
    int Result = 0;
    {
        TMainForm Main;
        Main.show();
        // For start-up measurements: end as soon as the window has been
        // shown. exit(), not quit(): no close events, so no exit question.
        if (qEnvironmentVariableIsSet("VELDRA_QUIT_AFTER_SHOW"))
            QTimer::singleShot(0, &App, [] { TApplication::exit(0); });
        Result = TApplication::exec();
    }
    RemoveInstanceGuard();
    return Result;
}
