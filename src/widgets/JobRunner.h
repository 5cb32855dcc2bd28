#pragma once
// Runs a window's job on a worker thread, one job at a time. The job's
// progress and its result come back to the window's thread as queued calls,
// in the order the job sent them; the window's event loop keeps turning
// meanwhile. The window disables what could start a second action and
// leaves the job's objects (port, protocol) alone until it has ended.

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

class TJobRunner {
public:
    // What the window does with a job's result, on its own thread.
    using TResultStep = std::function<void()>;
    // Called on the window's thread when a job has ended: its result step,
    // or (Step empty) the exception it raised.
    using TDone = std::function<void(const TResultStep &Step, std::exception_ptr Error)>;

    explicit TJobRunner(QObject *Window) : FWindow(Window) {}
    ~TJobRunner() { Wait(); }
    TJobRunner(const TJobRunner &) = delete;
    TJobRunner &operator=(const TJobRunner &) = delete;

    bool Busy() const { return FThread != nullptr; }
    // Jobs of every runner whose work has not yet returned (the program's
    // orderly end after a signal waits for them).
    static int Running() { return FRunning.load(); }

    // Starts Work on a worker thread (only when none runs; false otherwise).
    // Work returns the step that shows its result.
    bool Start(std::function<TResultStep()> Work, TDone Done) {
        if (FThread) return false;
        auto Outcome = std::make_shared<TOutcome>();
        ++FRunning;
        FThread = QThread::create([Outcome, Work = std::move(Work)] {
            try {
                Outcome->Step = Work();
            } catch (...) {
                Outcome->Error = std::current_exception();
            }
            --FRunning;
        });
        QThread *Thread = FThread;
        // Queued: finished() comes from the worker, the window's context
        // object runs the rest on its own thread, after every progress call
        // the job posted before it ended.
        QObject::connect(
            Thread, &QThread::finished, FWindow,
            [this, Thread, Outcome, Done = std::move(Done)] {
                Thread->wait();
                Thread->deleteLater();
                if (FThread == Thread) FThread = nullptr;
                Done(Outcome->Step, Outcome->Error);
            },
            Qt::QueuedConnection);
        FThread->start();
        return true;
    }

    // From the worker: runs Step on the window's thread (progress reports).
    void Post(std::function<void()> Step) const {
        QMetaObject::invokeMethod(FWindow, std::move(Step), Qt::QueuedConnection);
    }

    // Blocks until the running job has ended; its result is dropped. Only
    // for a window that is going away (its queued calls go with it).
    void Wait() {
        if (!FThread) return;
        FThread->wait();
        FThread->deleteLater();
        FThread = nullptr;
    }

private:
    struct TOutcome {
        TResultStep Step;
        std::exception_ptr Error;
    };
    QObject *FWindow;
    QThread *FThread = nullptr;
    static inline std::atomic<int> FRunning{0};
};
