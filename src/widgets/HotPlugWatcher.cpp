#include "widgets/HotPlugWatcher.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include "serial/HotPlug.h"

THotPlugWatcher::THotPlugWatcher(QObject *Window, std::function<void()> Reload)
    : QObject(Window), FReload(std::move(Reload)) {
    FRegistered = RegisterPortNotification();
    const int Fd = FRegistered ? PortNotificationFd() : -1;
    if (Fd >= 0) {
        FNotifier = new QSocketNotifier(Fd, QSocketNotifier::Read, this);
        connect(FNotifier, &QSocketNotifier::activated, this, &THotPlugWatcher::Activated);
    }
}

THotPlugWatcher::~THotPlugWatcher() {
    delete FNotifier;
    FNotifier = nullptr;
    if (FRegistered) UnregisterPortNotification();
}

void THotPlugWatcher::Activated() {
    if (DrainPortNotifications() != TPortChange::None) PostReload();
}

void THotPlugWatcher::PostReload() {
    // Queued on the window's thread: the reload runs from the event queue,
    // after this notification has returned (or inside a running upload's
    // progress report, which serves the queue).
    // The watcher is the context: a reload still queued when the window
    // (and with it the watcher) goes away is dropped.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (FReload) FReload();
        },
        Qt::QueuedConnection);
}
