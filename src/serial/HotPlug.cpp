#include "serial/HotPlug.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/UdevHandles.h"

namespace {

struct TMonitorState {
    int Registrations = 0;
    TUdevPtr Udev;
    TUdevMonitorPtr Monitor;
};

TMonitorState &State() {
    static TMonitorState S;
    return S;
}

// Events processed by udevd arrive on the "udev" group once the device is
// ready; a machine without udevd only has the kernel's own events.
const char *EventSource() {
    return ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
}

TPortChange Merge(TPortChange Sum, TPortChange One) {
    if (Sum == TPortChange::None) return One;
    if (One == TPortChange::None || One == Sum) return Sum;
    return TPortChange::Both;
}

TPortChange ChangeOfAction(const char *Action) {
    if (!Action) return TPortChange::None;
    if (std::strcmp(Action, "add") == 0) return TPortChange::Arrived;
    if (std::strcmp(Action, "remove") == 0) return TPortChange::Removed;
    return TPortChange::None;
}

}  // namespace

bool RegisterPortNotification() {
    TMonitorState &S = State();
    if (S.Registrations > 0) {
        ++S.Registrations;
        return true;
    }
    TUdevPtr Udev(udev_new());
    if (!Udev) return false;
    TUdevMonitorPtr Monitor(udev_monitor_new_from_netlink(Udev.get(), EventSource()));
    if (!Monitor) return false;
    // Room for a burst of events (a hub with many adapters); best effort.
    udev_monitor_set_receive_buffer_size(Monitor.get(), 1024 * 1024);
    if (udev_monitor_filter_add_match_subsystem_devtype(Monitor.get(), "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(Monitor.get()) < 0)
        return false;
    const int Fd = udev_monitor_get_fd(Monitor.get());
    if (Fd < 0) return false;
    // Draining must never block.
    const int Flags = ::fcntl(Fd, F_GETFL);
    if (Flags < 0 || ::fcntl(Fd, F_SETFL, Flags | O_NONBLOCK) < 0) return false;
    S.Udev = std::move(Udev);
    S.Monitor = std::move(Monitor);
    S.Registrations = 1;
    return true;
}

bool UnregisterPortNotification() {
    TMonitorState &S = State();
    if (S.Registrations == 0) return true;
    if (--S.Registrations == 0) {
        S.Monitor.reset();
        S.Udev.reset();
    }
    return true;
}

int PortNotificationFd() {
    const TMonitorState &S = State();
    return S.Monitor ? udev_monitor_get_fd(S.Monitor.get()) : -1;
}

TPortChange DrainPortNotifications() {
    TMonitorState &S = State();
    if (!S.Monitor) return TPortChange::None;
    TPortChange Change = TPortChange::None;
    int Overflows = 0;
    // The descriptor is non-blocking: an empty queue ends the loop.
    for (;;) {
        errno = 0;
        if (TUdevDevicePtr Dev{udev_monitor_receive_device(S.Monitor.get())}) {
            Change = Merge(Change, ChangeOfAction(udev_device_get_action(Dev.get())));
            continue;
        }
        // The socket's queue overflowed and events were lost: say that ports
        // may have come and gone so that the lists are rebuilt, then go on
        // reading what is still queued.
        if (errno == ENOBUFS && ++Overflows <= 2) {
            Change = TPortChange::Both;
            continue;
        }
        return Change;
    }
}
