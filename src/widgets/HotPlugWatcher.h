#pragma once
// Watches the hot-plug monitor for one window. When a serial port arrives or
// leaves it only posts a reload (a queued call of the given function on the
// window's event queue); the port list is never rebuilt inside the
// notification itself.

#include <QObject>
#include <functional>

class QSocketNotifier;

class THotPlugWatcher : public QObject {
    Q_OBJECT
public:
    // Registers for notifications (RegisterPortNotification) at once.
    // Reload runs later, from Window's event queue; the watcher is a child of
    // Window and unregisters when it is destroyed.
    THotPlugWatcher(QObject *Window, std::function<void()> Reload);
    ~THotPlugWatcher() override;

    bool Registered() const { return FRegistered; }
    // Queues one reload, as a port arrival does.
    void PostReload();

private:
    void Activated();

    std::function<void()> FReload;
    QSocketNotifier *FNotifier = nullptr;
    bool FRegistered = false;
};
