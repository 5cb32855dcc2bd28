#pragma once
// Hot-plug of serial ports: one process-wide udev monitor of tty devices
// being added or removed.
//
// Each window registers once when it is created and unregisters when it is
// destroyed; the monitor lives while at least one registration is held.
// A window watches PortNotificationFd() (e.g. with a QSocketNotifier on
// read), calls DrainPortNotifications() when it becomes readable and, when a
// port arrived or left, posts itself a reload of its port list. Nothing is
// rebuilt inside the notification itself.
//
// Register before enumerating so that nothing plugged in between is missed.
// Used from the user-interface thread only.

enum class TPortChange { None, Arrived, Removed, Both };

// True when the monitor runs (started now or already running). False when
// udev is not available; the reload button still works then.
bool RegisterPortNotification();

// Drops one registration; the last one stops the monitor. True when there was
// nothing to drop or dropping succeeded.
bool UnregisterPortNotification();

// Descriptor that becomes readable when events are pending, -1 when no
// monitor runs.
int PortNotificationFd();

// Reads every pending event and says whether a port arrived, left, or both.
// Never blocks.
TPortChange DrainPortNotifications();
