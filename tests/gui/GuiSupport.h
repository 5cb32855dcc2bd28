#pragma once
// Helpers of the window tests: an answering message presenter, waiting on
// the event loop, finding widgets by object name.

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <ostream>
#include <vector>

#include "widgets/MsgBox.h"

// Readable failure messages for texts.
inline void PrintTo(const QString &S, std::ostream *Os) {
    *Os << '"' << S.toStdString() << '"';
}

struct TShownMsg {
    TMsgKind Kind;
    QString Title;
    QString Msg;
};

// Records every box and answers Yes/No questions from a queue (No when the
// queue is empty). Restores the real boxes when it goes.
class TMsgRecorder {
public:
    TMsgRecorder();
    ~TMsgRecorder();
    std::vector<TShownMsg> Shown;
    std::deque<int> Answers;
    // Texts of the boxes shown so far, then forgets them.
    std::vector<QString> Take();
};

// Serves the event loop until Done() or TimeoutMs has passed.
bool WaitUntil(const std::function<bool()> &Done, int TimeoutMs = 20000);

// Runs Action from the event loop as soon as a modal window is open, with
// that window; then the caller's exec() continues.
void OnModal(std::function<void(QWidget *)> Action);

// A caption as it reads, without its mnemonic marks ("&Next >" reads
// "Next >", "&&" reads "&").
inline QString Plain(const QString &Caption) {
    QString Out;
    for (qsizetype I = 0; I < Caption.size(); ++I) {
        if (Caption[I] == QLatin1Char('&') && ++I == Caption.size()) break;
        Out += Caption[I];
    }
    return Out;
}

template <class T>
T *Child(QWidget *Parent, const char *Name) {
    T *W = Parent->findChild<T *>(QString::fromLatin1(Name));
    EXPECT_NE(W, nullptr) << "no widget named " << Name;
    return W;
}

// Folder of the screenshots (in the build folder; created on demand).
QString ScreenshotDir();
void SaveScreenshot(QWidget *W, const QString &Name);
