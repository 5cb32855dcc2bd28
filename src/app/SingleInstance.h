#pragma once
// One running copy per user. The first copy listens on a local socket that
// only its user may reach; a second copy finds it, asks it to come to the
// front and ends without a window. A socket left behind by a crashed copy is
// replaced, so it never blocks the next start.

#include <QString>
#include <functional>

class QWidget;

// The socket name: "Veldra-Update" in the user's runtime folder
// ($XDG_RUNTIME_DIR when it is ours and closed to others), otherwise in a
// folder "veldra-update-<uid>" of the temporary folder that is created
// with mode 0700 and must be ours with that mode. Empty when no such folder
// can be had; Problem then says why.
QString DefaultInstanceName(QString *Problem = nullptr);

// True when this process should go on: it is the first copy and now holds
// the guard, or the guard could not be set up (Name empty, a listener of
// another user, no socket), which is said on standard error with Problem or
// the reason found here. False when another copy of ours runs; it has been
// told to come to the front, and the caller ends silently. Connections are
// accepted from our own user only (SO_PEERCRED on both sides).
bool CheckPrevInstance(const QString &Name, const QString &Problem = QString());

// Called in the running copy when another one announces itself (none at
// start; the main window sets it). Runs from the event loop.
void SetInstanceNotify(std::function<void()> Handler);

// Restores Main (and any minimised tool window over it) when it is
// minimised or hidden, brings the active modal window or Main to the front
// and flashes Main once.
void BringInstanceToFront(QWidget *Main);

// Stops listening and removes the socket (at program end).
void RemoveInstanceGuard();
