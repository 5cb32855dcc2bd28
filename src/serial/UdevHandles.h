#pragma once
// libudev handles that drop their reference when they go out of scope.

#include <libudev.h>

#include <memory>

struct TUdevDeleter {
    void operator()(udev *P) const { udev_unref(P); }
    void operator()(udev_enumerate *P) const { udev_enumerate_unref(P); }
    void operator()(udev_device *P) const { udev_device_unref(P); }
    void operator()(udev_monitor *P) const { udev_monitor_unref(P); }
};

using TUdevPtr = std::unique_ptr<udev, TUdevDeleter>;
using TUdevEnumeratePtr = std::unique_ptr<udev_enumerate, TUdevDeleter>;
using TUdevDevicePtr = std::unique_ptr<udev_device, TUdevDeleter>;
using TUdevMonitorPtr = std::unique_ptr<udev_monitor, TUdevDeleter>;
