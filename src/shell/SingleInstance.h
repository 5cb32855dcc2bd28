#pragma once
// One running copy per user. The first copy listens on a local socket that
// only its user may reach; a second copy finds it, asks it to come to the
// front and ends without a window. A socket left behind by a crashed copy is
// replaced, so it never blocks the next start.

#include <QString>
#include <functional>

class QWidget;

// The socket name: "Veldra-Update" in the user's runtime folder
// ($XDG_RUNTIME_DIR, or Qt's private fallback for it), otherwise
// "Veldra-Update-<uid>" in the temporary folder.
QString DefaultInstanceName();

// True when this process is the first copy and now holds the guard. False
// when another copy runs (it has been told to come to the front) or the guard
// could not be installed; the caller then ends silently.
bool CheckPrevInstance(const QString &Name);

// Called in the running copy when another one announces itself (none at
// start; the main window sets it). Runs from the event loop.
void SetInstanceNotify(std::function<void()> Handler);

// Restores Main (and any minimised tool window over it) when it is
// minimised or hidden, brings the active modal window or Main to the front
// and flashes Main once.
void BringInstanceToFront(QWidget *Main);

// Stops listening and removes the socket (at program end).
void RemoveInstanceGuard();
