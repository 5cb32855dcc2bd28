#pragma once
// The windows' orderly end on SIGTERM, SIGHUP and SIGINT (a logout, a
// service manager, Ctrl+C in the terminal that started the program): the
// handler only writes the signal into a socket pair; a socket notifier reads
// it on the user-interface thread and asks the application to quit, without
// the exit question, once no job runs. A job still running after BoundMs is
// asked to stop (serial/Interrupt.h): it ends at its next wait and its
// objects close the port in order. The program then ends with 128 + the
// signal's number (143 for SIGTERM, 129 for SIGHUP, 130 for SIGINT).
//
// One object at a time; it restores the previous handlers when freed.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <csignal>

class QSocketNotifier;

class TSignalQuit : public QObject {
    Q_OBJECT
public:
    // How long a running job is given to end by itself.
    static constexpr int CDefaultBoundMs = 5000;

    explicit TSignalQuit(int BoundMs = CDefaultBoundMs, QObject *Parent = nullptr);
    ~TSignalQuit() override;
    TSignalQuit(const TSignalQuit &) = delete;
    TSignalQuit &operator=(const TSignalQuit &) = delete;

    // The signal being handled, 0 before one came.
    int Signal() const { return FSignal; }

private:
    void Received();
    void Check();

    int FBoundMs;
    int FSignal = 0;
    bool FStopAsked = false;
    QSocketNotifier *FNotifier = nullptr;
    QTimer FPoll;
    QElapsedTimer FSince;
    struct sigaction FOld[3]{};
};
