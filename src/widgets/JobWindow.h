#pragma once
// What a tool window needs to run its jobs (jobs/): one job at a time on a
// worker thread (TJobRunner), the busy cursor while it runs, the window's
// controls locked meanwhile, the jobs' texts in the user's language, and
// the sensor catalogue the window was opened with.
//
// The window gives two steps of its own: which controls a running job
// locks, and what follows every job's end (a close or a reload that had to
// wait, its JobFinished signal).

#include <QString>
#include <Qt>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "jobs/JobTexts.h"
#include "widgets/JobRunner.h"

class EComPort;
class QObject;
class TSettings;
struct TPortAdvice;
class TWaitCursor;

// A text of the jobs in the user's language.
QString Say(TJobText Text);
// A reason of the jobs in the user's language: the text translated, then
// its arguments filled in.
QString Say(const TJobReason &Reason);
// Why a port could not be used and what to do, in the user's language: the
// reason, and the remedy on a line of its own.
QString Say(const TPortAdvice &Advice);
// A box's text: First and, when Error says why Port could not be used, a
// paragraph with the reason and the remedy.
QString WithPortAdvice(const QString &First, const std::string &Port,
                       const std::optional<EComPort> &Error);

class TJobWindow {
public:
    // Locks (false) or frees (true) the controls that could start a second
    // action.
    using TLockStep = std::function<void(bool Enabled)>;
    // Runs on the window's thread after a job's result has been shown.
    using TEndStep = std::function<void()>;

    // Catalogue: the program's sensor catalogue, or nullptr while none
    // exists (then every ID shows as unknown). It outlives the window.
    TJobWindow(QObject *Window, const TSettings *Catalogue, TLockStep Lock, TEndStep Ended);
    ~TJobWindow();
    TJobWindow(const TJobWindow &) = delete;
    TJobWindow &operator=(const TJobWindow &) = delete;

    const TSettings &Catalogue() const;

    bool Busy() const { return FRunner.Busy(); }
    // From the worker: runs Step on the window's thread (progress reports).
    void Post(std::function<void()> Step) const { FRunner.Post(std::move(Step)); }

    // Runs Work on the worker thread under the given cursor, the controls
    // locked; Work returns what shows its result. At the end the cursor is
    // the normal one again and the controls are free before any box the
    // result shows. When Work raises instead, Failed (if given) puts the
    // window back as a failed result would, and the error is shown.
    void RunJob(Qt::CursorShape Cursor, std::function<TJobRunner::TResultStep()> Work,
                TJobRunner::TResultStep Failed = {});

    // For a window that is going away: waits for the running job (its
    // result is dropped) and gives the cursor back.
    void Wait();

private:
    const TSettings *FCatalogue;
    TLockStep FLock;
    TEndStep FEnded;
    std::unique_ptr<TWaitCursor> FBusyCursor;
    TJobRunner FRunner;
};
